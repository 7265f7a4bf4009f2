#pragma once

#include <QLabel>
#include <QList>
#include <QString>
#include <QStyledItemDelegate>

class QPainter;
class QVariantAnimation;

// Digits of one width, so that a number that changes does not shift the
// text around it. Qt 6.4 cannot ask a font for its tabular figures, so the
// font's own digits are measured: where they differ in width, each digit is
// centred in a cell as wide as the widest one.
namespace Digits {

// Whether every digit from 0 to 9 advances as far as every other.
bool haveEqualWidths(const QFont& font);

// One piece of a laid-out text: a single digit in its cell, or a run of
// other characters at its own width.
struct Piece {
    QString text;
    qreal x = 0;
    qreal width = 0;
    bool digit = false;
};
// `text` laid out in `font` with digits in equal cells; each digit is a
// piece of its own when the font needs cells or `eachDigit` asks for it.
QList<Piece> layout(const QString& text, const QFont& font, bool eachDigit = false);
qreal width(const QString& text, const QFont& font);

// Draws `text` in the painter's font inside `rect`, placed by `alignment`;
// digit by digit when `eachDigit` asks for it.
void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text, bool eachDigit = false);

// Draws an item view's cell as the style does, its text with equal digits.
// `option` is initialised for the cell.
void drawItem(QPainter* painter, const QStyleOptionViewItem& option);

} // namespace Digits

// A one-line plain-text label whose digits keep one width. When it rolls,
// a new text's changed digits roll up into place, the old ones out of sight.
class DigitsLabel : public QLabel {
    Q_OBJECT
public:
    explicit DigitsLabel(QWidget* parent = nullptr);

    // Hides QLabel::setText, so that a change can roll.
    void setText(const QString& text);
    void setRolls(bool rolls) { m_rolls = rolls; }
    // The roll under way, if any.
    QVariantAnimation* roll() const { return m_roll; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_rolls = false;
    QString m_from;
    QVariantAnimation* m_roll;
};

// A column of an item view whose digits keep one width.
class DigitsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
