#pragma once

#include "Task.h"

#include <QFrame>
#include <QPointer>
#include <QWidget>

class BrowserModel;
class QGridLayout;
class QLabel;
class Spinner;
struct DeviceDetails;

// The phone's labelled facts: a spinner while adb asks the phone, then the
// rows with values that can be selected and copied, or one sentence when the
// phone does not answer. It asks once, when first shown; going away cancels
// the question and drops its answer.
class PhoneDetailsView : public QWidget {
    Q_OBJECT
public:
    explicit PhoneDetailsView(BrowserModel* model, QWidget* parent = nullptr);
    ~PhoneDetailsView() override;

    bool isLoading() const;
    bool hasFailed() const;
    // The rows shown, as (label, value).
    QList<std::pair<QString, QString>> rows() const;

Q_SIGNALS:
    // The answer or the failure is on screen.
    void settled();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void load();
    void showRows(const DeviceDetails& details);
    void showFailure();

    BrowserModel* m_model;
    Spinner* m_spinner;
    QLabel* m_failure;
    QWidget* m_grid = nullptr;
    QGridLayout* m_gridLayout = nullptr;
    bool m_started = false;
    Task m_load;
};

// The panel that holds the details beside the button that opened it. It is
// a panel of the button's window, not a popup window of its own, so that
// screen readers find it in the application's tree; it takes the focus when
// it opens, and Escape closes it and gives the focus back to the button. A
// press anywhere else closes it too. It is deleted when it closes.
class DetailsPopover : public QFrame {
    Q_OBJECT
public:
    DetailsPopover(BrowserModel* model, QWidget* anchor);

    PhoneDetailsView* view() const { return m_view; }
    // Beside the anchor's trailing edge, kept inside its window.
    void place();
    // Placed, shown in front and given the focus.
    void open();

Q_SIGNALS:
    // It is closing; it deletes itself soon after.
    void closed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    PhoneDetailsView* m_view;
    QPointer<QWidget> m_anchor;
};
