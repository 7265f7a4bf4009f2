#include "MTPObject.h"

#include <QLocale>


QString MTPObject::dateString(const QDateTime& date)
{
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("yyyyMMdd'T'HHmmss"));
}

QDateTime MTPObject::date(const QString& text)
{
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    QString digits;
    for (const QChar c : text) {
        if (c.isNumber())
            digits.append(c);
    }
    if (digits.size() < 14)
        return epoch;
    // Phones write their own local time, whatever zone suffix follows.
    auto group = [&](qsizetype from, qsizetype count) {
        bool ok = false;
        const int value = digits.mid(from, count).toInt(&ok);
        return ok ? value : 0;
    };
    const int year = group(0, 4), month = group(4, 2), day = group(6, 2);
    const int hour = group(8, 2), minute = group(10, 2), second = group(12, 2);
    // Out-of-range fields roll over into the next unit, as a calendar would.
    const QDate first(year, 1, 1);
    if (!first.isValid())
        return epoch;
    const QDate day1 = first.addMonths(month - 1).addDays(day - 1);
    if (!day1.isValid())
        return epoch;
    const QTime time(hour, minute, second);
    QDateTime result = time.isValid() ? QDateTime(day1, time)
                                      : QDateTime(day1, QTime(0, 0)).addSecs(hour * 3600LL + minute * 60LL + second);
    return result.isValid() ? result : epoch;
}
