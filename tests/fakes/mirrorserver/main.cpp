// fakemirrorserver: the mirroring server as the stub adb's shell runs it.
// Listens on 127.0.0.1 at --port and serves one mirroring session:
//
//   fakemirrorserver --port N [--record FILE] [--commands FIFO] [--fps N] [--size WxH]
//                    [--scenario NAME] [--close-first K] [--print LINE]... [--test-card] COMMAND
//
// The record FILE gets every control byte, and FILE.sent the number of
// pictures sent once the video ends. COMMAND is the server's start command; "audio=true" in it opens the audio
// stream. Scenarios: normal, silent, exit (print the lines, exit 1), h265,
// huge, end-midway, corrupt, deaf (the control stream is read only after
// "listen"), exit-after-start (the process ends once the
// streams are connected while a child of it goes on serving them), and
// servers that exit at a step of the start: exit-refusing (closes its
// listener, sends the dummy byte, exits), exit-unnamed (exits once the streams
// are connected), exit-h265 (sends the stream's head with "h265", exits).
// Lines written to the commands FIFO send device messages:
// "clipboard TEXT", "ack", "uhid", and "listen"; "reset-control" drops the
// control stream with a reset while the picture goes on.

#include "FakeMirrorServer.h"
#include "MirrorStreamWriter.h"

#include <QByteArray>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int listenOn(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        std::perror("fakemirrorserver: listen");
        std::exit(2);
    }
    return fd;
}

int acceptOne(int listener)
{
    int fd;
    do {
        fd = ::accept(listener, nullptr, nullptr);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        std::exit(3);
    return fd;
}

void readCommands(const std::string& path, FakeMirrorServer& server)
{
    // Opened for writing too, so that the end of one writer is not our end.
    FILE* fifo = std::fopen(path.c_str(), "r+");
    if (!fifo)
        return;
    char line[65536];
    while (std::fgets(line, sizeof line, fifo)) {
        QByteArray command(line);
        if (command.endsWith('\n'))
            command.chop(1);
        if (command.startsWith("clipboard "))
            server.sendDeviceMessage(mirrorstream::clipboard(command.mid(10)));
        else if (command == "ack")
            server.sendDeviceMessage(mirrorstream::clipboardAcknowledgement(7));
        else if (command == "listen")
            server.listen();
        else if (command == "reset-control")
            server.resetControl();
        else if (command == "uhid")
            server.sendDeviceMessage(mirrorstream::uhidOutput(1, "hello"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    int port = 0, closeFirst = 0;
    std::string record, commands, scenarioName = "normal", command;
    std::vector<std::string> lines;
    FakeMirrorServer::Scenario scenario;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--port")
            port = std::stoi(value());
        else if (arg == "--record")
            record = value();
        else if (arg == "--commands")
            commands = value();
        else if (arg == "--size")
            std::sscanf(value().c_str(), "%dx%d", &scenario.width, &scenario.height);
        else if (arg == "--fps")
            scenario.framesPerSecond = std::stoi(value());
        else if (arg == "--scenario")
            scenarioName = value();
        else if (arg == "--close-first")
            closeFirst = std::stoi(value());
        else if (arg == "--print")
            lines.push_back(value());
        else if (arg == "--test-card")
            scenario.testCard = true;
        else
            command = arg;
    }
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (scenarioName == "exit")
        return 1;
    scenario.silent = scenarioName == "silent";
    scenario.hugeLength = scenarioName == "huge";
    scenario.endMidway = scenarioName == "end-midway";
    scenario.corruptPicture = scenarioName == "corrupt";
    scenario.deaf = scenarioName == "deaf";
    if (scenarioName == "h265")
        scenario.codec = "h265";
    const bool audio = command.find("audio=true") != std::string::npos;

    const int listener = listenOn(port);
    int video;
    while (true) {
        video = acceptOne(listener);
        if (closeFirst-- <= 0)
            break;
        ::close(video);
    }
    if (scenarioName == "exit-refusing") { // nobody takes the next connections
        ::close(listener);
        mirrorstream::writeAll(video, QByteArray(1, '\0'));
        return 1;
    }
    // The first stream carries the dummy byte; audio and control follow once it is read.
    if (!scenario.silent && !mirrorstream::writeAll(video, QByteArray(1, '\0')))
        return 4;
    const int audioFd = audio && !scenario.silent ? acceptOne(listener) : -1;
    const int control = !scenario.silent ? acceptOne(listener) : -1;
    ::close(listener);
    if (scenarioName == "exit-unnamed")
        return 1;
    if (scenarioName == "exit-h265") {
        QByteArray head("fake phone");
        head.resize(64, '\0');
        mirrorstream::writeAll(video, head + "h265");
        return 1;
    }
    if (scenarioName == "exit-after-start") {
        if (::fork() != 0) {
            ::sleep(1); // long after the client has read the stream's head
            return 0;   // the server's process ends; its child keeps the streams
        }
    }

    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &terminate, nullptr); // taken by the thread below
    const int recordFd = record.empty() ? -1 : ::open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    FakeMirrorServer server(scenario, [recordFd](const QByteArray& bytes) {
        if (recordFd >= 0 && ::write(recordFd, bytes.constData(), size_t(bytes.size())) < 0)
            std::perror("fakemirrorserver: record");
    });
    server.serveVideo(video, false);
    if (audioFd >= 0)
        server.serveAudio(audioFd);
    if (control >= 0)
        server.serveControl(control);
    if (!commands.empty())
        std::thread([&] { readCommands(commands, server); }).detach();
    // How many pictures went out, for benchmarks; the client ends us with SIGTERM.
    auto writeSent = [&] {
        if (record.empty())
            return;
        QFile sent(QString::fromStdString(record + ".sent"));
        if (sent.open(QIODevice::WriteOnly))
            sent.write(QByteArray::number(server.picturesSent()));
    };
    std::thread([&] {
        int signal = 0;
        sigwait(&terminate, &signal);
        writeSent();
        ::_exit(0);
    }).detach();
    server.waitForVideoEnd();
    writeSent();
    std::fflush(stdout);
    ::_exit(0); // the commands reader may still block on its FIFO
}
