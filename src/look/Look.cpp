#include "Look.h"

#include "DrawnAhead.h"
#include "Symbols.h"

#include <QIcon>
#include <QIconEngine>
#include <QLocale>
#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>

#include <unicode/unum.h>

#include <cmath>
#include <iterator>

namespace Look {

namespace {

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QFont scaled(const QFont& base, qreal factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    const qreal points = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    font.setPointSizeF(points * factor);
    font.setWeight(weight);
    return font;
}

} // namespace

QColor secondary(const QPalette& palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.6);
}

QColor tertiary(const QPalette& palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.38);
}

QColor quaternaryFill(const QPalette& palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.07);
}

QColor orange()
{
    return QColor(242, 140, 40);
}

QColor red()
{
    return QColor(235, 64, 52);
}

QFont caption(const QFont& base)
{
    return scaled(base, 0.85);
}

QFont caption2(const QFont& base)
{
    return scaled(base, 0.8);
}

QFont callout(const QFont& base)
{
    return scaled(base, 0.95);
}

QFont headline(const QFont& base)
{
    return scaled(base, 1.0, QFont::DemiBold);
}

QFont title2(const QFont& base)
{
    return scaled(base, 1.45, QFont::DemiBold);
}

namespace {

struct SymbolKey {
    QString name;
    int pixels;
    QRgba64 color;
    qreal devicePixelRatio;
    bool operator==(const SymbolKey&) const = default;
};

size_t qHash(const SymbolKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.name, key.pixels, quint64(key.color), key.devicePixelRatio);
}

// A bundled symbol drawn as QIcon's SVG engine would draw it, without loading
// the icon-engine plugin or reading the file a second time to check it.
// Empty when the symbol is not bundled or its file cannot be read.
QImage drawnBundled(const QString& name, QSize pixels)
{
    const QString file = Symbols::bundledFile(name);
    if (file.isEmpty())
        return {};
    QSvgRenderer renderer(file);
    if (!renderer.isValid())
        return {};
    QSize drawn = renderer.defaultSize();
    if (!drawn.isNull())
        drawn.scale(pixels, Qt::KeepAspectRatio);
    if (drawn.isEmpty())
        return {};
    QImage image(drawn, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

// `shape` stretched over `pixels` and painted in one colour.
QImage inOneColour(const QImage& shape, QSize pixels, const QColor& color)
{
    QImage result(pixels, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect whole(QPoint(0, 0), pixels);
    painter.drawImage(whole, shape);
    // Keep the symbol's shape, paint it in one colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(whole, color);
    painter.end();
    return result;
}

// The phone outline draws its symbol at every repaint, and several buttons
// share one; each is drawn once.
QHash<SymbolKey, QPixmap>& drawnSymbols()
{
    static QHash<SymbolKey, QPixmap> drawn;
    return drawn;
}

// Symbols the first window shows, drawn on workers meanwhile.
QHash<SymbolKey, DrawnAhead>& symbolsDrawnAhead()
{
    static QHash<SymbolKey, DrawnAhead> ahead;
    return ahead;
}

QSize pixelsOf(int size, qreal devicePixelRatio)
{
    return {qRound(size * devicePixelRatio), qRound(size * devicePixelRatio)};
}

// QIcon draws larger for a screen scaled above 1; the symbols keep that case.
bool drawsBundled()
{
    return qApp->devicePixelRatio() <= 1.0;
}

} // namespace

QPixmap symbol(const QString& name, int size, const QColor& color, qreal devicePixelRatio)
{
    const SymbolKey key {name, size, color.rgba64(), devicePixelRatio};
    if (const auto found = drawnSymbols().constFind(key); found != drawnSymbols().constEnd())
        return *found;

    const QSize pixels = pixelsOf(size, devicePixelRatio);
    QImage result;
    if (const auto ahead = symbolsDrawnAhead().constFind(key); ahead != symbolsDrawnAhead().constEnd()) {
        result = ahead->take();
        symbolsDrawnAhead().erase(ahead);
    }
    if (result.isNull()) {
        QImage shape = drawsBundled() ? drawnBundled(name, pixels) : QImage();
        if (shape.isNull())
            shape = Symbols::icon(name).pixmap(pixels).toImage();
        result = inOneColour(shape, pixels, color);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(result));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    drawnSymbols().insert(key, pixmap);
    return pixmap;
}

void drawSymbolAhead(const QString& name, int size, const QColor& color, qreal devicePixelRatio)
{
    const SymbolKey key {name, size, color.rgba64(), devicePixelRatio};
    if (!drawsBundled() || drawnSymbols().contains(key) || symbolsDrawnAhead().contains(key))
        return;
    const QSize pixels = pixelsOf(size, devicePixelRatio);
    // Empty when not bundled: symbol() then draws it from the icon theme.
    symbolsDrawnAhead().insert(key, DrawnAhead([name, pixels, color] {
                                   const QImage shape = drawnBundled(name, pixels);
                                   return shape.isNull() ? QImage() : inOneColour(shape, pixels, color);
                               }));
}

namespace {

constexpr int symbolSizes[] = {16, 18, 24, 32, 36, 48};

// A symbol icon that draws each of its sizes when it is first asked for: a
// window shows a symbol at one or two of them, and drawing all of them for
// every button would hold up the first window. Otherwise it answers as an
// icon holding all the sizes would; the drawn ones are kept in such an icon.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, QColor color) : m_name(std::move(name)), m_color(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        drawFor(rect.size() * painter->device()->devicePixelRatio()).paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return drawFor(size).pixmap(size, 1.0, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return drawFor(size).actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        // All of them, listed in the order they would have been added in.
        if (m_drawnSides.size() < qsizetype(std::size(symbolSizes))) {
            QIcon all;
            for (int side : symbolSizes)
                all.addPixmap(m_drawnSides.contains(side) ? m_drawn.pixmap(QSize(side, side), 1.0)
                                                          : symbol(m_name, side, m_color));
            m_drawn = all;
            m_drawnSides = {std::begin(symbolSizes), std::end(symbolSizes)};
        }
        return m_drawn.availableSizes(mode, state);
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(*this); }
    QString key() const override { return QStringLiteral("SymbolIconEngine"); }

    // The size an icon holding all of them would use for `size`: the
    // smallest that covers it, else the largest.
    static int bestSide(const QSize& size)
    {
        const qint64 wanted = qint64(size.width()) * size.height();
        for (int side : symbolSizes) {
            if (qint64(side) * side >= wanted)
                return side;
        }
        return symbolSizes[std::size(symbolSizes) - 1];
    }

private:
    void draw(int side)
    {
        if (m_drawnSides.contains(side))
            return;
        m_drawnSides.append(side);
        m_drawn.addPixmap(symbol(m_name, side, m_color));
    }

    const QIcon& drawFor(const QSize& size)
    {
        draw(bestSide(size));
        return m_drawn;
    }

    QString m_name;
    QColor m_color;
    QIcon m_drawn;
    QList<int> m_drawnSides;
};

} // namespace

