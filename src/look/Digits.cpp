#include "Digits.h"

#include "Motion.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QStyle>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace Digits {

namespace {

struct Measure {
    bool equal = true;
    qreal cell = 0;
};

// Measured once per font; only the interface thread draws.
const Measure& measure(const QFont& font)
{
    static QHash<QString, Measure> known;
    const QString key = font.key();
    auto found = known.constFind(key);
    if (found != known.constEnd())
        return *found;
    const QFontMetricsF metrics(font);
    Measure m;
    const qreal first = metrics.horizontalAdvance(QLatin1Char('0'));
    m.cell = first;
    for (char digit = '1'; digit <= '9'; ++digit) {
        const qreal advance = metrics.horizontalAdvance(QLatin1Char(digit));
        m.equal = m.equal && advance == first;
        m.cell = std::max(m.cell, advance);
    }
    return *known.insert(key, m);
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

bool haveEqualWidths(const QFont& font)
{
    return measure(font).equal;
}

QList<Piece> layout(const QString& text, const QFont& font, bool eachDigit)
{
    const Measure& m = measure(font);
    const QFontMetricsF metrics(font);
    if (m.equal && !eachDigit)
        return {Piece{text, 0, metrics.horizontalAdvance(text), false}};
    QList<Piece> pieces;
    qreal x = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isDigit(text[i])) {
            pieces.append(Piece{text.mid(i, 1), x, m.cell, true});
            x += m.cell;
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !isDigit(text[end]))
            ++end;
        const QString run = text.mid(i, end - i);
        const qreal advance = metrics.horizontalAdvance(run);
        pieces.append(Piece{run, x, advance, false});
        x += advance;
        i = end;
    }
    return pieces;
}

qreal width(const QString& text, const QFont& font)
{
    const QList<Piece> pieces = layout(text, font);
    return pieces.isEmpty() ? 0 : pieces.last().x + pieces.last().width;
}

namespace {

// The left end and the baseline of a text `textWidth` wide in `rect`.
QPointF origin(const QRectF& rect, Qt::Alignment alignment, qreal textWidth, const QFontMetricsF& metrics)
{
    qreal x = rect.left();
    if (alignment & Qt::AlignRight)
        x = rect.right() - textWidth;
    else if (alignment & Qt::AlignHCenter)
        x = rect.left() + (rect.width() - textWidth) / 2;
    qreal y = rect.top() + (rect.height() - metrics.height()) / 2 + metrics.ascent();
    if (alignment & Qt::AlignTop)
        y = rect.top() + metrics.ascent();
    else if (alignment & Qt::AlignBottom)
        y = rect.bottom() - metrics.descent();
    return {x, y};
}

void drawPiece(QPainter& painter, const Piece& piece, const QPointF& at, const QFontMetricsF& metrics)
{
    // A digit sits in the middle of its cell.
    const qreal inset = piece.digit ? (piece.width - metrics.horizontalAdvance(piece.text)) / 2 : 0;
    painter.drawText(QPointF(at.x() + piece.x + inset, at.y()), piece.text);
}

} // namespace

void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text, bool eachDigit)
{
    const QFontMetricsF metrics(painter.font());
    const QList<Piece> pieces = layout(text, painter.font(), eachDigit);
    if (pieces.isEmpty())
        return;
    const QPointF at = origin(rect, alignment, pieces.last().x + pieces.last().width, metrics);
    for (const Piece& piece : pieces)
        drawPiece(painter, piece, at, metrics);
}

