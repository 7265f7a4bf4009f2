#pragma once

// A browser model over the fakes of the model's own tests, the window's
// environment around it, and helpers to put the phones into each state.

#include "BrowserFakes.h"
#include "Environment.h"

#include <QSize>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <memory>

class ContentView;

namespace windowtest {

using namespace Qt::Literals::StringLiterals;

using browsertest::adbPhone;
using browsertest::file;
using browsertest::folder;
using browsertest::mtpPhone;

// The fakes' adb, located at a script that answers every call with nothing:
// the apps are none, the log ends, mirroring stops at its start.
class SilentAdbSource : public browsertest::FakeAdbSource {
public:
    explicit SilentAdbSource(const QString& folder);
    std::optional<ADB> locate() override;

private:
    QString m_path;
};

class WindowTest : public browsertest::ModelTest {
protected:
    // The Wi-Fi sheet present; the windows "mirror", "apps" and "logcat" can open.
    Environment fullEnvironment();
    // No command and no window: what the application offers today.
    Environment bareEnvironment();

    // One adb phone "A1" ("Pixel 7") in `state`, chosen, its /sdcard listed.
    void adbPhoneIn(const QString& state, const QList<RemoteEntry>& sdcard = {});
    // One MTP phone "M1" ("Galaxy"), ready, chosen and listed.
    void readyMtpPhone();
    // Goes to `path` on "A1" (an empty folder unless it has one) and waits
    // for its listing.
    void go(const QString& path);
    // A view over `env`, shown at `size`, kept until the next one.
    template <class View> View& show(const Environment& env, QSize size)
    {
        auto* view = new View(env);
        m_view.reset(view);
        view->resize(size);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
        return *view;
    }
    ContentView& window(const Environment& env);

    QStringList openedWindows;

private:
    std::unique_ptr<QWidget> m_view;
};

} // namespace windowtest
