#pragma once

#include <QPointer>
#include <QWidget>

class MirrorSession;
class QLabel;
class QPushButton;
class QStackedWidget;

// Lies over the mirrored screen while mirroring starts or has stopped, and
// keeps clicks from the phone meanwhile; hidden while the picture streams.
class MirrorStatusOverlay : public QWidget {
    Q_OBJECT
public:
    explicit MirrorStatusOverlay(MirrorSession& session, QWidget* parent = nullptr);

    // What it shows now: "", the starting text, or the stopped message.
    QString text() const;
    QPushButton* tryAgainButton() const { return m_tryAgain; }
    // The screen it lies over: the focus the overlay holds goes back to it
    // when the picture streams.
    void setScreen(QWidget* screen) { m_screen = screen; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    QPointer<MirrorSession> m_session;
    QStackedWidget* m_pages;
    QLabel* m_starting;
    QLabel* m_message;
    QPushButton* m_tryAgain;
    QPointer<QWidget> m_screen;
};
