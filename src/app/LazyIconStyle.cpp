#include "LazyIconStyle.h"

#include "Symbols.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QWidget>

#include <optional>

namespace {

// Asks the style for the icon at the first use that needs its pictures.
class LazyIconEngine final : public QIconEngine {
public:
    LazyIconEngine(const QStyle* style, QStyle::StandardPixmap which, bool rightToLeft)
        : m_style(style), m_which(which), m_rightToLeft(rightToLeft)
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    // Asking would load it: the styles have a picture for each of these.
    bool isNull() override { return false; }
    QIconEngine* clone() const override { return new LazyIconEngine(*this); }
    QString key() const override { return QStringLiteral("LazyIconEngine"); }

private:
    const QIcon& icon()
    {
        if (!m_icon) {
            // The style's icons depend on the direction only, not on the widget.
            QStyleOption option;
            option.direction = m_rightToLeft ? Qt::RightToLeft : Qt::LeftToRight;
            m_icon = m_style ? m_style->standardIcon(m_which, &option) : QIcon();
        }
        return *m_icon;
    }

    QPointer<const QStyle> m_style; // the base style
    QStyle::StandardPixmap m_which;
    bool m_rightToLeft;
    std::optional<QIcon> m_icon;
};

} // namespace

LazyIconStyle::LazyIconStyle(const QString& key)
    : QProxyStyle(key),
      // Fusion fills a horizontal toolbar with a gradient down it and lines
      // across it, the same in every column; other styles may draw edges.
      m_toolBarsRepeatAcross(baseStyle() && baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0)
{
}

QIcon LazyIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option, const QWidget* widget) const
{
    switch (standardIcon) {
    case SP_ToolBarHorizontalExtensionButton:
    case SP_ToolBarVerticalExtensionButton:
    case SP_LineEditClearButton: {
        const bool rightToLeft = option ? option->direction == Qt::RightToLeft
                                        : (widget ? widget->layoutDirection() == Qt::RightToLeft
                                                  : QGuiApplication::layoutDirection() == Qt::RightToLeft);
        return QIcon(new LazyIconEngine(baseStyle(), standardIcon, rightToLeft));
    }
    default:
        // The rest may come from the icon theme, which is chosen late.
        Symbols::ensureIconTheme();
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    }
}

void LazyIconStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionToolBar*>(option);
    // On a scaled screen the base style's lines reach past the bar's edges.
    if (element != CE_ToolBar || !bar || !painter || !painter->device() || !m_toolBarsRepeatAcross
        || painter->device()->devicePixelRatio() != 1.0 || !(bar->state & State_Horizontal)
        || bar->rect.width() <= stripWidth || bar->rect.height() < 4) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    // The base style computes its gradient pixel by pixel, a millisecond or
    // two for a window-wide bar at every repaint; each column of it is the
    // same, so a strip is drawn once and repeated.
    const QString key = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                            .arg(bar->rect.height())
                            .arg(bar->palette.cacheKey())
                            .arg(int(bar->state))
                            .arg(int(bar->toolBarArea))
                            .arg(int(bar->positionOfLine))
                            .arg(int(bar->positionWithinLine))
                            .arg(widget && widget->parentWidget() ? widget->parentWidget()->metaObject()->className() : "");
    auto found = m_toolBarStrips.constFind(key);
    if (found == m_toolBarStrips.constEnd()) {
        QPixmap strip(stripWidth, bar->rect.height());
        strip.fill(Qt::transparent);
        {
            QPainter stripPainter(&strip);
            QStyleOptionToolBar narrow = *bar;
            narrow.rect = QRect(0, 0, stripWidth, bar->rect.height());
            QProxyStyle::drawControl(element, &narrow, &stripPainter, widget);
        }
        // Palettes come and go with their keys; a handful of bars are in use.
        if (m_toolBarStrips.size() > 16)
            m_toolBarStrips.clear();
        found = m_toolBarStrips.insert(key, strip);
    }
    painter->drawTiledPixmap(bar->rect, *found);
}
