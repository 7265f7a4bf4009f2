#include "LogLine.h"

#include <QStringView>

namespace {

// Whitespace for trimming: the Unicode space separators and the tab, not
// line breaks.
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// Whether the character at i joins the one before it into one user-perceived
// character (combining marks, joiners, emoji modifiers and tags); a space so
// joined is no separator.
bool extendsCluster(QStringView text, qsizetype i)
{
    if (i >= text.size())
        return false;
    char32_t c = text.at(i).unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
    if (c < 0x300)
        return false;
    if (c == 0x200C || c == 0x200D || (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F))
        return true;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

bool isSeparator(QStringView text, qsizetype i)
{
    return text.at(i) == QLatin1Char(' ') && !extendsCluster(text, i + 1);
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.sliced(begin, end - begin);
}

QStringView trimmedColons(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(':'))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(':'))
        --end;
    return text.sliced(begin, end - begin);
}

// The first ": " whose space stands alone; -1 when there is none.
qsizetype tagEnd(QStringView text)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(u": ", from);
        if (at < 0 || !extendsCluster(text, at + 2))
            return at;
        from = at + 1;
    }
}

} // namespace

std::optional<LogLine::Level> LogLine::levelFromLetter(QChar letter)
{
    switch (letter.unicode()) {
    case 'V': return Level::verbose;
    case 'D': return Level::debug;
    case 'I': return Level::info;
    case 'W': return Level::warning;
    case 'E': return Level::error;
    case 'F':
    case 'A': return Level::fatal;
    default: return std::nullopt;
    }
}

std::optional<LogLine::Level> LogLine::levelFromRaw(int value)
{
    if (value < 0 || value > 5)
        return std::nullopt;
    return static_cast<Level>(value);
}

const std::array<LogLine::Level, 6>& LogLine::allLevels()
{
    static const std::array<Level, 6> levels {Level::verbose, Level::debug, Level::info,
                                              Level::warning, Level::error, Level::fatal};
    return levels;
}

std::optional<LogLine> LogLine::parse(int64_t id, const QString& raw)
{
    // Five pieces split off at single spaces, runs counting as one; the
    // sixth is the rest after the space that ends the fifth, as it stands.
    const QStringView text(raw);
    const qsizetype size = text.size();
    QStringView pieces[5];
    int count = 0;
    qsizetype i = 0;
    while (count < 5) {
        while (i < size && isSeparator(text, i))
            ++i;
        if (i >= size)
            return std::nullopt;
        const qsizetype begin = i;
        while (i < size && !isSeparator(text, i))
            ++i;
        pieces[count++] = text.sliced(begin, i - begin);
    }
    // i is at the space after the fifth piece, or at the end.
    if (i + 1 >= size)
        return std::nullopt;
    const QStringView remainder = text.sliced(i + 1);

    if (pieces[4].size() != 1)
        return std::nullopt;
    const std::optional<Level> level = levelFromLetter(pieces[4].at(0));
    if (!level)
        return std::nullopt;

    LogLine line;
    line.id = id;
    line.time = pieces[1].toString();
    line.pid = pieces[2].toString();
    line.level = *level;
    const qsizetype colon = tagEnd(remainder);
    if (colon >= 0) {
        line.tag = trimmedBlanks(remainder.first(colon)).toString();
        line.message = remainder.sliced(colon + 2).toString();
    } else {
        line.tag = trimmedColons(trimmedBlanks(remainder)).toString();
    }
    line.raw = raw;
    return line;
}
