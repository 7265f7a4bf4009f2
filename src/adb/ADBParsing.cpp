#include "ADBParsing.h"

#include "Paths.h"

#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace adbparse {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// Whether the text begins with `prefix`; then `rest` is what follows it.
bool startsWith(const QString& text, QLatin1StringView prefix, QString& rest)
{
    if (!text.startsWith(prefix))
        return false;
    rest = text.mid(prefix.size());
    return true;
}

QString trimSpacesAndTabs(const QString& text)
{
    return trimWhere(text, [](QChar c) { return c == u' ' || c == u'\t'; });
}

} // namespace

std::optional<int64_t> integer(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value fits too.
    int64_t value = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::optional<double> decimal(QStringView text)
{
    // [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && text[i] >= u'0' && text[i] <= u'9')
            ++i;
        return i - from;
    };
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype whole = digits();
    bool plain = true;
    if (i < n && text[i] == u'.') {
        ++i;
        plain = false;
        if (digits() == 0 && whole == 0)
            return std::nullopt;
    } else if (whole == 0) {
        return std::nullopt;
    }
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        plain = false;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    // Whole seconds, the usual case, need no floating-point conversion.
    if (plain) {
        if (const auto value = integer(text))
            return static_cast<double>(*value);
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QStringList lines(const QString& output)
{
    return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString trimBlanks(const QString& text)
{
    return trimWhere(text, isBlank);
}

std::vector<Device> devices(const QString& output)
{
    static const QRegularExpression separators(QStringLiteral("[ \\t]+"));
    std::vector<Device> result;
    for (const QString& line : lines(output)) {
        if (line.startsWith(QLatin1Char('*')) || line.startsWith(QLatin1StringView("List of")))
            continue;
        const QStringList fields = line.split(separators, Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        Device device;
        device.serial = fields.at(0);
        device.state = fields.at(1) == QLatin1StringView("no") ? QStringLiteral("no permissions") : fields.at(1);
        auto field = [&fields](QLatin1StringView prefix) -> std::optional<QString> {
            for (const QString& f : fields) {
                if (f.startsWith(prefix))
                    return f.mid(prefix.size());
            }
            return std::nullopt;
        };
        QString model = field(QLatin1StringView("model:"))
                            .value_or(field(QLatin1StringView("product:")).value_or(device.serial));
        device.model = model.replace(QLatin1Char('_'), QLatin1Char(' '));
        device.transport = Device::Transport::adb;
        result.push_back(std::move(device));
    }
    return result;
}

std::optional<QString> displayName(const QString& output)
{
    for (const QString& line : lines(output)) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && name != QLatin1StringView("null") && !name.startsWith(QLatin1StringView("sdk_")))
            return name;
    }
    return std::nullopt;
}

DeviceInfo info(const QString& output)
{
    DeviceInfo result;
    for (const QString& raw : lines(output)) {
        const QString line = raw.trimmed();
        QString rest;
        if (startsWith(line, QLatin1StringView("ver="), rest)) {
            result.androidVersion = rest;
        } else if (startsWith(line, QLatin1StringView("mfr="), rest)) {
            result.manufacturer = capitalizedWords(rest);
        } else if (startsWith(line, QLatin1StringView("level:"), rest)) {
            const auto level = integer(trimSpacesAndTabs(rest));
            if (level && *level >= std::numeric_limits<int>::min() && *level <= std::numeric_limits<int>::max())
                result.battery = static_cast<int>(*level);
            else
                result.battery.reset();
        } else if (startsWith(line, QLatin1StringView("status:"), rest)) {
            const auto status = integer(trimSpacesAndTabs(rest));
            result.charging = status && (*status == 2 || *status == 5);
        } else if (startsWith(line, QLatin1StringView("df="), rest)) {
            const QStringList fields = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 4)
                continue;
            const auto total = integer(fields.at(1));
            const auto used = integer(fields.at(2));
            const auto free = integer(fields.at(3));
            // A value whose bytes would not fit leaves the storage as it was.
            constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 1024;
            auto fits = [](int64_t blocks) { return blocks <= limit && blocks >= -limit; };
            if (total && free && fits(*total) && fits(*free)) {
                result.storageTotal = *total * 1024;
                result.storageFree = *free * 1024;
                // More used than there is: no part of the line can be believed.
                if (used && (*used < 0 || *used > *total)) {
                    result.storageTotal.reset();
                    result.storageFree.reset();
                }
            }
        }
    }
    return result.possible();
}

std::vector<RemoteEntry> listing(QByteArrayView output, bool dotSlash)
{
    std::vector<RemoteEntry> result;
    qsizetype pos = 0;
    const qsizetype n = output.size();
    while (pos < n) {
        // Three fields ended by "|"; a line feed among them is a line that
        // holds no item (nothing but stat writes here), skipped whole.
        const qsizetype start = pos;
        qsizetype bars[3];
        qsizetype from = pos;
        bool whole = true;
        for (qsizetype& bar : bars) {
            qsizetype i = from;
            while (i < n && output[i] != '|' && output[i] != '\n')
                ++i;
            if (i == n)
                return result;
            if (output[i] == '\n') {
                pos = i + 1;
                whole = false;
                break;
            }
            bar = i;
            from = i + 1;
        }
        if (!whole)
            continue;
        qsizetype begin = bars[2] + 1;
        if (dotSlash && output.sliced(begin).startsWith("./"))
            begin += 2;
        const qsizetype slash = output.indexOf('/', begin);
        if (slash < 0)
            return result;
        pos = slash + 1;
        while (pos < n && output[pos] == '\r')
            ++pos;
        if (pos < n && output[pos] == '\n')
            ++pos;
        const QByteArrayView raw = output.sliced(begin, slash - begin);
        // No file name holds NUL; a path made with one would be cut there and
        // name another item.
        if (raw.isEmpty() || raw == ".." || raw == "." || raw.contains('\0'))
            continue;
        const QString fields = QString::fromLatin1(output.sliced(bars[0] + 1, bars[2] - bars[0] - 1));
        const qsizetype mid = fields.indexOf(QLatin1Char('|'));
        RemoteEntry entry;
        entry.name = name(raw);
        entry.isDirectory = output.sliced(start, bars[0] - start) == "directory";
        entry.size = integer(QStringView(fields).first(mid)).value_or(0);
        const auto seconds = decimal(QStringView(fields).sliced(mid + 1));
        qint64 milliseconds = 0;
        if (seconds && std::abs(*seconds) < 1e14)
            milliseconds = std::llround(*seconds * 1000.0);
        entry.modified = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
        result.push_back(std::move(entry));
    }
    return result;
}

QString name(QByteArrayView bytes)
{
    return paths::text(bytes);
}

std::optional<QDateTime> installTime(const QString& text)
{
    const QDateTime local = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!local.isValid())
        return std::nullopt;
    return local.toUTC();
}

