#include "SidebarRows.h"
#include "PlainText.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Look.h"
#include "Theme.h"
#include "WindowRules.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

// ---- LocationRow ------------------------------------------------------------------

LocationRow::LocationRow(const QString& name, const QString& symbol, const QString& path, QWidget* parent)
    : SidebarItem(parent), m_symbol(symbol), m_path(path)
{
    setText(name);
    setCheckable(true);
    setObjectName(name);
    // Redrawn on hover for its highlight.
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

QSize LocationRow::sizeHint() const
{
    return QSize(200, qMax(26, fontMetrics().height() + 10));
}

void LocationRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    const QRectF area = QRectF(rect()).adjusted(6, 1, -6, -1);
    if (isChecked()) {
        QColor fill = accent;
        fill.setAlphaF(0.22f);
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, fill);
    } else if (underMouse()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, Look::quaternaryFill(palette()));
    }
    const int iconSize = 16;
    const QPixmap icon = Look::symbol(m_symbol, iconSize, accent, devicePixelRatioF());
    painter.drawPixmap(QPointF(area.left() + 8, area.center().y() - iconSize / 2.0), icon);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF textArea = area.adjusted(8 + iconSize + 8, 0, -8, 0);
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideRight, int(textArea.width())));
    paintFocus(painter, area);
}

// ---- DeviceRow ---------------------------------------------------------------------

DeviceRow::DeviceRow(const Environment& env, const Device& device, bool isCurrent, QWidget* parent)
    : SidebarItem(parent), m_env(env), m_device(device), m_isCurrent(isCurrent)
{
    setObjectName(device.serial);
    setText(device.model);
    // The phone's name is plain text: an "&" in it is no shortcut.
    setShortcut(QKeySequence());
    setToolTip(PlainText::toolTip(device.model));
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    BrowserModel* model = m_env.model;
    const QString serial = device.serial;
    // Choosing the chosen phone again is no change for the model.
    connect(this, &QAbstractButton::clicked, this, [model, serial] { model->setSelectedSerial(serial); });
}

QString DeviceRow::symbolName() const
{
    return WindowRules::transportSymbol(m_device);
}

QString DeviceRow::stateLine() const
{
    return m_device.isReady() ? QString() : m_device.stateDescription();
}

QSize DeviceRow::sizeHint() const
{
    const int nameHeight = fontMetrics().height();
    const int stateHeight = stateLine().isEmpty() ? 0 : QFontMetrics(Look::caption2(font())).height() + 1;
    return QSize(200, qMax(28, nameHeight + stateHeight + 10));
}

void DeviceRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(6, 1, -6, -1);
    if (underMouse()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, Look::quaternaryFill(palette()));
    }
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    const int iconSize = 16;
    const QPixmap icon =
        Look::symbol(symbolName(), iconSize, m_isCurrent ? accent : Look::secondary(palette()), devicePixelRatioF());
    // An 18 wide frame for the symbol.
    painter.drawPixmap(QPointF(area.left() + 8 + 1, area.center().y() - iconSize / 2.0), icon);

    qreal right = area.right() - 8;
    if (m_isCurrent) {
        const QPixmap check = Look::symbol(QStringLiteral("checkmark"), 12, Look::secondary(palette()), devicePixelRatioF());
        painter.drawPixmap(QPointF(right - 12, area.center().y() - 6), check);
        right -= 12 + 6;
    }
    const qreal left = area.left() + 8 + 18 + 8;
    const QString state = stateLine();
    const QFontMetrics nameMetrics = fontMetrics();
    const QFont stateFont = Look::caption2(font());
    const QFontMetrics stateMetrics(stateFont);
    const qreal textHeight = nameMetrics.height() + (state.isEmpty() ? 0 : 1 + stateMetrics.height());
    qreal top = area.center().y() - textHeight / 2;
    const int width = int(right - left);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(left, top, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(m_device.model, Qt::ElideRight, width));
    if (!state.isEmpty()) {
        top += nameMetrics.height() + 1;
        painter.setFont(stateFont);
        painter.setPen(Look::orange());
        painter.drawText(QRectF(left, top, width, stateMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         stateMetrics.elidedText(state, Qt::ElideRight, width));
    }
    paintFocus(painter, area);
}

QMenu* DeviceRow::makeContextMenu()
{
    if (!offersMenu())
        return nullptr;
    auto* menu = new QMenu(this);
    Accessibility::setName(menu, {}, m_device.model);
    QAction* disconnect = menu->addAction(QStringLiteral("Disconnect"));
    connect(disconnect, &QAction::triggered, menu,
            [model = m_env.model, device = m_device] { model->disconnect(device); });
    return menu;
}

void DeviceRow::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = makeContextMenu()) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
    event->accept();
}
