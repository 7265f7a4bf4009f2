#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <chrono>

// Closes a modal question or panel still open after `limit`, so that a test
// whose dialog outlives what it checks never waits on it for ever. The timer
// goes with the guard: it never fires into a later test.
class ModalGuard {
public:
    explicit ModalGuard(std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            m_closedOne = true;
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        });
        m_timer.start(limit);
    }

    // Whether a dialog was still open when the time ran out.
    bool closedOne() const { return m_closedOne; }

private:
    QTimer m_timer;
    bool m_closedOne = false;
};
