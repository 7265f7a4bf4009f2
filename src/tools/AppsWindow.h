#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class AppsList;
class AppsModel;
class BrowserModel;
class NeedsDebuggingView;
class QStackedLayout;
class ReadySerial;

// The "apps" window: the chosen phone's apps while that phone is ready over
// adb, the placeholder otherwise. It keeps one apps model per phone and
// makes a new one, which reads the apps at once, when the phone changes. A
// package installed on the phone shown has its apps read again.
class AppsWindow : public QWidget {
    Q_OBJECT
public:
    // `onInstall` is "Install APK" (disabled without one); `prepare` sees
    // every new apps model before its first reload (tests replace its seams).
    explicit AppsWindow(BrowserModel& model, std::function<void()> onInstall = {},
                        std::function<void(AppsModel&)> prepare = {}, QWidget* parent = nullptr);
    ~AppsWindow() override;

    AppsModel* apps() const { return m_apps.get(); }
    AppsList* list() const { return m_list; }
    NeedsDebuggingView* placeholder() const { return m_placeholder; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Makes, keeps or drops the apps model for the ready phone.
    void connectPhone();
    void dropModel();

    BrowserModel& m_model;
    std::function<void()> m_onInstall;
    std::function<void(AppsModel&)> m_prepare;
    ReadySerial* m_ready;
    std::shared_ptr<AppsModel> m_apps;
    QStackedLayout* m_stack;
    NeedsDebuggingView* m_placeholder;
    AppsList* m_list = nullptr;
};
