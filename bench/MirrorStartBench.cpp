// Screen mirroring from start to picture: the time from start() to the first
// frame through the stub adb and through the real adb with the fake phone,
// with the connection attempts it took; then ten seconds of 1080 x 1920 at
// 60 frames per second through the whole path to the display surface.

#include "BenchSupport.h"
#include "FakePhoneHarness.h"
#include "MirrorConnection.h"
#include "MirrorSession.h"
#include "StubAdb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <condition_variable>
#include <cstdio>
#include <mutex>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Start {
    double seconds = 0;
    int attempts = 0;
};

// One connection from start() to its first frame.
Start firstFrame(const ADB& adb, const QString& serial, MirrorConnection::Options options)
{
    std::mutex lock;
    std::condition_variable shown;
    bool first = false;
    auto connection = MirrorConnection::create(adb, serial, false, [&](const MirrorConnection::Event& event) {
        if (std::holds_alternative<MirrorConnection::Event::Frame>(event.value)) {
            std::lock_guard guard(lock);
            first = true;
            shown.notify_all();
        }
    }, std::move(options));
    const auto began = Clock::now();
    Start result;
    try {
        connection->start(Cancel());
        std::unique_lock guard(lock);
        shown.wait_for(guard, 10s, [&] { return first; });
        result.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    } catch (const Error& error) {
        std::printf("  failed: %s\n", error.what());
    }
    result.attempts = connection->connectionAttempts();
    connection->stop();
    return result;
}

void report(const char* road, const std::vector<Start>& starts)
{
    std::vector<double> seconds;
    for (const Start& s : starts)
        seconds.push_back(s.seconds * 1000);
    std::printf("%-34s median %6.1f ms (best %6.1f ms), attempts per start:", road, bench::median(seconds),
                *std::min_element(seconds.begin(), seconds.end()));
    for (const Start& s : starts)
        std::printf(" %d", s.attempts);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int runs = 7;

    {
        StubAdb stub;
        std::vector<Start> starts;
        for (int i = 0; i < runs; ++i) {
            starts.push_back(firstFrame(stub.adb(), QStringLiteral("S1"), stub.options()));
            std::this_thread::sleep_for(300ms); // the previous server lets go of the port
        }
        report("start to first frame, stub adb:", starts);
    }
    {
        FakePhoneHarness phone;
        QString error;
        if (!phone.start(&error)) {
            std::printf("the fake phone did not start: %s\n", qPrintable(error));
        } else {
            QTemporaryDir folder;
            QFile standIn(folder.filePath(QStringLiteral("scrcpy-server")));
            if (standIn.open(QIODevice::WriteOnly))
                standIn.write(QByteArray(64 * 1024, 'j'));
            standIn.close();
            MirrorConnection::Options options;
            options.serverCandidates = {standIn.fileName()};
            std::vector<Start> starts;
            for (int i = 0; i < runs; ++i)
                starts.push_back(firstFrame(ADB(phone.adbPath()), phone.serial(), options));
            report("start to first frame, real adb:", starts);
        }
    }

    // Ten seconds of 1080p60 through the session, the decoder and the surface.
    StubAdb stub({.framesPerSecond = 60, .width = 1080, .height = 1920});
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("mirrorSound"), false);
    MirrorSession session(stub.adb(), QStringLiteral("S1"), QStringLiteral("Bench"), &settings);
    session.setConnectionOptions(stub.options());
    int shown = 0;
    QObject::connect(&session, &MirrorSession::framesPerSecondChanged, [&] { shown += session.framesPerSecond(); });
    session.start();
    QElapsedTimer waited;
    waited.start();
    while (session.phase().kind() == MirrorSession::Phase::Kind::connecting && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (session.phase().kind() != MirrorSession::Phase::Kind::streaming) {
        std::printf("1080p60: did not stream (%s)\n", qPrintable(session.phase().message()));
        return 1;
    }
    shown = 0;
    const double cpu = bench::cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = double(timer.elapsed()) / 1000;
    const double cpuPerSecond = (bench::cpuSeconds() - cpu) / seconds;
    session.stop();
    const double serving = double(waited.elapsed()) / 1000; // the server's whole time
    QFile sentFile(stub.path(QStringLiteral("control.sent")));
    while (sentFile.size() == 0 && timer.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    int sent = 0;
    if (sentFile.open(QIODevice::ReadOnly))
        sent = sentFile.readAll().toInt();
    std::printf("1080p60 for 10 s, stub adb:         %.1f frames shown per second against %.1f sent per second "
                "(the server's encoder is the limit when these are close); this process's CPU: %.2f s per second\n",
                shown / seconds, sent / serving, cpuPerSecond);
    return 0;
}
