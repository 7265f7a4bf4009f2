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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    QPointer<MirrorSession> m_session;
    QStackedWidget* m_pages;
    QLabel* m_starting;
    QLabel* m_message;
    QPushButton* m_tryAgain;
};
