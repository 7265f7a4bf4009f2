#pragma once

#include <QString>
#include <QWidget>

class GlassSurface;
class QLabel;

// The highlight over the browser while files from the computer are dragged
// over it, naming the folder they would be copied into. It takes no clicks.
class DropOverlay : public QWidget {
    Q_OBJECT
public:
    explicit DropOverlay(QWidget* parent = nullptr);

    void setFolder(const QString& folder);
    QString text() const;

    // The overlay and its card drawn at `opacity`, for fading.
    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();

    static constexpr int outlineInset = 10;
    static constexpr int cardPadding = 22;
    QString m_folder;
    QLabel* m_text;
    GlassSurface* m_card;
    qreal m_opacity = 1.0;
};
