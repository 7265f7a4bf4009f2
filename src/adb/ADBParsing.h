#pragma once

#include "ADBTools.h"
#include "Models.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

// Readers of the answers adb and the phone's tools print. They never fail:
// lines they cannot read are skipped and unreadable values stay absent.
namespace adbparse {

// An optional sign and one or more ASCII digits, nothing else, in range.
std::optional<int64_t> integer(QStringView text);
// A decimal number as printf writes it (fraction and exponent allowed,
// no surrounding white space).
std::optional<double> decimal(QStringView text);

// The output cut at line feeds, empty pieces dropped.
QStringList lines(const QString& output);
// The text without the characters at either end for which `trimmed` holds.
template <class Predicate>
QString trimWhere(const QString& text, Predicate trimmed)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && trimmed(text.at(begin)))
        ++begin;
    while (end > begin && trimmed(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// Trims tabs and space separators (Unicode Zs), never line breaks.
QString trimBlanks(const QString& text);

std::vector<Device> devices(const QString& output);
std::optional<QString> displayName(const QString& output);
DeviceInfo info(const QString& output);
// The listing's "type|size|time|name/" records; with `dotSlash` each name
// comes as "./name". Never "." or "..".
std::vector<RemoteEntry> listing(QByteArrayView output, bool dotSlash = false);
// A name's bytes as text: UTF-8 where they are, each other byte as one of
// U+DC80 to U+DCFF, so distinct names stay distinct.
QString name(QByteArrayView bytes);

// Merges the full package list, the list of added apps and the filtered
// package dump into apps sorted by package name.
std::vector<InstalledApp> apps(const QString& fullList, const QString& addedList, const QString& dump);
// A dump time "yyyy-MM-dd HH:mm:ss" read as local time.
std::optional<QDateTime> installTime(const QString& text);
// Orders texts by Unicode code point, without locale or case folding.
bool codePointLess(const QString& a, const QString& b);

DeviceDetails details(const QString& output);

} // namespace adbparse