void drawItem(QPainter* painter, const QStyleOptionViewItem& option)
{
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // Background, selection and focus as the style draws them; the text here.
    QStyleOptionViewItem bare = option;
    bare.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &bare, painter, widget);
    if (option.text.isEmpty())
        return;
    QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    area.adjust(margin, 0, -margin, 0);
    QPalette::ColorGroup group = QPalette::Disabled;
    if (option.state & QStyle::State_Enabled)
        group = (option.state & QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
    painter->save();
    painter->setClipRect(area, Qt::IntersectClip);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(
        group, (option.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    if (width(option.text, option.font) > area.width()) {
        // Too narrow for cells: cut as the view would.
        const QString cut = QFontMetrics(option.font).elidedText(option.text, option.textElideMode, area.width());
        painter->drawText(area, int(option.displayAlignment), cut);
    } else {
        draw(*painter, area, option.displayAlignment, option.text);
    }
    painter->restore();
}

} // namespace Digits

// ---- DigitsLabel ---------------------------------------------------------------------

DigitsLabel::DigitsLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    m_roll = new QVariantAnimation(this);
    m_roll->setObjectName(QStringLiteral("roll"));
    m_roll->setStartValue(0.0);
    m_roll->setEndValue(1.0);
    m_roll->setDuration(250);
    m_roll->setEasingCurve(Motion::easeOut());
    connect(m_roll, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(m_roll, &QVariantAnimation::finished, this, [this] { update(); });
}

void DigitsLabel::setText(const QString& text)
{
    const QString before = this->text();
    if (text == before)
        return;
    QLabel::setText(text);
    m_roll->stop();
    if (m_rolls && !before.isEmpty() && !text.isEmpty() && !Motion::reduced()) {
        m_from = before;
        m_roll->start();
    }
}

QSize DigitsLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(int(std::ceil(Digits::width(text(), font()))) + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

QSize DigitsLabel::minimumSizeHint() const
{
    return sizeHint();
}

void DigitsLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRectF area(contentsRect());
    const Qt::Alignment placed = QStyle::visualAlignment(layoutDirection(), alignment());
    if (m_roll->state() == QAbstractAnimation::Stopped) {
        // Drawn as a roll draws it, so that none starts with a jump.
        Digits::draw(painter, area, placed, text(), m_rolls);
        return;
    }
    // Rolling upward: what changed leaves at the top as the new comes up
    // from below. Pieces that stay put are drawn still.
    const qreal progress = m_roll->currentValue().toDouble();
    const QFontMetricsF metrics(font());
    const QList<Digits::Piece> from = Digits::layout(m_from, font(), true);
    const QList<Digits::Piece> to = Digits::layout(text(), font(), true);
    const bool alike = from.size() == to.size() && std::equal(from.begin(), from.end(), to.begin(), [](const auto& a, const auto& b) {
                           return a.digit == b.digit && (a.digit || a.text == b.text);
                       });
    const auto origin = [&](const QList<Digits::Piece>& pieces) {
        const qreal width = pieces.isEmpty() ? 0 : pieces.last().x + pieces.last().width;
        qreal x = area.left();
        if (placed & Qt::AlignRight)
            x = area.right() - width;
        else if (placed & Qt::AlignHCenter)
            x = area.left() + (area.width() - width) / 2;
        return QPointF(x, area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent());
    };
    const qreal lift = metrics.height();
    painter.setClipRect(area);
    const auto drawAt = [&](const Digits::Piece& piece, const QPointF& at, qreal dy, qreal opacity) {
        painter.setOpacity(opacity);
        const qreal inset = piece.digit ? (piece.width - metrics.horizontalAdvance(piece.text)) / 2 : 0;
        painter.drawText(QPointF(at.x() + piece.x + inset, at.y() + dy), piece.text);
    };
    const QPointF fromAt = origin(from), toAt = origin(to);
    for (qsizetype i = 0; i < to.size(); ++i) {
        const bool changed = !alike || from[i].text != to[i].text;
        if (!changed) {
            drawAt(to[i], toAt, 0, 1);
            continue;
        }
        if (alike)
            drawAt(from[i], fromAt, -lift * progress, 1 - progress);
        drawAt(to[i], toAt, lift * (1 - progress), progress);
    }
    if (!alike) {
        for (const Digits::Piece& piece : from)
            drawAt(piece, fromAt, -lift * progress, 1 - progress);
    }
}

// ---- DigitsDelegate ------------------------------------------------------------------

void DigitsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    Digits::drawItem(painter, cell);
}
