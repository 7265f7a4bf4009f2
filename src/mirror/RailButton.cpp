#include "RailButton.h"

#include "Accessibility.h"
#include "Look.h"
#include "MirrorLook.h"
#include "Motion.h"
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
    : QAbstractButton(parent), m_crossfade(new QVariantAnimation(this))
{
    static const bool installed = [] {
        QAccessible::installFactory(railButtonFactory);
        return true;
    }();
    (void)installed;
    setFixedSize(36, 36);
    // Reached by Tab elsewhere, but a click leaves the keys with the screen.
    setFocusPolicy(Qt::TabFocus);
    m_crossfade->setStartValue(0.0);
    m_crossfade->setEndValue(1.0);
    m_crossfade->setDuration(crossfadeMilliseconds);
    m_crossfade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_crossfade, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(m_crossfade, &QVariantAnimation::finished, this, [this] {
        m_leaving = {};
        update();
    });
    setLook(title, symbol, tint, help);
}

void RailButton::setLook(const QString& title, const QString& symbol, std::optional<QColor> tint, const QString& help)
{
    if (title == m_title && symbol == m_symbol && tint == m_tint && help == toolTip())
        return;
    const bool redraw = symbol != m_symbol || tint != m_tint;
    const QString previousSymbol = m_symbol;
    m_title = title;
    m_symbol = symbol;
    m_tint = tint;
    setToolTip(help);
    Accessibility::setName(this, title, {}, help);
    if (redraw) {
        // A new symbol replaces the one shown by a crossfade; one shown
        // for the first time, or with reduced motion, changes at once.
        m_crossfade->stop();
        m_leaving = {};
        if (symbol != previousSymbol && !m_pixmap.isNull() && isVisible() && !Motion::reduced()) {
            m_leaving = m_pixmap;
            m_crossfade->start();
        }
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
    const qreal opacity = isEnabled() ? 1.0 : 0.4;
    const auto drawCentred = [&](const QPixmap& pixmap, qreal share) {
        const QSizeF size = QSizeF(pixmap.size()) / pixmap.devicePixelRatio();
        const QPointF corner = QRectF(rect()).center() - QPointF(size.width() / 2, size.height() / 2);
        painter.setOpacity(opacity * share);
        painter.drawPixmap(corner, pixmap);
    };
    if (!m_leaving.isNull() && m_crossfade->state() != QAbstractAnimation::Stopped) {
        const qreal progress = m_crossfade->currentValue().toReal();
        drawCentred(m_leaving, 1.0 - progress);
        drawCentred(m_pixmap, progress);
    } else {
        drawCentred(m_pixmap, 1.0);
    }
    if (hasFocus()) { // as the glass buttons mark theirs; the rail is always dark
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(1.0);
        painter.setPen(QPen(Theme::accent(true), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}
