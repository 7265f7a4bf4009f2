#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// One object on the phone as listed.
struct MTPObject {
    uint32_t handle = 0;
    QString name;
    bool isDirectory = false; // format Association
    int64_t size = 0;
    QDateTime modified;

    // A date as MTP datasets write it: "yyyyMMdd'T'HHmmss" in local time.
    static QString dateString(const QDateTime& date);
    // The first fourteen digits of an MTP date string as local time; fewer
    // digits, or digits that make no date, give 1970-01-01 00:00:00 UTC.
    static QDateTime date(const QString& text);
};