QIcon symbolIcon(const QString& name, const QColor& color, int shownAt)
{
    if (shownAt > 0)
        drawSymbolAhead(name, SymbolIconEngine::bestSide(QSize(shownAt, shownAt)), color);
    return QIcon(new SymbolIconEngine(name, color));
}

QString percent(int whole)
{
    // Where the sign goes and what stands between it and the number differ
    // by locale; ICU's percent style knows, QLocale does not.
    const QLocale locale;
    const QByteArray id = locale.language() == QLocale::C ? QByteArrayLiteral("en_US_POSIX") : locale.name().toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_PERCENT, nullptr, 0, id.constData(), nullptr, &status);
    if (U_SUCCESS(status)) {
        // The value is a percentage already.
        unum_setAttribute(format, UNUM_MULTIPLIER, 1);
        UChar text[64];
        const int32_t length = unum_format(format, whole, text, int32_t(std::size(text)), nullptr, &status);
        unum_close(format);
        if (U_SUCCESS(status) && length <= int32_t(std::size(text)))
            return QString(reinterpret_cast<const QChar*>(text), length);
    }
    return locale.toString(whole) + locale.percent();
}

QString byteCount(int64_t bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const QLocale locale;
    const bool negative = bytes < 0;
    const double magnitude = std::fabs(double(bytes));
    QString text;
    if (magnitude < 1000) {
        text = locale.toString(qlonglong(magnitude)) + (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    } else {
        static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
        double value = magnitude / 1000;
        int unit = 0;
        while (value >= 999.5 && unit < 5) {
            value /= 1000;
            ++unit;
        }
        // Kilobytes whole, megabytes to one place, larger units to two;
        // trailing zeros dropped.
        const int places = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
        QString number = locale.toString(value, 'f', places);
        if (places > 0) {
            const QString point = locale.decimalPoint();
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(point))
                number.chop(point.size());
        }
        text = number + QLatin1Char(' ') + QLatin1String(units[unit]);
    }
    return negative ? QStringLiteral("-") + text : text;
}

QString abbreviatedDate(const QDateTime& date)
{
    if (!date.isValid())
        return QString();
    static const QString dateFormat = [] {
        // The locale's long date without the weekday and with short month names.
        QString format = QLocale().dateFormat(QLocale::LongFormat);
        format.replace(QStringLiteral("dddd, "), QString());
        format.replace(QStringLiteral("dddd "), QString());
        format.replace(QStringLiteral("dddd"), QString());
        format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
        return format.trimmed();
    }();
    return QLocale().toString(date.toLocalTime().date(), dateFormat);
}

QString modifiedText(const QDateTime& date)
{
    if (!date.isValid())
        return QString();
    static const QString timeFormat = [] {
        // Hours and minutes; some locales' short form has seconds too.
        QString format = QLocale().timeFormat(QLocale::ShortFormat);
        format.remove(QStringLiteral(":ss"));
        format.remove(QStringLiteral(".ss"));
        return format;
    }();
    return abbreviatedDate(date) + QStringLiteral(", ") + QLocale().toString(date.toLocalTime().time(), timeFormat);
}

void setForeground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace Look
