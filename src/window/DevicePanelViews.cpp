#include "DevicePanelViews.h"

#include "Accessibility.h"
#include "Digits.h"
#include "Glass.h"
#include "Look.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

namespace {

constexpr int tileSize = 40;
constexpr int badgeSize = 17;
constexpr int circleSize = 32;
constexpr qreal disabledOpacity = 0.4;

// The connection badge: a small symbol on a material circle.
class TileBadge : public QWidget {
public:
    explicit TileBadge(QWidget* parent) : QWidget(parent) { setFixedSize(badgeSize, badgeSize); }

    void setSymbol(const QString& symbol)
    {
        m_symbol = symbol;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(rect());
        GlassSurface::paint(painter, GlassSurface::outline(GlassSurface::Shape::circle, area, 0), palette());
        const int size = 10;
        painter.drawPixmap(QRect((width() - size) / 2, (height() - size) / 2, size, size),
                           Look::symbol(m_symbol, size, Look::secondary(palette()), devicePixelRatioF()));
    }

private:
    QString m_symbol;
};

// A tool's symbol on its glass circle, shadow and all; the button under it
// takes the clicks.
class ToolCircle : public GlassSurface {
public:
    explicit ToolCircle(ToolButton* button) : GlassSurface(Shape::circle, 0, true, button), m_button(button)
    {
        setObjectName(QStringLiteral("toolCircle"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFixedSize(circleSize, circleSize);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        GlassSurface::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF circle(rect());
        if (m_button->hasFocus()) {
            painter.setPen(QPen(Theme::accent(Theme::isDark(palette())), 2));
            painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
        }
        const int size = 17; // the symbol at 14 points
        const QColor color = m_button->tint().value_or(Theme::accent(Theme::isDark(palette())));
        painter.drawPixmap(QRectF(circle.center().x() - size / 2.0, circle.center().y() - size / 2.0, size, size),
                           Look::symbol(m_button->symbolName(), size, color, devicePixelRatioF()), QRectF());
    }

private:
    ToolButton* m_button;
};

} // namespace

// ---- OneLineLabel ------------------------------------------------------------------

OneLineLabel::OneLineLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize OneLineLabel::minimumSizeHint() const
{
    return QSize(0, fontMetrics().height());
}

void OneLineLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text().simplified(), Qt::ElideRight, area.width()));
}

// ---- DeviceTile --------------------------------------------------------------------

DeviceTile::DeviceTile(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("deviceTile"));
    // The badge stands 4 past the face's corner.
    setFixedSize(tileSize + 4, tileSize + 4);
    auto* face = new AccentTile(QStringLiteral("smartphone"), tileSize, 11, 0.65, this);
    m_badgeView = new TileBadge(this);
    // One shadow below the face and its badge, on the card, where this box's
    // edge 4 past the face would cut it off.
    face->castShadowFrom(this);
    m_badgeView->move(tileSize - badgeSize + 4, tileSize - badgeSize + 4);
    Accessibility::hide(this);
}

void DeviceTile::setDevice(const Device& device)
{
    m_badge = badgeSymbol(device);
    static_cast<TileBadge*>(m_badgeView)->setSymbol(m_badge);
    setToolTip(helpText(device));
}

QString DeviceTile::badgeSymbol(const Device& device)
{
    if (!device.isReady())
        return QStringLiteral("lock.fill");
    if (device.isWireless())
        return QStringLiteral("wifi");
    if (device.transport == Device::Transport::mtp)
        return QStringLiteral("folder.fill");
    return QStringLiteral("cable.connector");
}

QString DeviceTile::helpText(const Device& device)
{
    if (device.transport == Device::Transport::mtp)
        return QStringLiteral("Connected for file transfer");
    if (device.isWireless())
        return QStringLiteral("Connected over Wi-Fi");
    return QStringLiteral("Connected over USB");
}

// ---- ToolButton --------------------------------------------------------------------

ToolButton::ToolButton(const QString& title, const QString& symbol, const QString& help, QWidget* parent)
    : QAbstractButton(parent)
{
    setToolTip(help);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_circle = new ToolCircle(this);
    m_circle->setOpacity(opacity());
    setLook(title, symbol);
}

void ToolButton::setLook(const QString& title, const QString& symbol, const std::optional<QColor>& tint)
{
    if (title == text() && symbol == m_symbol && tint == m_tint)
        return;
    setText(title);
    // Our own titles: no mnemonics.
    setShortcut(QKeySequence());
    Accessibility::setName(this, {}, title, toolTip());
    m_symbol = symbol;
    m_tint = tint;
    updateGeometry();
    update();
    m_circle->update();
}

