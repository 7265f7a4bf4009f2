#include "ADBTools.h"

#include "ADBParsing.h"

#include "WorkerPool.h"

#include <future>
#include <memory>
#include <stop_token>

namespace {

const QString dumpCommand =
    QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");

// adb's own app commands answer a dropped connection with status 0 and no
// word: the phone may or may not have done it.
[[noreturn]] void noAnswer(const ADB& adb, const QString& serial, const Cancel& cancel)
{
    try {
        adb.run({QStringLiteral("-s"), serial, QStringLiteral("get-state")}, cancel);
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception&) {
        throw ADBError::failed(ADB::phoneLeftSentence());
    }
    throw ADBError::failed(ADB::answerLostSentence());
}

} // namespace

std::vector<InstalledApp> ADB::apps(const QString& serial, const Cancel& cancel) const
{
    // The three commands run at once on the worker pool; the caller's
    // cancellation and our own give-up after a failed list end them through
    // one stop source.
    std::stop_source stop;
    std::stop_callback forward(cancel.token(), [&stop] { stop.request_stop(); });
    auto start = [this, &serial, &stop](const QString& command) {
        auto answer = std::make_shared<std::promise<QString>>();
        std::future<QString> result = answer->get_future();
        WorkerPool::shared().start(
            [adb = *this, serial, command, answer](std::stop_token token) {
                try {
                    answer->set_value(adb.shell(serial, command, Cancel(std::move(token))));
                } catch (...) {
                    answer->set_exception(std::current_exception());
                }
            },
            stop);
        return result;
    };
    std::future<QString> commands[3];
    // Leaves nothing running behind a failure.
    const auto stopAll = [&] {
        stop.request_stop();
        for (auto& command : commands) {
            if (command.valid())
                command.wait();
        }
    };
    try {
        commands[0] = start(QStringLiteral("pm list packages"));
        commands[1] = start(QStringLiteral("pm list packages -3"));
        commands[2] = start(dumpCommand);
    } catch (...) {
        // No thread for the rest: what did start ends with the failure.
        stopAll();
        throw;
    }
    auto& [full, added, dump] = commands;

    QString addedText;
    QString fullText;
    try {
        addedText = added.get();
        fullText = full.get();
    } catch (...) {
        stopAll();
        throw;
    }
    QString dumpText;
    try {
        dumpText = dump.get();
    } catch (...) {
        // Versions and dates are extras: the list stands without them.
    }
    return adbparse::apps(fullText, addedText, dumpText);
}

QStringList ADB::packageNames(const QString& output)
{
    QStringList result;
    for (const QString& raw : adbparse::lines(output)) {
        const QString line = adbparse::trimBlanks(raw);
        if (line.startsWith(QLatin1StringView("package:")))
            result << line.mid(8);
    }
    return result;
}

void ADB::launch(const QString& serial, const QString& package, const Cancel& cancel) const
{
    // Monkey's answer whatever its status: it ends with one of its own
    // (-4) when the app has nothing to open.
    const ShellAnswer answer =
        shellAnswer(serial, QStringLiteral("monkey -p ") + quote(package) + QStringLiteral(" -c android.intent.category.LAUNCHER 1"),
                    cancel);
    if ((answer.out + answer.err).contains("No activities found"))
        throw ADBError::failed(QStringLiteral("This app has nothing to open."));
    if (answer.status != 0)
        throw ADBError::failed(clean(QString::fromUtf8(answer.err.isEmpty() ? answer.out : answer.err)));
}

void ADB::forceStop(const QString& serial, const QString& package, const Cancel& cancel) const
{
    shell(serial, QStringLiteral("am force-stop ") + quote(package), cancel);
}

void ADB::clearData(const QString& serial, const QString& package, const Cancel& cancel) const
{
    // The package manager reports a failure with status 0.
    const QString answer = shell(serial, QStringLiteral("pm clear ") + quote(package), cancel);
    if (!answer.contains(QLatin1StringView("Success")))
        throw ADBError::failed(clean(answer));
}

void ADB::uninstall(const QString& serial, const QString& package, const Cancel& cancel) const
{
    // adb's own command: the name is an argument, not shell text.
    const QString answer = run({QStringLiteral("-s"), serial, QStringLiteral("uninstall"), package}, cancel);
    if (answer.trimmed().isEmpty())
        noAnswer(*this, serial, cancel);
    if (!answer.contains(QLatin1StringView("Success")))
        throw ADBError::failed(clean(answer));
}

void ADB::showAppInfo(const QString& serial, const QString& package, const Cancel& cancel) const
{
    shell(serial, QStringLiteral("am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:") + quote(package),
          cancel);
}

QSet<QString> ADB::pids(const QString& serial, const QString& package, const Cancel& cancel) const
{
    QString answer;
    try {
        answer = shell(serial, QStringLiteral("pidof ") + quote(package), cancel);
    } catch (const Error&) {
        return {};
    }
    QSet<QString> result;
    qsizetype i = 0;
    while (i < answer.size()) {
        while (i < answer.size() && answer.at(i).isSpace())
            ++i;
        const qsizetype begin = i;
        while (i < answer.size() && !answer.at(i).isSpace())
            ++i;
        if (i > begin)
            result.insert(answer.mid(begin, i - begin));
    }
    return result;
}
