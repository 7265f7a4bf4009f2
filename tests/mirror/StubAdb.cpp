#include "StubAdb.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;


QStringList perThread(const QString& name)
{
    QStringList contents;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + u'/' + name));
        if (file.open(QIODevice::ReadOnly))
            contents << QString::fromUtf8(file.readAll()).trimmed();
    }
    return contents;
}

StubAdb::StubAdb(const Server& server) : m_port(testsupport::unusedLoopbackPort())
{
    const QString folder = m_folder.path();
    write(QStringLiteral("scrcpy-server"), "stand-in server\n");
    setForwardAnswer(QByteArray::number(m_port) + '\n');
    ::mkfifo(path(QStringLiteral("commands")).toLocal8Bit().constData(), 0600);

    QStringList serverArgs {QStringLiteral(FAKE_MIRROR_SERVER), QStringLiteral("--port"), QString::number(m_port),
                            QStringLiteral("--record"), path(QStringLiteral("control")),
                            QStringLiteral("--commands"), path(QStringLiteral("commands")),
                            QStringLiteral("--fps"), QString::number(server.framesPerSecond),
                            QStringLiteral("--size"), QStringLiteral("%1x%2").arg(server.width).arg(server.height),
                            QStringLiteral("--scenario"), server.scenario};
    for (const QString& line : server.lines)
        serverArgs << QStringLiteral("--print") << line;
    for (QString& arg : serverArgs)
        arg = ADB::quote(arg);

    const QByteArray script = "#!/bin/sh\n"
                              "D=" + ADB::quote(folder).toUtf8() + "\n"
                              "case \"$3\" in\n"
                              "push) printf '%s\\n' \"push $4 $5\" >> \"$D/calls\"\n"
                              "  if [ -e \"$D/push-fails\" ]; then\n"
                              "    echo \"adb: error: failed to copy '$4' to '$5': remote No space left on device\" >&2; exit 1\n"
                              "  fi\n"
                              "  cp \"$4\" \"$D/pushed\" && echo \"$4: 1 file pushed.\"; exit $?;;\n"
                              "forward) if [ \"$4\" = --remove ]; then\n"
                              "    [ -e \"$D/remove-hangs\" ] && exec sleep 60\n"
                              "    [ -e \"$D/remove-delay\" ] && sleep \"$(cat \"$D/remove-delay\")\"\n"
                              "  fi\n"
                              "  printf '%s\\n' \"forward $4 $5\" >> \"$D/calls\"\n"
                              "  [ \"$4\" = --remove ] || cat \"$D/forward-answer\"\n"
                              "  if [ -e \"$D/launch-fails\" ]; then chmod a-x \"$0\"; fi; exit 0;;\n"
                              "shell) printf '%s\\n' \"shell $4\" >> \"$D/calls\"\n"
                              "  exec " + serverArgs.join(QLatin1Char(' ')).toUtf8() + " \"$4\";;\n"
                              "esac\n"
                              "echo \"unexpected: $*\" >&2; exit 1\n";
    testsupport::writeScript(folder, QStringLiteral("adb"), script);
}

MirrorConnection::Options StubAdb::options() const
{
    MirrorConnection::Options options;
    options.serverCandidates = {path(QStringLiteral("missing/scrcpy-server")), path(QStringLiteral("scrcpy-server"))};
    options.deadline = 3s;
    return options;
}

QByteArray StubAdb::read(const QString& name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StubAdb::write(const QString& name, const QByteArray& bytes) const
{
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

bool StubAdb::command(const QByteArray& line) const
{
    // Without a reader (no server yet) the open fails instead of waiting.
    const int fd = ::open(path(QStringLiteral("commands")).toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray bytes = line + '\n';
    const bool sent = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return sent;
}
