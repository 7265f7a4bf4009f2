#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QVariantAnimation>

#include <optional>

// A round symbol button of the mirroring window's side rail. Its title is
// only its accessible name; a click counts anywhere inside the circle.
class RailButton : public QAbstractButton {
    Q_OBJECT
public:
    RailButton(const QString& title, const QString& symbol, std::optional<QColor> tint, const QString& help,
               QWidget* parent = nullptr);

    // All at once, so that the button repaints once per change of state.
    void setLook(const QString& title, const QString& symbol, std::optional<QColor> tint, const QString& help);
    // Read as the accessible value ("On", "Off"); empty: none.
    void setValueText(const QString& value);

    QString title() const { return m_title; }
    QString symbol() const { return m_symbol; }
    QColor symbolColor() const;
    QString valueText() const { return m_value; }

    QSize sizeHint() const override { return QSize(36, 36); }

    // How long a new symbol takes to replace the old one.
    static constexpr int crossfadeMilliseconds = 250;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
    void changeEvent(QEvent* event) override;

private:
    QString m_title;
    QString m_symbol;
    std::optional<QColor> m_tint;
    QString m_value;
    QPixmap m_pixmap; // the symbol drawn in its colour; made again when that changes
    // The symbol being replaced, fading out while the new one fades in.
    QPixmap m_leaving;
    QVariantAnimation* m_crossfade;
};
