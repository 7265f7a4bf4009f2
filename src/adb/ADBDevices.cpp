#include "ADB.h"
#include "ADBParsing.h"
#include "WirelessDiscovery.h"

#include <QRegularExpression>

namespace {

const QString facts = QStringLiteral(
    "echo \"ver=$(getprop ro.build.version.release)\"; "
    "echo \"mfr=$(getprop ro.product.manufacturer)\"; "
    "dumpsys battery 2>/dev/null | grep -E '^ *(level|status):'; "
    "echo \"df=$(df -k /sdcard/ 2>/dev/null | tail -n 1)\"");

const QString nameQuery = QStringLiteral(
    "settings get global device_name 2>/dev/null; getprop ro.product.marketname; getprop ro.product.model");

std::vector<WirelessService> parseServiceList(const QString& output)
{
    static const QRegularExpression blanks(QStringLiteral("[ \t]+"));
    std::vector<WirelessService> services;
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() < 3 || !fields[2].contains(QLatin1Char(':')))
            continue;
        WirelessService service;
        if (fields[1].startsWith(QStringLiteral("_adb-tls-pairing")))
            service.kind = WirelessService::Kind::pairing;
        else if (fields[1].startsWith(QStringLiteral("_adb-tls-connect")))
            service.kind = WirelessService::Kind::connect;
        else
            continue;
        service.name = fields[0];
        service.address = fields[2];
        services.push_back(std::move(service));
    }
    return services;
}

// Whether the bytes are a whole PNG: the signature, then chunks (length,
// type, data, CRC) read one after another up to the IEND chunk. exec-out ends
// with status 0 and what had arrived when the connection drops, so a start
// that looks right says nothing of the rest. What follows IEND is ignored.
bool isWholePng(const QByteArray& bytes)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!bytes.startsWith(signature))
        return false;
    const auto at = [&bytes](qsizetype offset) { return static_cast<unsigned char>(bytes[offset]); };
    const qsizetype size = bytes.size();
    qsizetype offset = signature.size();
    bool first = true;
    while (size - offset >= 12) {
        const quint32 length = quint32(at(offset)) << 24 | quint32(at(offset + 1)) << 16 | quint32(at(offset + 2)) << 8
                               | quint32(at(offset + 3));
        // The format allows lengths up to 2^31 - 1; the chunk and its CRC must be here.
        if (length > 0x7fffffffu || qint64(length) > qint64(size - offset - 12))
            return false;
        const QByteArray type = bytes.mid(offset + 4, 4);
        for (const char letter : type) {
            if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
                return false;
        }
        if (first && type != "IHDR")
            return false;
        first = false;
        if (type == "IEND")
            return length == 0;
        offset += 12 + qsizetype(length);
    }
    return false;
}

} // namespace

QString ADB::quote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

std::vector<Device> ADB::devices(const Cancel& cancel) const
{
    return adbparse::devices(run({QStringLiteral("devices"), QStringLiteral("-l")}, cancel));
}

std::optional<QString> ADB::displayName(const QString& serial, const Cancel& cancel) const
{
    try {
        return adbparse::displayName(shell(serial, nameQuery, cancel));
    } catch (const Error&) {
        return std::nullopt;
    }
}

DeviceInfo ADB::info(const QString& serial, const Cancel& cancel) const
{
    return adbparse::info(shell(serial, facts, cancel));
}

QString ADB::connect(const QString& address, const Cancel& cancel) const
{
    const QString answer = run({QStringLiteral("connect"), address}, cancel);
    // adb reports a failed connection with status 0.
    if (!answer.contains(QLatin1StringView("connected to")))
        throw ADBError::failed(clean(answer));
    return connectionSerial(answer).value_or(address);
}

std::optional<QString> ADB::connectionSerial(const QString& answer)
{
    // adb quotes the address when a reason follows it.
    static const QRegularExpression named(
        QStringLiteral("^(?:adb: )?(?:error: )?(?:already connected|connected|failed to connect|failed to authenticate) "
                       "to (?:'([^'\\n]+)'|(\\S+))"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = named.match(answer);
    if (!match.hasMatch())
        return std::nullopt;
    QString serial = match.hasCaptured(1) ? match.captured(1) : match.captured(2);
    if (serial.endsWith(QLatin1Char(':')))
        serial.chop(1);
    return serial;
}

std::optional<QString> ADB::serialNumber(const QString& serial, const Cancel& cancel) const
{
    try {
        const QString number = shell(serial, QStringLiteral("getprop ro.serialno"), cancel).trimmed();
        if (number.isEmpty())
            return std::nullopt;
        return number;
    } catch (const Error&) {
        return std::nullopt;
    }
}

QByteArray ADB::screenshot(const QString& serial, const Cancel& cancel) const
{
    // exec-out hands the bytes over untouched, unlike shell on a terminal.
    QByteArray png = runData({QStringLiteral("-s"), serial, QStringLiteral("exec-out"), QStringLiteral("screencap"),
                              QStringLiteral("-p")},
                             {}, cancel);
    if (isWholePng(png))
        return png;
    // exec-out ends quietly when the phone goes away: ask whether it is still there.
    try {
        run({QStringLiteral("-s"), serial, QStringLiteral("get-state")}, cancel);
    } catch (const Cancelled&) {
        throw;
    } catch (const Error&) {
        throw ADBError::failed(QStringLiteral("The phone was disconnected before the screenshot arrived."));
    }
    if (png.startsWith("\x89PNG"))
        throw ADBError::failed(QStringLiteral("The screenshot came from the phone cut short."));
    throw ADBError::failed(QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked."));
}

std::vector<WirelessService> ADB::mdnsServices(const Cancel& cancel) const
{
    QString output;
    try {
        output = run({QStringLiteral("mdns"), QStringLiteral("services")}, cancel);
    } catch (...) {
        // Only informs the list: an adb without this command lists nothing.
        return {};
    }
    return parseServiceList(output);
}
