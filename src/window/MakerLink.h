#pragma once

#include <QUrl>
#include <QWidget>

// The maker's credit in the footer, the maker's mark and "by MIRVEK", drawn
// directly: a rich-text label would lay out a whole text document for two
// words on every start. With a site it is a link, mark and all, one Tab
// stop, opened by a click or Return.
class MakerLink : public QWidget {
    Q_OBJECT
public:
    MakerLink(const QUrl& site, QWidget* parent = nullptr);

    const QUrl& site() const { return m_site; }
    // What it reads, for screen readers.
    static QString text();
    void open();

    // Where the mark is drawn, and where the text begins after it.
    QRect markRect() const;
    static int textStart();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr int markSide = 12;
    static constexpr int markGap = 5;

    QFont markFont() const;

    QUrl m_site;
};
