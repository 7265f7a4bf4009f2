#include "StorageMeter.h"

#include "Glass.h"
#include "Look.h"
#include "Theme.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

// One element for screen readers: "Storage", valued by the free-of-total text.
class MeterInterface : public QAccessibleWidget {
public:
    explicit MeterInterface(StorageMeter* meter) : QAccessibleWidget(meter, QAccessible::Indicator) {}

    StorageMeter* meter() const { return static_cast<StorageMeter*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return QStringLiteral("Storage");
        case QAccessible::Value:
            return StorageMeter::text(meter()->total(), meter()->free());
        default:
            return {};
        }
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
};

QAccessibleInterface* meterInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("StorageMeter"))
        return new MeterInterface(static_cast<StorageMeter*>(object));
    return nullptr;
}

} // namespace

StorageMeter::StorageMeter(QWidget* parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(meterInterface);
        return true;
    }();
    Q_UNUSED(installed)
    setObjectName(QStringLiteral("storageMeter"));
    setFixedHeight(4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StorageMeter::setStorage(int64_t total, int64_t free)
{
    if (total == m_total && free == m_free)
        return;
    m_total = total;
    m_free = free;
    setToolTip(text(total, free));
    update();
}

double StorageMeter::fraction(int64_t total, int64_t free)
{
    if (total <= 0)
        return 0;
    // In doubles: a negative free or one above the total must not overflow.
    const double used = double(total) - double(free);
    return std::clamp(used / double(total), 0.0, 1.0);
}

qreal StorageMeter::barWidth(qreal width, double fraction)
{
    return std::min(width, std::max<qreal>(4, width * fraction));
}

QColor StorageMeter::barColor(double fraction, bool dark)
{
    return fraction > 0.9 ? Look::orange() : Theme::accent(dark);
}

QString StorageMeter::text(int64_t total, int64_t free)
{
    return Look::byteCount(free) + QStringLiteral(" free of ") + Look::byteCount(total);
}

void StorageMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(rect());
    painter.fillPath(GlassSurface::outline(GlassSurface::Shape::capsule, track, 0), Look::quaternaryFill(palette()));
    const double used = fraction(m_total, m_free);
    const QRectF bar(track.left(), track.top(), barWidth(track.width(), used), track.height());
    painter.fillPath(GlassSurface::outline(GlassSurface::Shape::capsule, bar, 0),
                     barColor(used, Theme::isDark(palette())));
}
