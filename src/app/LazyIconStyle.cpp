#include "LazyIconStyle.h"

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

LazyIconStyle::LazyIconStyle(const QString& key) : QProxyStyle(key) {}

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
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    }
}
