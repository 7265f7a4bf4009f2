#include "MakerLink.h"
#include "PlainText.h"

#include "Accessibility.h"
#include "Mirvek.h"

#include <QAccessibleWidget>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace {

// The maker's credit: a link while it has a site to open.
class MakerLinkInterface : public QAccessibleWidget {
public:
    explicit MakerLinkInterface(MakerLink* link)
        : QAccessibleWidget(link, link->site().isValid() ? QAccessible::Link : QAccessible::StaticText)
    {
    }

    MakerLink* link() const { return static_cast<MakerLink*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return Accessibility::name(link()->accessibleName(), MakerLink::text());
        case QAccessible::Value:
            return link()->site().isValid() ? link()->site().toString() : QString();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = link()->site().isValid();
        return s;
    }
    QStringList actionNames() const override
    {
        return link()->site().isValid() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            link()->open();
    }
};

QAccessibleInterface* makerLinkInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("MakerLink"))
        return new MakerLinkInterface(static_cast<MakerLink*>(object));
    return nullptr;
}

} // namespace

// ---- MakerLink -----------------------------------------------------------------------

MakerLink::MakerLink(const QUrl& site, QWidget* parent) : QWidget(parent), m_site(site)
{
    static const bool installed = [] {
        QAccessible::installFactory(makerLinkInterface);
        return true;
    }();
    Q_UNUSED(installed)
    setObjectName(QStringLiteral("makerLink"));
    if (m_site.isValid()) {
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setToolTip(PlainText::toolTip(m_site.host()));
    }
}

QString MakerLink::text()
{
    return QStringLiteral("by MIRVEK");
}

void MakerLink::open()
{
    if (m_site.isValid())
        QDesktopServices::openUrl(m_site);
}

QFont MakerLink::markFont() const
{
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    bold.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    return bold;
}

QRect MakerLink::markRect() const
{
    return QRect(0, (height() - markSide) / 2, markSide, markSide);
}

int MakerLink::textStart()
{
    return markSide + markGap;
}

QSize MakerLink::sizeHint() const
{
    const QFontMetrics plain = fontMetrics();
    const QFontMetrics mark(markFont());
    return QSize(textStart() + plain.horizontalAdvance(QStringLiteral("by ")) +
                     mark.horizontalAdvance(QStringLiteral("MIRVEK")),
                 qMax(markSide, qMax(plain.height(), mark.height())));
}

void MakerLink::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = palette().color(QPalette::WindowText);
    Mirvek::paint(painter, QRectF(markRect()), colour);
    const QFontMetrics plain = fontMetrics();
    const QFont bold = markFont();
    const QFontMetrics mark(bold);
    const int ascent = qMax(plain.ascent(), mark.ascent());
    const int height = qMax(plain.height(), mark.height());
    const qreal baseline = (this->height() - height) / 2.0 + ascent;
    painter.setPen(colour);
    painter.drawText(QPointF(textStart(), baseline), QStringLiteral("by "));
    painter.setFont(bold);
    painter.drawText(QPointF(textStart() + plain.horizontalAdvance(QStringLiteral("by ")), baseline),
                     QStringLiteral("MIRVEK"));
    if (hasFocus()) {
        QStyleOptionFocusRect ring;
        ring.initFrom(this);
        ring.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, &painter, this);
    }
}

void MakerLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        open();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MakerLink::keyPressEvent(QKeyEvent* event)
{
    if (m_site.isValid() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        open();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MakerLink::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
