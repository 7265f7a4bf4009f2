#include "QrPane.h"

#include "Look.h"
#include "Spinner.h"
#include "Theme.h"
#include "ViewfinderCorners.h"
#include "WirelessConnectView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int cardSize = 184;
constexpr int tilePadding = 10;
constexpr int cardRadius = 14;
constexpr int codeInset = 12;

QRectF cardRect()
{
    return QRectF(tilePadding, tilePadding, cardSize, cardSize);
}

// The step's number, white on an accent circle.
class StepBadge : public QWidget {
public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), m_number(number)
    {
        setFixedSize(20, 20);
        setAccessibleName(QString::number(number));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::accent(Theme::isDark(palette())));
        painter.drawEllipse(rect());
        QFont number = Look::caption(font());
        number.setBold(true);
        painter.setFont(number);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
    }

private:
    int m_number;
};

// A numbered step: the badge on the first line's baseline, the text wrapping.
QWidget* step(int number, const QString& text, Qt::TextFormat format, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new StepBadge(number, row), 0, Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setTextFormat(format);
    label->setWordWrap(true);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

// ---- the tile ------------------------------------------------------------------

QrTile::QrTile(QWidget* parent) : GlassSurface(Shape::roundedRectangle, 22, false, parent)
{
    setObjectName(QStringLiteral("qrTile"));
    setFixedSize(cardSize + 2 * tilePadding, cardSize + 2 * tilePadding);
    m_spinner = new Spinner(this);
    m_spinner->setFixedSize(32, 32);
    m_spinner->move((width() - m_spinner->width()) / 2, (height() - m_spinner->height()) / 2);
    m_spinner->hide();
}

void QrTile::setImage(const QImage& image)
{
    m_image = image;
    setAccessibleName(image.isNull() ? QString() : QStringLiteral("Pairing QR code"));
    update();
}

void QrTile::setVeiled(bool veiled)
{
    m_veiled = veiled;
    m_spinner->setVisible(veiled);
    update();
}

void QrTile::paintCard(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(cardRect(), cardRadius, cardRadius);
    painter.fillPath(card, Qt::white);
    if (!m_image.isNull()) {
        // No smoothing: every module keeps its hard edges.
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(cardRect().adjusted(codeInset, codeInset, -codeInset, -codeInset), m_image);
        painter.restore();
    }
    if (m_veiled) {
        QColor veil(Qt::white);
        veil.setAlphaF(0.88f);
        painter.fillPath(card, veil);
    }
}

QImage QrTile::card() const
{
    QImage image(size() * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintCard(painter);
    return image;
}

void QrTile::paintEvent(QPaintEvent* event)
{
    GlassSurface::paintEvent(event);
    QPainter painter(this);
    paintCard(painter);
    QPen pen(Theme::accent(Theme::isDark(palette())), 3, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(ViewfinderCorners::path(QRectF(rect())));
}

// ---- the pane ------------------------------------------------------------------

QrPane::QrPane(WirelessConnectView& sheet) : QWidget(nullptr), m_sheet(sheet)
{
    setObjectName(QStringLiteral("qrPane"));
    setFixedHeight(216);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(22);
    m_tile = new QrTile(this);
    row->addWidget(m_tile, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(14);
    column->addWidget(step(1, QStringLiteral("Connect the phone to the same Wi-Fi network as this computer."), Qt::PlainText,
                           this));
    column->addWidget(step(2,
                           QStringLiteral("On the phone, open <b>Developer options › Wireless debugging</b>, then tap "
                                          "<b>Pair device with QR code</b>."),
                           Qt::RichText, this));
    column->addWidget(step(3, QStringLiteral("Scan this code with the phone."), Qt::PlainText, this));
    column->addStretch(1);
    column->addWidget(sheet.status(QStringLiteral("Looking for your phone…"), this));

    m_link = new QPushButton(QStringLiteral("Can’t scan? Use a pairing code instead"), this);
    m_link->setObjectName(QStringLiteral("useCodeLink"));
    m_link->setFlat(true);
    m_link->setAutoDefault(false);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setFont(Look::callout(font()));
    m_link->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; color: %1; }")
                              .arg(Theme::accent(Theme::isDark(palette())).name()));
    connect(m_link, &QPushButton::clicked, this, [this] { m_sheet.setMethod(WirelessConnectView::Method::code); });
    column->addWidget(m_link, 0, Qt::AlignLeft);
    row->addLayout(column, 1);

    WirelessPairing& pairing = sheet.pairing();
    connect(&pairing, &WirelessPairing::phaseChanged, this, &QrPane::update);
    connect(&pairing, &WirelessPairing::qrImageChanged, this, &QrPane::update);
    update();
}

void QrPane::update()
{
    const WirelessPairing& pairing = m_sheet.pairing();
    m_tile->setImage(pairing.qrImage());
    m_tile->setVeiled(pairing.phase().isBusy());
    m_link->setVisible(pairing.phase().kind() == WirelessPairing::Phase::Kind::waiting);
}
