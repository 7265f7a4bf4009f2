// What the detail pane shows for each state of the phones, the browser's
// loading and empty messages, drops from the computer, and the guides'
// command box.

#include "BrowserPane.h"
#include "BusyPhoneView.h"
#include "CommandBox.h"
#include "ConnectGuide.h"
#include "DetailView.h"
#include "DropOverlay.h"
#include "EmptyStateView.h"
#include "TestSupport.h"
#include "WindowFixture.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace windowtest;
using WindowRules::DetailCase;

namespace {

class DetailPane : public WindowTest {
protected:
    DetailView& pane(const Environment& env) { return *(m_pane = &show<DetailView>(env, QSize(700, 500))); }
    // The hint shown instead of the browser as "title | detail"; empty when none.
    QString hint()
    {
        auto* view = qobject_cast<EmptyStateView*>(m_pane->currentView());
        if (auto* busy = qobject_cast<BusyPhoneView*>(m_pane->currentView()))
            view = busy->message();
        return view ? view->title() + QStringLiteral(" | ") + view->detail() : QString();
    }
    // Drops these URLs on the browser as a file manager offering to move
    // them; whether the drop was taken, and taken as a copy.
    bool drop(const QList<QUrl>& urls)
    {
        QWidget* body = m_pane->browser()->bodyWidget();
        QMimeData data;
        data.setUrls(urls);
        const Qt::DropActions offered = Qt::MoveAction | Qt::CopyAction;
        QDragEnterEvent enter(body->rect().center(), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(body, &enter);
        overlayWhileDragging = m_pane->browser()->dropOverlay()->isHidden() ? QString() : m_pane->browser()->dropOverlay()->text();
        QDropEvent dropped(body->rect().center(), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(body, &dropped);
        if (dropped.isAccepted()) {
            EXPECT_EQ(dropped.dropAction(), Qt::CopyAction);
        }
        return dropped.isAccepted();
    }

    // The drop overlay's text during the last drag; empty when it stayed hidden.
    QString overlayWhileDragging;
    DetailView* m_pane = nullptr;
};

} // namespace

TEST_F(DetailPane, WithoutAdbItAsksToInstallTheToolsUnlessAFileTransferPhoneIsThere)
{
    adb->setInstalled(false);
    DetailView& view = pane(fullEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::installTools);
    EXPECT_TRUE(hint().startsWith(QStringLiteral("Install Android platform tools |")));
    EXPECT_TRUE(view.findChild<CommandBox*>());

    readyMtpPhone();
    EXPECT_EQ(view.currentCase(), DetailCase::browser);
    // Listed but not chosen: the connect guide, not the install message.
    model().setSelectedSerial(std::nullopt);
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
    auto* guide = qobject_cast<ConnectGuide*>(view.currentView());
    ASSERT_TRUE(guide);
    guide->wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());
}

TEST_F(DetailPane, PhonesThatAreNotReadyGetTheirHintsWithTheirNames)
{
    DetailView& view = pane(bareEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
    adbPhoneIn(QStringLiteral("offline"));
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
    adbPhoneIn(QStringLiteral("unauthorized"));
    EXPECT_EQ(view.currentCase(), DetailCase::unauthorized);
    EXPECT_TRUE(hint().contains(QStringLiteral("| Unlock Pixel 7 and tap Allow")));

    adb->setDevices({});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("locked"))});
    pass();
    EXPECT_EQ(view.currentCase(), DetailCase::locked);
    EXPECT_TRUE(hint().contains(QStringLiteral("| Unlock Galaxy to see its files.")));
}

