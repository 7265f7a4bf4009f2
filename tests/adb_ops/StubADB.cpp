#include "StubADB.h"

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

QByteArray keyOf(const QStringList& args)
{
    QByteArray joined;
    for (const QString& arg : args)
        joined += arg.toUtf8() + '\0';
    return QCryptographicHash::hash(joined, QCryptographicHash::Md5).toHex();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

} // namespace

StubADB::StubADB()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("calls"));
    QDir(m_dir.path()).mkpath(QStringLiteral("replies"));
    // Calls are numbered by a nanosecond clock so that concurrent runs keep
    // their order of start and never share a file.
    m_path = testsupport::writeScript(m_dir.path(), QStringLiteral("adb"), R"sh(#!/bin/sh
dir=$(dirname "$0")
printf '%s\0' "$@" > "$dir/calls/$(date +%s%N)-$$"
key=$(printf '%s\0' "$@" | md5sum | cut -c1-32)
stem="$dir/replies/$key"
[ -e "$stem.status" ] || stem="$dir/replies/default"
[ -e "$stem.out" ] && cat "$stem.out"
[ -e "$stem.err" ] && cat "$stem.err" >&2
[ -s "$stem.sleep" ] && exec sleep "$(cat "$stem.sleep")"
exit "$(cat "$stem.status" 2>/dev/null || echo 0)"
)sh");
}

void StubADB::writeReply(const QString& stem, const Reply& reply)
{
    writeFile(stem + QStringLiteral(".out"), reply.out);
    writeFile(stem + QStringLiteral(".err"), reply.err);
    writeFile(stem + QStringLiteral(".sleep"), reply.sleepSeconds > 0 ? QByteArray::number(reply.sleepSeconds) : QByteArray());
    writeFile(stem + QStringLiteral(".status"), QByteArray::number(reply.status));
}

void StubADB::setReply(const QStringList& args, const Reply& reply)
{
    writeReply(m_dir.path() + QStringLiteral("/replies/") + QString::fromLatin1(keyOf(args)), reply);
}

void StubADB::setDefault(const Reply& reply)
{
    writeReply(m_dir.path() + QStringLiteral("/replies/default"), reply);
}

std::vector<QStringList> StubADB::calls() const
{
    QDir dir(m_dir.path() + QStringLiteral("/calls"));
    QStringList names = dir.entryList(QDir::Files);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.section(QLatin1Char('-'), 0, 0).toULongLong() < b.section(QLatin1Char('-'), 0, 0).toULongLong();
    });
    std::vector<QStringList> result;
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList args;
        const QList<QByteArray> pieces = file.readAll().split('\0');
        for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
            args << QString::fromUtf8(pieces.at(i));
        result.push_back(args);
    }
    return result;
}
