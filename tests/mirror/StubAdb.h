#pragma once

#include "ADB.h"
#include "MirrorConnection.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

// The fast road to the fake mirroring server: an adb stand-in script that
// records each call in its folder, copies pushes there, answers the forward
// with the port the fake server will listen on, and runs the fake server
// for "shell" in the foreground.
// How the fake server behaves (see fakemirrorserver's help).
struct StubServer {
    QString scenario = QStringLiteral("normal");
    QStringList lines; // printed before anything else
    int framesPerSecond = 30;
    int width = 320;
    int height = 640;
};

class StubAdb {
public:
    using Server = StubServer;

    explicit StubAdb(const Server& server = {});

    ADB adb() const { return ADB(m_folder.filePath(QStringLiteral("adb"))); }
    // The stand-in server file and short waits.
    MirrorConnection::Options options() const;
    int port() const { return m_port; }
    QString path(const QString& name) const { return m_folder.filePath(name); }

    void setForwardAnswer(const QByteArray& answer) { write(QStringLiteral("forward-answer"), answer); }
    void failPush() { write(QStringLiteral("push-fails"), {}); }
    // The forward's removal takes this long before it is done (a busy adb
    // server), or never ends.
    void delayRemoval(const QByteArray& seconds) { write(QStringLiteral("remove-delay"), seconds); }
    void hangRemoval() { write(QStringLiteral("remove-hangs"), {}); }
    // After the forward, the stand-in can no longer be run: the server's
    // launch fails (and so does every later call).
    void failLaunch() { write(QStringLiteral("launch-fails"), {}); }

    // Recorded calls, one line each: "push FROM TO", "forward tcp:0 NAME",
    // "shell COMMAND", "forward --remove tcp:PORT".
    QStringList calls() const { return QString::fromUtf8(read(QStringLiteral("calls"))).split(u'\n', Qt::SkipEmptyParts); }
    int removals() const { return int(calls().filter(QStringLiteral("forward --remove")).size()); }
    // Every byte the fake server read from the control stream.
    QByteArray control() const { return read(QStringLiteral("control")); }
    // Sends a line to the fake server (see fakemirrorserver's help); false
    // while no server reads them.
    bool command(const QByteArray& line) const;

private:
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& bytes) const;

    QTemporaryDir m_folder;
    int m_port = 0;
};

// The trimmed contents of one /proc file of each of this process's threads.
QStringList perThread(const QString& name);
inline QStringList threadNames() { return perThread(QStringLiteral("comm")); }
inline bool noMirrorThreads() { return threadNames().filter(QStringLiteral("Mirror")).isEmpty(); }
// Children of this process, running or not yet reaped.
inline qsizetype children() { return perThread(QStringLiteral("children")).join(u' ').split(u' ', Qt::SkipEmptyParts).size(); }
