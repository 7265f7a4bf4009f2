#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class BrowserModel;
class MirrorSession;
class MirrorView;
class QStackedLayout;

// The content of the "mirror" window: mirrors the phone chosen in the main
// window while it is ready over adb, from showing until closing, and shows
// a placeholder otherwise. Minimising does not stop mirroring.
class MirrorWindow : public QWidget {
    Q_OBJECT
public:
    // `model` must outlive the window.
    explicit MirrorWindow(BrowserModel& model, QWidget* parent = nullptr);
    ~MirrorWindow() override;

    MirrorSession* session() const { return m_session.get(); }
    MirrorView* view() const { return m_view; }
    bool showsPlaceholder() const;

    // Runs on every new session before it starts (tests point it at their
    // stand-in server this way).
    void setSessionSetUp(std::function<void(MirrorSession&)> setUp) { m_setUp = std::move(setUp); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The serial of the chosen phone when it is ready over adb.
    std::optional<QString> watched() const;
    void followChoice();
    void startIfNeeded();
    void drop();

    BrowserModel& m_model;
    std::function<void(MirrorSession&)> m_setUp;
    std::unique_ptr<MirrorSession> m_session;
    std::optional<QString> m_watched;
    QStackedLayout* m_stack;
    QWidget* m_placeholder;
    MirrorView* m_view = nullptr;
};
