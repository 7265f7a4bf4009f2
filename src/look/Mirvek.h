#pragma once

#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QUrl>
#include <QWidget>

// The maker's corner of the application: the logo (a rounded hexagon cell
// with the brand's initial inside) and the credits; the About panel that
// shows them is the application's (AboutPanel.h).
namespace Mirvek {

// The maker's web address; under the reserved ".example" domain.
const QUrl& site();

// Both paths live in a 100 × 100 square, y downward, centre (50, 50).
// The cell is always stroked 6 units wide, never filled.
const QPainterPath& cell();
// The brand's initial, always filled with the non-zero rule, never stroked.
const QPainterPath& letter();

// Draws the logo scaled from the 100-unit square onto `square`.
void paint(QPainter& painter, const QRectF& square, const QColor& colour);

// The logo as a square image of `side` logical pixels at `devicePixelRatio`,
// in `colour` (the palette's text colour when invalid).
QImage markImage(int side, qreal devicePixelRatio = 1.0, QColor colour = {});

// The application's icon: the logo in the accent colour, at the usual sizes.
QIcon applicationIcon();
// The sizes the icon is installed at, in the desktop's icon theme.
QList<int> iconSizes();

// The credits: the logo, "Made by MIRVEK" and the link to the site.
QWidget* credits(QWidget* parent);

} // namespace Mirvek

// The logo as a view, in the foreground colour, centred in its frame.
class MirvekMark : public QWidget {
    Q_OBJECT
public:
    explicit MirvekMark(QWidget* parent = nullptr);

    // Where the 100-unit square lands in a frame of `size`, and how wide the
    // cell's line is drawn there.
    struct Layout {
        QRectF square;
        qreal lineWidth = 0;
    };
    static Layout layout(QSizeF size);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
