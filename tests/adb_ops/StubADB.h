#pragma once

#include "ADB.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

// A shell script standing in for adb: it records every argument list it is
// run with and answers from a table keyed by the whole argument list.
class StubADB {
public:
    struct Reply {
        QByteArray out;
        QByteArray err;
        int status = 0;
        int sleepSeconds = 0; // sleeps after printing, ended by SIGTERM
    };

    StubADB();

    ADB adb() const { return ADB(m_path); }

    void setReply(const QStringList& args, const Reply& reply);
    // The answer to argument lists without a reply of their own.
    void setDefault(const Reply& reply);
    // Argument lists received, in order of their start.
    std::vector<QStringList> calls() const;

private:
    void writeReply(const QString& stem, const Reply& reply);

    QTemporaryDir m_dir;
    QString m_path;
};
