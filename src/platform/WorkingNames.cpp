#include "WorkingNames.h"

#include <QRegularExpression>

namespace workingnameform {

namespace {

// "." NAME, then ".<12 hex>" or ".<8 hex>-<12 hex>", then the ending.
const QString idPart = QStringLiteral("\\.(?:([0-9a-f]{8})-)?[0-9a-f]{12}");
const QString endingPattern = QStringLiteral("\\.vantelorquist-copy");

} // namespace

const QString& ending()
{
    static const QString text = QStringLiteral(".vantelorquist-copy");
    return text;
}

QString make(const QString& name, const QString& owner, const QString& copy)
{
    return QLatin1Char('.') + name + QLatin1Char('.') + owner + QLatin1Char('-') + copy + ending();
}

QString fixed(const QString& name)
{
    return QLatin1Char('.') + name + ending();
}

std::optional<Parts> parse(const QString& name)
{
    static const QRegularExpression whole(QStringLiteral("^\\.(.*)") + idPart + endingPattern + QLatin1Char('$'),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = whole.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return Parts{match.captured(1), match.captured(2)};
}

QString withItemNames(const QString& text)
{
    // Begins a name: at the start, after "/", a quote or white space.
    static const QRegularExpression inText(QStringLiteral("(?<![^/'\"\\s])\\.([^/\\n]+?)(?:") + idPart
                                           + QStringLiteral(")?") + endingPattern);
    QString out = text;
    return out.replace(inText, QStringLiteral("\\1"));
}

} // namespace workingnameform