TEST_F(DetailPane, ABusyPhoneNamesItAndOffersToQuitTheAppsHoldingIt)
{
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("busy"))});
    pass();
    conflictingApps = {QStringLiteral("Android File Transfer"), QStringLiteral("Image Capture"), QStringLiteral("Photos")};
    DetailView& view = pane(fullEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::busy);
    EXPECT_TRUE(hint().startsWith(QStringLiteral("Another app is using Galaxy |")));
    auto* busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->quitButton()->text(), QStringLiteral("Quit Android File Transfer and Image Capture and Photos"));
    busy->quitButton()->click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("quitConflictingApps")});

    // Read again on the next change the model publishes.
    conflictingApps.clear();
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("busy"), QStringLiteral("Galaxy S24"))});
    pass();
    EXPECT_TRUE(hint().startsWith(QStringLiteral("Another app is using Galaxy S24 |")));
    busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_TRUE(busy->quitButton()->isHidden());
}

TEST_F(DetailPane, TheBrowserSaysWhetherAFolderIsLoadingEmptyOrWithoutMatch)
{
    adbPhoneIn(QStringLiteral("device"), {});
    BrowserPane* browser = pane(bareEnvironment()).browser();
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->body(), BrowserPane::Body::empty);
    EXPECT_EQ(browser->emptyText(), QStringLiteral("This folder is empty"));
    EXPECT_TRUE(browser->showsDragHint());

    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/DCIM"), {file(QStringLiteral("a.jpg"))});
    auto gate = adb->phone(QStringLiteral("A1"))->holdListing(QStringLiteral("/sdcard/DCIM"));
    gates.push_back(gate);
    model().navigate(QStringLiteral("/sdcard/DCIM"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
    QCoreApplication::processEvents();
    // Even with a search text the indicator stays while nothing is listed.
    model().setSearchText(QStringLiteral("mp3"));
    EXPECT_EQ(browser->body(), BrowserPane::Body::loading);
    gate->open();
    settle();
    EXPECT_EQ(browser->body(), BrowserPane::Body::empty);
    EXPECT_EQ(browser->emptyText(), QStringLiteral("No items match “mp3”"));
    EXPECT_FALSE(browser->showsDragHint());
    model().setSearchText(QString());
    EXPECT_EQ(browser->body(), BrowserPane::Body::listing);
}

TEST_F(DetailPane, DroppedFilesGoToTheCurrentFolderAndWebLinksAreRefused)
{
    adbPhoneIn(QStringLiteral("device"));
    go(QStringLiteral("/sdcard/DCIM/Camera"));
    ASSERT_TRUE(pane(fullEnvironment()).browser());
    EXPECT_TRUE(drop({QUrl(QStringLiteral("https://example.com/a")), QUrl::fromLocalFile(QStringLiteral("/tmp/one.jpg")),
                      QUrl::fromLocalFile(QStringLiteral("/tmp/two.jpg"))}));
    EXPECT_EQ(overlayWhileDragging, QStringLiteral("Copy to “Camera”"));
    EXPECT_TRUE(m_pane->browser()->dropOverlay()->isHidden());
    settle();
    const auto phone = adb->phone(QStringLiteral("A1"));
    EXPECT_EQ(phone->calls(QStringLiteral("push /tmp/one.jpg /sdcard/DCIM/Camera/")), 1);
    EXPECT_EQ(phone->calls(QStringLiteral("push /tmp/two.jpg /sdcard/DCIM/Camera/")), 1);
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a"))}));
}

TEST(CommandBox, CopiedShowsFromTheFirstClickNotTheLast)
{
    CommandBox box(QStringLiteral("brew install --cask android-platform-tools"));
    QElapsedTimer clock;
    clock.start();
    box.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("brew install --cask android-platform-tools"));
    EXPECT_EQ(box.copyButton()->text(), QStringLiteral("Copied"));
    QTest::qWait(1000);
    box.copyButton()->click();

    // Back to "Copy Command" 1.6 s after the first click, though the second
    // was only 0.6 s before.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box.copied(); }, 3000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, CommandBox::copiedMilliseconds);
    EXPECT_LT(elapsed, 1000 + CommandBox::copiedMilliseconds);
    EXPECT_EQ(box.copyButton()->text(), QStringLiteral("Copy Command"));
}
