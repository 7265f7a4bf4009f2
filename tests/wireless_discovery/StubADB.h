#pragma once

#include "TestSupport.h"

#include <QSaveFile>
#include <QTemporaryDir>

// An adb stand-in whose "mdns services" prints the content of a file the
// test controls, and fails once told to. Every call is logged.
class StubADB {
public:
    StubADB()
    {
        const QByteArray dir = QFile::encodeName(folder.path());
        path = testsupport::writeScript(folder.path(), QStringLiteral("adb"),
                                        "#!/bin/sh\n"
                                        "echo \"$@\" >> '" + dir + "/calls'\n"
                                        "[ -e '" + dir + "/fail' ] && { echo 'adb: error: broken' >&2; exit 1; }\n"
                                        "[ \"$1 $2\" = 'mdns services' ] || exit 1\n"
                                        "cat '" + dir + "/services' 2>/dev/null; exit 0\n");
    }

    void setOutput(const QByteArray& text) { write(QStringLiteral("services"), text); }
    void fail() { write(QStringLiteral("fail"), {}); }
    QByteArray calls() const
    {
        QFile file(folder.filePath(QStringLiteral("calls")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    QString path;

private:
    // Replaced whole, so the stub never reads half a file.
    void write(const QString& name, const QByteArray& text)
    {
        QSaveFile file(folder.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(text), file.commit();
    }
};
