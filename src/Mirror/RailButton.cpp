#include "RailButton.h"

#include "Accessibility.h"
#include "Look.h"
#include "MirrorLook.h"
#include "Theme.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace {

// A push button whose value says whether its switch is on.
class RailButtonAccessible : public QAccessibleWidget {
public:
    explicit RailButtonAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}
    RailButton* button() const { return static_cast<RailButton*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return button()->valueText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        return button()->isEnabled() ? QStringList {QAccessibleActionInterface::pressAction()} : QStringList {};
    }
    void doAction(const QString& action) override
    {
        if (action == QAccessibleActionInterface::pressAction() && button()->isEnabled())
            button()->click();
    }
};

QAccessibleInterface* railButtonFactory(const QString& className, QObject* object)
{
    if (className == QStringLiteral("RailButton") && object && object->isWidgetType())
        return new RailButtonAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

// The body text style at semibold weight, as the symbol's size.
int symbolSize(const QFont& base)
{
    QFont font = base;
    font.setWeight(QFont::DemiBold);
    return QFontMetrics(font).height();
}

} // namespace

RailButton::RailButton(const QString& title, const QString& symbol, std::optional<QColor> tint, const QString& help,
                       QWidget* parent)
    : QAbstractButton(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(railButtonFactory);
        return true;
    }();
    (void)installed;
    setFixedSize(36, 36);
    // Reached by Tab elsewhere, but a click leaves the keys with the screen.
    setFocusPolicy(Qt::TabFocus);
    setLook(title, symbol, tint, help);
}

void RailButton::setLook(const QString& title, const QString& symbol, std::optional<QColor> tint, const QString& help)
{
    if (title == m_title && symbol == m_symbol && tint == m_tint && help == toolTip())
        return;
    const bool redraw = symbol != m_symbol || tint != m_tint;
    m_title = title;
    m_symbol = symbol;
    m_tint = tint;
    setToolTip(help);
    Accessibility::setName(this, title, {}, help);
    if (redraw) {
        m_pixmap = {};
        update();
    }
}

void RailButton::setValueText(const QString& value)
{
    if (value == m_value)
        return;
    m_value = value;
    QAccessibleValueChangeEvent event(this, value);
    QAccessible::updateAccessibility(&event);
}

QColor RailButton::symbolColor() const
{
    return m_tint.value_or(MirrorLook::white(0.9));
}

bool RailButton::hitButton(const QPoint& position) const
{
    const QPointF centre = QRectF(rect()).center();
    const qreal radius = std::min(width(), height()) / 2.0;
    const QPointF offset = QPointF(position) + QPointF(0.5, 0.5) - centre;
    return offset.x() * offset.x() + offset.y() * offset.y() <= radius * radius;
}

void RailButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ScreenChangeInternal)
        m_pixmap = {};
    QAbstractButton::changeEvent(event);
}

void RailButton::paintEvent(QPaintEvent*)
{
    if (m_pixmap.isNull() || m_pixmap.devicePixelRatio() != devicePixelRatioF())
        m_pixmap = Look::symbol(m_symbol, symbolSize(font()), symbolColor(), devicePixelRatioF());
    QPainter painter(this);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    const QSizeF size = QSizeF(m_pixmap.size()) / m_pixmap.devicePixelRatio();
    const QPointF corner = QRectF(rect()).center() - QPointF(size.width() / 2, size.height() / 2);
    painter.drawPixmap(corner, m_pixmap);
    if (hasFocus()) { // as the glass buttons mark theirs; the rail is always dark
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(1.0);
        painter.setPen(QPen(Theme::accent(true), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}