qreal ToolButton::opacity() const
{
    return isEnabled() ? 1.0 : disabledOpacity;
}

QFont ToolButton::titleFont() const
{
    // 9.5 of the platform's 13-point body text.
    QFont font = this->font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(base * 9.5 / 13.0);
    font.setWeight(QFont::Medium);
    return font;
}

QSize ToolButton::sizeHint() const
{
    const QFontMetrics metrics(titleFont());
    return QSize(std::max(circleSize, metrics.horizontalAdvance(text())), circleSize + 4 + metrics.height());
}

QSize ToolButton::minimumSizeHint() const
{
    return sizeHint();
}

void ToolButton::resizeEvent(QResizeEvent* event)
{
    m_circle->move((width() - circleSize) / 2, 0);
    QAbstractButton::resizeEvent(event);
}

void ToolButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        m_circle->setOpacity(opacity());
    QAbstractButton::changeEvent(event);
}

void ToolButton::focusInEvent(QFocusEvent* event)
{
    m_circle->update();
    QAbstractButton::focusInEvent(event);
}

void ToolButton::focusOutEvent(QFocusEvent* event)
{
    m_circle->update();
    QAbstractButton::focusOutEvent(event);
}

void ToolButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity());
    painter.setFont(titleFont());
    painter.setPen(Look::secondary(palette()));
    // Kept whole: the cell is at least as wide as the title.
    painter.drawText(QRectF(0, circleSize + 4, width(), height() - circleSize - 4), Qt::AlignHCenter | Qt::AlignTop,
                     text());
}

// ---- RecordingBadge ----------------------------------------------------------------

RecordingBadge::RecordingBadge(QWidget* parent)
    : QAbstractButton(parent), m_now([] { return QDateTime::currentDateTimeUtc(); })
{
    setObjectName(QStringLiteral("recordingBadge"));
    setToolTip(QStringLiteral("Stop recording and copy the video to your computer"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    const QFont caption = Look::caption(font());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(6);
    auto* dot = new QWidget(this);
    dot->setFixedSize(7, 7);
    dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;").arg(Look::red().name()));
    Accessibility::hide(dot);
    row->addWidget(dot);
    // Digits of one width: the text keeps its width as the seconds go by.
    m_time = new DigitsLabel(this);
    m_time->setObjectName(QStringLiteral("recordingTime"));
    m_time->setFont(caption);
    row->addWidget(m_time);
    row->addStretch();
    auto* stop = new QLabel(QStringLiteral("Stop"), this);
    QFont bold = caption;
    bold.setWeight(QFont::DemiBold);
    stop->setFont(bold);
    row->addWidget(stop);
    setText(QStringLiteral("Stop"));
    setShortcut(QKeySequence());
    Accessibility::setName(this, {}, QStringLiteral("Stop"), toolTip());
}

void RecordingBadge::setStarted(const QDateTime& started)
{
    m_started = started;
    if (isVisible())
        tick();
}

void RecordingBadge::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
    if (isVisible())
        tick();
}

QString RecordingBadge::elapsedText(const QDateTime& started, const QDateTime& now)
{
    // Cut toward zero, and nothing before the start.
    const qint64 seconds = std::max<qint64>(0, started.msecsTo(now) / 1000);
    return QStringLiteral("Recording %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString RecordingBadge::timeText() const
{
    return m_time->text();
}

void RecordingBadge::tick()
{
    const QDateTime now = m_now();
    m_time->setText(elapsedText(m_started, now));
    // The next whole second since the start.
    const qint64 into = ((m_started.msecsTo(now) % 1000) + 1000) % 1000;
    m_timer.start(int(1000 - into), this);
}

void RecordingBadge::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timer.timerId())
        tick();
    else
        QAbstractButton::timerEvent(event);
}

void RecordingBadge::showEvent(QShowEvent* event)
{
    tick();
    QAbstractButton::showEvent(event);
}

void RecordingBadge::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QAbstractButton::hideEvent(event);
}

void RecordingBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Look::red();
    fill.setAlphaF(isDown() ? 0.22f : 0.14f);
    const QRectF area(rect());
    painter.fillPath(GlassSurface::outline(GlassSurface::Shape::capsule, area, 0), fill);
    if (hasFocus()) {
        painter.setPen(QPen(Theme::accent(Theme::isDark(palette())), 2));
        painter.drawPath(GlassSurface::outline(GlassSurface::Shape::capsule, area.adjusted(1, 1, -1, -1), 0));
    }
}
