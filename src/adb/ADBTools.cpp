#include "ADBTools.h"

#include "ADBParsing.h"

#include <future>
#include <stop_token>

namespace {

QStringList shell(const QString& serial, const QString& command)
{
    return {QStringLiteral("-s"), serial, QStringLiteral("shell"), command};
}

const QString dumpCommand =
    QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");

} // namespace

std::vector<InstalledApp> ADB::apps(const QString& serial, const Cancel& cancel) const
{
    // The three commands run at once; the caller's cancellation and our own
    // give-up after a failed list both end them through one stop source.
    std::stop_source stop;
    std::stop_callback forward(cancel.token(), [&stop] { stop.request_stop(); });
    const Cancel inner(stop.get_token());
    auto start = [this, &serial, &inner](const QString& command) {
        return std::async(std::launch::async,
                          [this, args = shell(serial, command), inner] { return run(args, inner); });
    };
    auto full = start(QStringLiteral("pm list packages"));
    auto added = start(QStringLiteral("pm list packages -3"));
    auto dump = start(dumpCommand);

    QString addedText;
    QString fullText;
    try {
        addedText = added.get();
        fullText = full.get();
    } catch (...) {
        // The futures still pending wait for their (now terminated) adb.
        stop.request_stop();
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

void ADB::launch(const QString& serial, const QString& package, const Cancel& cancel) const
{
    const QString answer = run(
        shell(serial, QStringLiteral("monkey -p ") + quote(package) + QStringLiteral(" -c android.intent.category.LAUNCHER 1")),
        cancel);
    if (answer.contains(QLatin1StringView("No activities found")))
        throw ADBError::failed(QStringLiteral("This app has nothing to open."));
}

void ADB::forceStop(const QString& serial, const QString& package, const Cancel& cancel) const
{
    run(shell(serial, QStringLiteral("am force-stop ") + quote(package)), cancel);
}

void ADB::clearData(const QString& serial, const QString& package, const Cancel& cancel) const
{
    // The package manager reports a failure with status 0.
    const QString answer = run(shell(serial, QStringLiteral("pm clear ") + quote(package)), cancel);
    if (!answer.contains(QLatin1StringView("Success")))
        throw ADBError::failed(clean(answer));
}

void ADB::uninstall(const QString& serial, const QString& package, const Cancel& cancel) const
{
    // adb's own command: the name is an argument, not shell text.
    const QString answer = run({QStringLiteral("-s"), serial, QStringLiteral("uninstall"), package}, cancel);
    if (!answer.contains(QLatin1StringView("Success")))
        throw ADBError::failed(clean(answer));
}

void ADB::showAppInfo(const QString& serial, const QString& package, const Cancel& cancel) const
{
    run(shell(serial, QStringLiteral("am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:")
                          + quote(package)),
        cancel);
}

QSet<QString> ADB::pids(const QString& serial, const QString& package, const Cancel& cancel) const
{
    QString answer;
    try {
        answer = run(shell(serial, QStringLiteral("pidof ") + quote(package)), cancel);
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
