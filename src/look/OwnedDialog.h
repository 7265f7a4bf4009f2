#pragma once

#include <QDialog>
#include <QPointer>

// A modal dialog run with exec() as a child of the window in front. That
// window may go while the dialog runs (closed on quit) and take the dialog
// along, so the dialog lives on the heap and is deleted here only when it is
// still there.
template <class Dialog>
class OwnedDialog {
public:
    explicit OwnedDialog(Dialog* dialog) : m_dialog(dialog) {}
    ~OwnedDialog() { delete m_dialog.data(); }
    OwnedDialog(const OwnedDialog&) = delete;
    OwnedDialog& operator=(const OwnedDialog&) = delete;

    Dialog* get() const { return m_dialog.data(); }
    Dialog* operator->() const { return m_dialog.data(); }
    Dialog& operator*() const { return *m_dialog; }
    // Runs the dialog; false when it was rejected or went with its window.
    bool accepted() const { return m_dialog->exec() == QDialog::Accepted && m_dialog; }
    bool gone() const { return !m_dialog; }

private:
    QPointer<Dialog> m_dialog;
};
