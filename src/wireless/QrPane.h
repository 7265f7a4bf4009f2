#pragma once

#include "Glass.h"

#include <QImage>
#include <QWidget>

class QPushButton;
class Spinner;
class WirelessConnectView;

// The QR code on a white card inside accent viewfinder brackets, on glass.
// While pairing or connecting a white veil with a large spinner covers it.
class QrTile : public GlassSurface {
    Q_OBJECT
public:
    explicit QrTile(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return m_image; }
    void setVeiled(bool veiled);
    bool isVeiled() const { return m_veiled; }
    // The card without its glass and brackets, as a viewer sees it.
    QImage card() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintCard(QPainter& painter) const;

    QImage m_image;
    bool m_veiled = false;
    Spinner* m_spinner;
};

// The body of the sheet on "QR Code": the tile and three steps, the status
// line and, while nothing is under way, a link to the pairing-code method.
class QrPane : public QWidget {
    Q_OBJECT
public:
    explicit QrPane(WirelessConnectView& sheet);

    QrTile* tile() const { return m_tile; }
    QPushButton* link() const { return m_link; }

private:
    void update();

    WirelessConnectView& m_sheet;
    QrTile* m_tile;
    QPushButton* m_link;
};
