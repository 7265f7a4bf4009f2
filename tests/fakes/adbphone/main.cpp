// fakeadbphone: a pretend Android phone that the real adb tool connects to
// with "adb connect 127.0.0.1:PORT". Prints the port it listens on.

#include "Phone.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

void usage(FILE* out)
{
    std::fputs("usage: fakeadbphone --storage DIR [--port N] [--replies FILE] [--control DIR]\n"
               "                    [--product P] [--model M] [--device D] [--unauthorized]\n"
               "                    [--log FILE] [--parent-pid PID] [--mirror-test-card]\n"
               "                    [--toolbox PROGRAM] [--no-shell-protocol]\n"
               "\n"
               "Listens on 127.0.0.1 (port 0: any free port) and prints the port. Then:\n"
               "  adb connect 127.0.0.1:PORT\n"
               "The phone's shell commands run in Debian's mksh over DIR, seen as /sdcard.\n"
               "--replies FILE  a JSON object: command text -> {\"out\", \"err\", \"status\"}\n"
               "--control DIR   replies.json and knobs.json are re-read when they change;\n"
               "                received.log gets every command (\".\" and base64, one a line)\n"
               "--toolbox PROGRAM  a multi-call program (toybox, busybox) runs the file tools\n"
               "--no-shell-protocol  as Android 6 and older: no shell exit status, standard\n"
               "                error within standard output\n",
               out);
}

QByteArray absolute(const char* path)
{
    char* resolved = ::realpath(path, nullptr);
    if (!resolved)
        return {};
    QByteArray result(resolved);
    std::free(resolved);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    adbphone::PhoneConfig config;
    QByteArray storage;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "fakeadbphone: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--port")
            config.port = static_cast<uint16_t>(std::atoi(value()));
        else if (arg == "--storage")
            storage = value();
        else if (arg == "--control") {
            const char* folder = value();
            ::mkdir(folder, 0700);
            config.controlDir = absolute(folder);
        }
        else if (arg == "--replies")
            config.repliesFile = absolute(value());
        else if (arg == "--product")
            config.identity.product = value();
        else if (arg == "--model")
            config.identity.model = value();
        else if (arg == "--device")
            config.identity.device = value();
        else if (arg == "--unauthorized")
            config.authorized = false;
        else if (arg == "--log")
            config.logFile = value();
        else if (arg == "--parent-pid")
            config.parentPid = static_cast<pid_t>(std::atol(value()));
        else if (arg == "--mirror-test-card")
            config.mirrorTestCard = true;
        else if (arg == "--toolbox")
            config.toolbox = value();
        else if (arg == "--no-shell-protocol")
            config.shellProtocol = false;
        else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "fakeadbphone: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (storage.isEmpty()) {
        usage(stderr);
        return 2;
    }
    ::mkdir(storage.constData(), 0755);
    config.storage = absolute(storage.constData());
    if (config.storage.isEmpty()) {
        std::fprintf(stderr, "fakeadbphone: no storage folder %s: %s\n", storage.constData(), std::strerror(errno));
        return 2;
    }

    // The shell builds its root on a folder of ours: inside the control
    // folder when there is one, otherwise a fresh one in the temporary folder.
    QByteArray ownMountPoint;
    if (!config.controlDir.isEmpty()) {
        config.mountPoint = config.controlDir + "/root";
        ::mkdir(config.mountPoint.constData(), 0755);
    } else {
        const char* tmp = std::getenv("TMPDIR");
        QByteArray pattern = QByteArray(tmp && *tmp ? tmp : "/tmp") + "/fakeadbphone-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::fprintf(stderr, "fakeadbphone: couldn't create a folder in %s: %s\n", tmp ? tmp : "/tmp",
                         std::strerror(errno));
            return 2;
        }
        config.mountPoint = ownMountPoint = pattern;
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        adbphone::Phone phone(config);
        const QString problem = phone.checkShell();
        QString error;
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "fakeadbphone: the phone's shell can't run here (a private mount namespace is "
                                 "needed): %s\n",
                         problem.toLocal8Bit().constData());
            status = 3;
        } else if (!phone.listen(&error)) {
            std::fprintf(stderr, "fakeadbphone: %s\n", error.toLocal8Bit().constData());
            status = 2;
        } else {
            std::printf("%u\n", static_cast<unsigned>(phone.port()));
            std::fflush(stdout);
            status = phone.run(g_stop);
        }
    }
    if (!ownMountPoint.isEmpty())
        ::rmdir(ownMountPoint.constData());
    return status;
}
