#include "LogcatModel.h"

#include "ADBStream.h"
#include "BrowserPaths.h"
#include "Error.h"
#include "OwnedDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>

#include <algorithm>
#include <mutex>

// The stream calls back on its own thread, also after the model is gone; the
// inbox hands each call to the model on the GUI thread while it exists.
struct LogcatModel::Inbox {
    std::mutex mutex;
    LogcatModel* model = nullptr;

    // deliver(model) runs on the GUI thread, unless the model is gone by then.
    void post(std::function<void(LogcatModel*)> deliver)
    {
        std::lock_guard lock(mutex);
        if (model) {
            QMetaObject::invokeMethod(
                model, [target = model, deliver = std::move(deliver)] { deliver(target); }, Qt::QueuedConnection);
        }
    }
};

namespace {

// A package as the user typed it, without the spaces and tabs around it.
QString trimmedPackage(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [&](qsizetype i) { return text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t'); };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<QString> askWithDialog(const QString& suggestedName)
{
    // In the home folder, not wherever the process was started.
    const OwnedDialog dialog(new QFileDialog(QApplication::activeWindow(), QString(), QDir::homePath()));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QStringLiteral("Text files (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->selectFile(suggestedName);
    if (!dialog.accepted() || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().first();
}

void warnWithAlert(const QString& title, const QString& text)
{
    // The text names the chosen file: plain, never markup.
    const OwnedDialog box(
        new QMessageBox(QMessageBox::Warning, title, QString(), QMessageBox::Ok, QApplication::activeWindow()));
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->exec();
}

} // namespace

LogcatModel::LogcatModel(ADB adb, QString serial, QString name, QObject* parent)
    : QObject(parent),
      m_adb(std::move(adb)),
      m_serial(std::move(serial)),
      m_name(std::move(name)),
      m_prompts {askWithDialog, warnWithAlert},
      m_inbox(std::make_shared<Inbox>())
{
    m_inbox->model = this;
    connect(&m_pidPoll, &QTimer::timeout, this, [this] { refreshPids(true); });
}

LogcatModel::~LogcatModel()
{
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->model = nullptr;
    }
    // Nobody reads the answers any more; no adb is left behind for them.
    for (Lookup& lookup : m_lookups)
        lookup.task.cancel();
}

void LogcatModel::setPrompts(Prompts prompts)
{
    if (prompts.askSaveFile)
        m_prompts.askSaveFile = std::move(prompts.askSaveFile);
    if (prompts.warn)
        m_prompts.warn = std::move(prompts.warn);
}

void LogcatModel::start()
{
    if (m_stream)
        return;
    m_endedBecause.reset();
    setEnded(false);
    const quint64 generation = ++m_generation;
    std::shared_ptr<Inbox> inbox = m_inbox;
    auto onLines = [inbox, generation](const QStringList& batch) {
        inbox->post([generation, batch](LogcatModel* model) {
            // A batch of an earlier stream never joins a newer one's.
            if (generation == model->m_generation)
                model->receive(batch);
        });
    };
    auto onExit = [inbox, generation](const ADBStream::End& end) {
        // adb ended by someone else's signal is told; the phone going, or
        // our own stop, is the ended state alone.
        std::optional<QString> because;
        if (end.stoppedFromOutside())
            because = ADBError::stopped().description();
        inbox->post([generation, because](LogcatModel* model) {
            if (generation != model->m_generation)
                return;
            model->m_stream.reset();
            model->m_endedBecause = because;
            model->setEnded(true);
        });
    };
    try {
        m_stream = std::make_unique<ADBStream>(
            m_adb,
            QStringList {QStringLiteral("-s"), m_serial, QStringLiteral("logcat"), QStringLiteral("-v"),
                         QStringLiteral("threadtime"), QStringLiteral("-T"), QStringLiteral("1000")},
            std::move(onLines), std::move(onExit));
    } catch (const Error&) {
        // Nothing runs, so nothing will ever arrive: the log reads as ended
        // rather than as a live log that stays silent.
        setEnded(true);
    }
    m_pidPoll.start(m_timing.pidPoll);
    refreshPids(true);
}

void LogcatModel::stop()
{
    m_stream.reset(); // terminates a process that still runs
    m_pidPoll.stop();
    for (Lookup& lookup : m_lookups)
        lookup.task.cancel();
}

void LogcatModel::receive(const QStringList& batch)
{
    if (m_paused)
        return;
    m_buffer += batch;
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(m_timing.flush, this, &LogcatModel::flush);
}

void LogcatModel::flush()
{
    m_flushScheduled = false;
    QList<LogLine> fresh;
    fresh.reserve(m_buffer.size());
    for (const QString& raw : std::as_const(m_buffer)) {
        if (std::optional<LogLine> line = LogLine::parse(m_nextID, raw)) {
            fresh.append(std::move(*line));
            ++m_nextID;
        }
    }
    m_buffer.clear();
    // What the cap would take away at once is never listed.
    if (fresh.size() > kCap)
        fresh.remove(0, fresh.size() - kCap);

    // The cap trims before the new records land, and every change is
    // announced while the rows it touches can still be read: a view asks
    // about the rows it is told are going.
    qsizetype removed = 0;
    const qsizetype excess = m_lines.size() + fresh.size() - kCap;
    if (excess > 0) {
        const int64_t firstKept = excess < m_lines.size() ? m_lines.at(excess).id : fresh.first().id;
        removed = std::lower_bound(m_shown.cbegin(), m_shown.cend(), firstKept) - m_shown.cbegin();
        if (removed > 0)
            Q_EMIT shownAboutToBeRemoved(removed);
        m_lines.remove(0, excess);
        m_shown.remove(0, removed);
        if (removed > 0)
            Q_EMIT shownRemoved(removed);
    }

    QList<int64_t> passing;
    for (const LogLine& line : std::as_const(fresh)) {
        if (passes(line))
            passing.append(line.id);
    }
    const qsizetype appended = passing.size();
    if (appended > 0)
        Q_EMIT shownAboutToBeAppended(appended);
    m_lines.append(std::move(fresh));
    m_shown.append(std::move(passing));
    if (appended > 0)
        Q_EMIT shownAppended(appended);
    Q_EMIT linesChanged();
    Q_EMIT shownUpdated(removed, appended);
}

bool LogcatModel::passes(const LogLine& line, LogLine::Level minimumLevel, const std::optional<QSet<QString>>& pids,
                         const QString& search)
{
    return line.level >= minimumLevel && (!pids || pids->contains(line.pid)) &&
           (search.isEmpty() || line.raw.contains(search, Qt::CaseInsensitive));
}

void LogcatModel::recomputeShown()
{
    Q_EMIT shownAboutToBeReset();
    m_shown.clear();
    for (const LogLine& line : std::as_const(m_lines)) {
        if (passes(line))
            m_shown.append(line.id);
    }
    Q_EMIT shownReset();
}

QList<LogLine> LogcatModel::shown() const
{
    QList<LogLine> result;
    result.reserve(m_shown.size());
    for (qsizetype row = 0; row < m_shown.size(); ++row)
        result.append(shownAt(row));
    return result;
}

void LogcatModel::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    Q_EMIT pausedChanged();
}

void LogcatModel::setMinimumLevel(LogLine::Level level)
{
    if (level == m_minimumLevel)
        return;
    m_minimumLevel = level;
    Q_EMIT minimumLevelChanged();
    recomputeShown();
}

void LogcatModel::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    Q_EMIT searchChanged();
    recomputeShown();
}

void LogcatModel::setPackage(const QString& package)
{
    if (package != m_package) {
        m_package = package;
        Q_EMIT packageChanged();
    }
    refreshPids(false);
}

void LogcatModel::setAppPids(const std::optional<QSet<QString>>& pids)
{
    if (pids == m_appPids)
        return;
    m_appPids = pids;
    Q_EMIT appPidsChanged();
    recomputeShown();
}

void LogcatModel::setEnded(bool ended)
{
    if (ended == m_ended)
        return;
    m_ended = ended;
    Q_EMIT endedChanged();
}

void LogcatModel::refreshPids(bool fromPoll)
{
    const QString package = trimmedPackage(m_package);
    // A newer text makes the answers still awaited worthless; their adb ends.
    if (!fromPoll) {
        for (Lookup& lookup : m_lookups)
            lookup.task.cancel();
    }
    if (package.isEmpty()) {
        setAppPids(std::nullopt);
        return;
    }
    // A phone that hangs must not pile up adb processes: the poll waits for
    // the lookup of the same text that still runs.
    if (fromPoll) {
        for (const Lookup& lookup : std::as_const(m_lookups)) {
            if (lookup.package == package)
                return;
        }
    }
    const quint64 key = m_nextLookup++;
    Task task = Task::run(
        this,
        [adb = m_adb, serial = m_serial, package](const Cancel& cancel) { return adb.pids(serial, package, cancel); },
        [this, key, package](QSet<QString> pids) {
            const Lookup lookup = m_lookups.take(key);
            // A late answer for a text no longer typed is dropped.
            if (!lookup.task.isCancelled() && trimmedPackage(m_package) == package)
                setAppPids(pids);
        },
        [this, key](const std::exception_ptr&) { m_lookups.remove(key); });
    m_lookups.insert(key, Lookup {std::move(task), package});
}

void LogcatModel::clear()
{
    const qsizetype count = m_shown.size();
    const bool hadLines = !m_lines.isEmpty();
    if (count > 0)
        Q_EMIT shownAboutToBeRemoved(count);
    m_lines.clear();
    m_shown.clear();
    if (count > 0)
        Q_EMIT shownRemoved(count);
    if (hadLines)
        Q_EMIT linesChanged();
    if (count > 0)
        Q_EMIT shownUpdated(count, 0);
    Task::run(
        this,
        [adb = m_adb, serial = m_serial](const Cancel& cancel) {
            adb.run({QStringLiteral("-s"), serial, QStringLiteral("logcat"), QStringLiteral("-c")}, cancel);
        },
        [] {}, [](const std::exception_ptr&) {});
}

void LogcatModel::save()
{
    // What is saved is what was shown when the person asked to save it.
    QStringList raws;
    raws.reserve(m_shown.size());
    for (qsizetype row = 0; row < m_shown.size(); ++row)
        raws.append(shownAt(row).raw);
    // The window may let go of the model while the panel is open (its phone
    // went); the question and the warning, copies, outlive it.
    const auto askSaveFile = m_prompts.askSaveFile;
    const auto warn = m_prompts.warn;
    const std::optional<QString> path = askSaveFile(browserpaths::nameFromPhone(m_name, QStringLiteral(" logcat.txt")));
    if (!path || path->isEmpty())
        return;
    const QByteArray text = raws.join(QLatin1Char('\n')).toUtf8();
    const QString target = *path;
    Task::run(
        QCoreApplication::instance(),
        [target, text](const Cancel&) {
            QSaveFile file(target);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
                throw SystemError(file.errorString());
        },
        [] {},
        [warn, target](const std::exception_ptr& error) {
            try {
                std::rethrow_exception(error);
            } catch (const Error& e) {
                warn(QStringLiteral("Couldn’t save the log"),
                     QStringLiteral("“%1” couldn’t be written: %2").arg(target, e.description()));
            } catch (...) {
            }
        });
}
