#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class BrowserModel;
class LogcatModel;
class LogcatView;
class NeedsDebuggingView;
class QStackedLayout;
class ReadySerial;

// The "logcat" window: the chosen phone's log while that phone is ready over
// adb, the placeholder otherwise. It keeps one log model per phone and lets
// it go when the phone changes or the window closes.
class LogcatWindow : public QWidget {
    Q_OBJECT
public:
    // `prepare` sees every new log model before it starts (tests answer its
    // prompts and shorten its timing there).
    explicit LogcatWindow(BrowserModel& model, std::function<void(LogcatModel&)> prepare = {},
                          QWidget* parent = nullptr);
    ~LogcatWindow() override;

    LogcatModel* logcat() const { return m_logcat.get(); }
    LogcatView* logView() const { return m_view; }
    NeedsDebuggingView* placeholder() const { return m_placeholder; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Makes, keeps, replaces or drops the log model for the ready phone.
    void connectPhone();
    void dropModel();

    BrowserModel& m_model;
    std::function<void(LogcatModel&)> m_prepare;
    ReadySerial* m_ready;
    std::unique_ptr<LogcatModel> m_logcat;
    QStackedLayout* m_stack;
    NeedsDebuggingView* m_placeholder;
    LogcatView* m_view = nullptr;
};