bool codePointLess(const QString& a, const QString& b)
{
    // UTF-16 order differs from code point order only where a surrogate meets
    // a unit of U+E000..U+FFFF; shifting both ranges restores it.
    auto key = [](char16_t u) -> uint32_t {
        if (u >= 0xD800 && u <= 0xDFFF)
            return u + 0x2000;
        if (u >= 0xE000)
            return u - 0x800;
        return u;
    };
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x != y)
            return key(x) < key(y);
    }
    return a.size() < b.size();
}

std::vector<InstalledApp> apps(const QString& fullList, const QString& addedList, const QString& dump)
{
    const QStringList added = ADB::packageNames(addedList);
    const QSet<QString> addedSet(added.begin(), added.end());

    QHash<QString, InstalledApp> byPackage;
    for (const QString& name : ADB::packageNames(fullList)) {
        InstalledApp app;
        app.package = name;
        app.isSystem = !addedSet.contains(name);
        byPackage.insert(name, std::move(app));
    }

    std::optional<QString> current;
    for (const QString& raw : lines(dump)) {
        const QString line = trimBlanks(raw);
        if (line.startsWith(QLatin1StringView("Package ["))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'), 9);
            if (close >= 0) {
                current = line.mid(9, close - 9);
                continue;
            }
        }
        if (!current)
            continue;
        auto it = byPackage.find(*current);
        QString rest;
        if (startsWith(line, QLatin1StringView("versionName="), rest)) {
            if (it != byPackage.end() && !it->version)
                it->version = rest;
        } else if (startsWith(line, QLatin1StringView("firstInstallTime="), rest)) {
            if (it != byPackage.end() && !it->installed)
                it->installed = installTime(rest);
        }
    }

    std::vector<InstalledApp> result;
    result.reserve(byPackage.size());
    for (auto& app : byPackage)
        result.push_back(std::move(app));
    std::sort(result.begin(), result.end(),
              [](const InstalledApp& x, const InstalledApp& y) { return codePointLess(x.package, y.package); });
    return result;
}

DeviceDetails details(const QString& output)
{
    DeviceDetails result;
    for (const QString& line : lines(output)) {
        qsizetype start = 0;
        while (start < line.size() && line.at(start) == QLatin1Char('='))
            ++start;
        const qsizetype equals = line.indexOf(QLatin1Char('='), start);
        if (equals < 0 || equals == start || equals + 1 >= line.size())
            continue;
        const QString label = trimBlanks(line.mid(start, equals - start));
        const QString value = trimBlanks(line.mid(equals + 1));
        if (value.isEmpty() || value.startsWith(QLatin1StringView("at ")) || value == QLatin1StringView("(API )"))
            continue;
        result.rows.emplace_back(label, value);
    }
    return result;
}

} // namespace adbparse

size_t qHash(const InstalledApp& app, size_t seed)
{
    return qHashMulti(seed, app.package, app.version.has_value(), app.version.value_or(QString()),
                      app.installed.has_value(), app.installed.value_or(QDateTime()), app.isSystem);
}

bool operator==(const DeviceDetails& a, const DeviceDetails& b)
{
    if (a.rows.size() != b.rows.size())
        return false;
    for (size_t i = 0; i < a.rows.size(); ++i) {
        if (a.rows[i].first + a.rows[i].second != b.rows[i].first + b.rows[i].second)
            return false;
    }
    return true;
}
