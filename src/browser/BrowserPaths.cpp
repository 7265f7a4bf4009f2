#include "BrowserPaths.h"

#include "Error.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <mutex>

#include <sys/stat.h>

namespace browserpaths {

std::optional<QString> refusal(const QString& name, const QString& verb)
{
    if (name.isEmpty())
        return QStringLiteral("An item without a name can't be ") + verb + QStringLiteral(".");
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0))) {
        QString shown = name;
        shown.replace(QChar(0), QChar(QChar::ReplacementCharacter));
        return QStringLiteral("“") + shown + QStringLiteral("” can't be ") + verb
               + QStringLiteral(": it isn't a usable file name.");
    }
    return std::nullopt;
}

QString newPrivateFolder()
{
    // A fresh name per call, so nothing there can be in the way.
    const QString folder = TempFolder::path() + QLatin1Char('/')
                           + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (!QDir().mkpath(folder))
        throw SystemError(QStringLiteral("Couldn't create the folder ") + folder + QStringLiteral("."));
    return folder;
}

bool existsLocally(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

qsizetype nameBytes(const QString& name)
{
    return QFile::encodeName(name).size();
}

QString cutToBytes(const QString& name, qsizetype limit)
{
    QString cut = name;
    while (!cut.isEmpty() && nameBytes(cut) > limit) {
        const bool pair = cut.size() >= 2 && cut.back().isLowSurrogate() && cut.at(cut.size() - 2).isHighSurrogate();
        cut.chop(pair ? 2 : 1);
    }
    return cut;
}

QString nameFromPhone(const QString& text, const QString& ending, const QString& fallback)
{
    QString name;
    name.reserve(text.size());
    for (const QChar c : text) {
        const bool control = c.category() == QChar::Other_Control || c == QChar::LineSeparator
                             || c == QChar::ParagraphSeparator
                             // Direction overrides could show the ending as another one.
                             || (c.unicode() >= 0x202A && c.unicode() <= 0x202E)
                             || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
        name.append(c == QLatin1Char('/') || control ? QLatin1Char('-') : c);
    }
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == QLatin1Char('.') || name.at(start).isSpace()))
        ++start;
    name = name.mid(start).trimmed();
    if (name.isEmpty())
        name = fallback;
    return cutToBytes(name, nameLimit - nameBytes(ending)).trimmed() + ending;
}

QString nameKey(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

QString temporaryName(const QString& name, bool ownToThisCopy)
{
    const QString prefix = QStringLiteral(".");
    QString suffix = QStringLiteral(".vantelorquist-copy");
    if (ownToThisCopy)
        suffix.prepend(QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(12));
    return prefix + cutToBytes(name, nameLimit - nameBytes(prefix + suffix)) + suffix;
}

bool isWorkingName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\..*\\.[0-9a-f]{12}\\.vantelorquist-copy$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(name).hasMatch();
}

namespace workingnames {
namespace {

struct Registry {
    std::mutex mutex;
    QHash<QString, int> held; // a name may be held twice while its copy hands it on
    QSet<QString> kept;
    QHash<QString, std::vector<Leftover>> left; // by phone
};

thread_local QString recordingFor;

Registry& registry()
{
    static Registry shared;
    return shared;
}

} // namespace

void hold(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ++r.held[name];
}

void release(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.held.find(name);
    if (found != r.held.end() && --*found <= 0)
        r.held.erase(found);
}

void keep(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.kept.insert(name);
}

bool isStale(const QString& name)
{
    if (!isWorkingName(name))
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return !r.held.contains(name) && !r.kept.contains(name);
}

bool isHidden(const QString& name)
{
    if (!isWorkingName(name))
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return !r.kept.contains(name);
}

void leave(const QString& phone, const Leftover& item)
{
    if (phone.isEmpty() || !isWorkingName(item.path.mid(item.path.lastIndexOf(QLatin1Char('/')) + 1)))
        return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<Leftover>& items = r.left[phone];
    if (std::none_of(items.begin(), items.end(), [&](const Leftover& had) { return had.path == item.path; }))
        items.push_back(item);
}

std::vector<Leftover> takeLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.left.take(phone);
}

void unkeep(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.kept.remove(name);
}

bool hasLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.left.contains(phone);
}

RecordingLeftovers::RecordingLeftovers(const QString& phone) : m_previous(recordingFor)
{
    recordingFor = phone;
}

RecordingLeftovers::~RecordingLeftovers()
{
    recordingFor = m_previous;
}

void RecordingLeftovers::record(const QString& path, const QString& replacing)
{
    leave(recordingFor, {path, replacing});
}

} // namespace workingnames

} // namespace browserpaths
