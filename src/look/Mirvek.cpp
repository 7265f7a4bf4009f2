#include "Mirvek.h"

#include "Theme.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

qreal twoDecimals(qreal value)
{
    return std::round(value * 100.0) / 100.0;
}

// A closed outline through `corners`, each corner rounded by a quadratic
// curve whose control point is the corner and whose ends lie `cut` units
// along its two edges.
QPainterPath roundedPolygon(const QList<QPointF>& corners, qreal cut)
{
    auto towards = [cut](QPointF from, QPointF to) {
        const QPointF d = to - from;
        const qreal length = std::hypot(d.x(), d.y());
        const QPointF p = from + d * (cut / length);
        return QPointF(twoDecimals(p.x()), twoDecimals(p.y()));
    };
    const qsizetype n = corners.size();
    QPainterPath path;
    path.moveTo(towards(corners[0], corners[1]));
    for (qsizetype i = 1; i <= n; ++i) {
        const QPointF corner = corners[i % n];
        path.lineTo(towards(corner, corners[i - 1]));
        path.quadTo(corner, towards(corner, corners[(i + 1) % n]));
    }
    path.closeSubpath();
    return path;
}

} // namespace

namespace Mirvek {

const QUrl& site()
{
    static const QUrl url(QStringLiteral("https://mirvek.example/"), QUrl::StrictMode);
    return url;
}

const QPainterPath& cell()
{
    static const QPainterPath path = [] {
        QPainterPath p;
        p.moveTo(53.03, 7.25);
        p.lineTo(85.51, 26.0);
        p.quadTo(88.54, 27.75, 88.54, 31.25);
        p.lineTo(88.54, 68.75);
        p.quadTo(88.54, 72.25, 85.51, 74.0);
        p.lineTo(53.03, 92.75);
        p.quadTo(50, 94.5, 46.97, 92.75);
        p.lineTo(14.49, 74.0);
        p.quadTo(11.46, 72.25, 11.46, 68.75);
        p.lineTo(11.46, 31.25);
        p.quadTo(11.46, 27.75, 14.49, 26.0);
        p.lineTo(46.97, 7.25);
        p.quadTo(50, 5.5, 53.03, 7.25);
        p.closeSubpath();
        return p;
    }();
    return path;
}

const QPainterPath& letter()
{
    // An "M" of straight strokes, 9 units thick, spanning x 29–71, y 30.4–69.6.
    static const QPainterPath path = roundedPolygon(
        {{29, 69.6}, {29, 30.4}, {38.5, 30.4}, {50, 50.5}, {61.5, 30.4}, {71, 30.4}, {71, 69.6}, {62, 69.6},
         {62, 46}, {53.5, 61}, {46.5, 61}, {38, 46}, {38, 69.6}},
        1.2);
    return path;
}

void paint(QPainter& painter, const QRectF& square, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(square.topLeft());
    painter.scale(square.width() / 100.0, square.height() / 100.0);
    painter.setPen(QPen(colour, 6.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cell());
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(letter());
    painter.restore();
}

QImage markImage(int side, qreal devicePixelRatio, QColor colour)
{
    if (!colour.isValid())
        colour = QApplication::palette().color(QPalette::WindowText);
    const int pixels = std::max(1, int(std::ceil(side * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&image);
    paint(painter, QRectF(0, 0, side, side), colour);
    return image;
}

QList<int> iconSizes()
{
    return {16, 22, 24, 32, 48, 64, 128, 256};
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int side : iconSizes())
        icon.addPixmap(QPixmap::fromImage(markImage(side, 1.0, Theme::accent(false))));
    return icon;
}

QWidget* credits(QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("credits"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* logo = new MirvekMark(box);
    logo->setFixedSize(22, 22);
    column->addWidget(logo, 0, Qt::AlignHCenter);

    QFont small = box->font();
    small.setPointSizeF(small.pointSizeF() * 11.0 / 13.0);
    const QColor secondary = box->palette().color(QPalette::PlaceholderText);
    auto* made = new QLabel(box);
    made->setObjectName(QStringLiteral("madeBy"));
    made->setFont(small);
    made->setTextFormat(Qt::RichText);
    made->setText(QStringLiteral("<span style=\"color: %1\">Made by </span><b style=\"letter-spacing: 1.5px\">MIRVEK</b>")
                      .arg(secondary.name(QColor::HexArgb)));
    made->setAccessibleName(QStringLiteral("Made by MIRVEK"));
    column->addWidget(made, 0, Qt::AlignHCenter);

    auto* link = new QLabel(box);
    link->setObjectName(QStringLiteral("siteLink"));
    link->setFont(small);
    link->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                      .arg(site().toString(QUrl::FullyEncoded), site().host().toHtmlEscaped()));
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    column->addWidget(link, 0, Qt::AlignHCenter);
    return box;
}

} // namespace Mirvek

MirvekMark::MirvekMark(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QStringLiteral("MIRVEK"));
}

MirvekMark::Layout MirvekMark::layout(QSizeF size)
{
    const qreal side = std::min(size.width(), size.height());
    return {QRectF((size.width() - side) / 2, (size.height() - side) / 2, side, side), side * 6.0 / 100.0};
}

void MirvekMark::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Mirvek::paint(painter, layout(size()).square, palette().color(foregroundRole()));
}
