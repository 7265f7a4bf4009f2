// What the detail pane shows for each state of the phones, the browser's
// loading and empty messages, and drops from the computer.

#include "BrowserPane.h"
#include "BusyPhoneView.h"
#include "CommandBox.h"
#include "ConnectGuide.h"
#include "DetailView.h"
#include "DropOverlay.h"
#include "EmptyStateView.h"
#include "TestSupport.h"
#include "WindowFixture.h"

#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;
using WindowRules::DetailCase;

namespace {

class DetailPane : public WindowTest {
protected:
    DetailView& pane(const Environment& env)
    {
        m_pane = std::make_unique<DetailView>(env);
        m_pane->resize(700, 500);
        m_pane->show();
        return *m_pane;
    }
    EmptyStateView* emptyState() { return qobject_cast<EmptyStateView*>(m_pane->currentView()); }

    // Drops these URLs on the browser; whether the drop was taken.
    bool drop(const QList<QUrl>& urls)
    {
        QWidget* body = m_pane->browser()->bodyWidget();
        QMimeData data;
        data.setUrls(urls);
        const QPoint centre = body->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(body, &enter);
        overlayWhileDragging = !m_pane->browser()->dropOverlay()->isHidden();
        overlayText = m_pane->browser()->dropOverlay()->text();
        QDropEvent dropped(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(body, &dropped);
        return dropped.isAccepted();
    }

    bool overlayWhileDragging = false;
    QString overlayText;

private:
    std::unique_ptr<DetailView> m_pane;
};

} // namespace

TEST_F(DetailPane, WithoutAdbOrPhonesItAsksToInstallTheTools)
{
    adb->setInstalled(false);
    DetailView& view = pane(bareEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::installTools);
    ASSERT_TRUE(emptyState());
    EXPECT_EQ(emptyState()->symbol(), QStringLiteral("wrench.and.screwdriver"));
    EXPECT_EQ(emptyState()->title(), QStringLiteral("Install Android platform tools"));
    ASSERT_TRUE(emptyState()->commandBox());
    EXPECT_TRUE(emptyState()->detail().contains(QStringLiteral("Google's adb tool")));
}

TEST_F(DetailPane, WithoutAdbAPhoneInFileTransferModeStillGetsBrowsed)
{
    adb->setInstalled(false);
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM"))});
    DetailView& view = pane(bareEnvironment());
    pass();
    EXPECT_EQ(view.currentCase(), DetailCase::browser);

    // Listed but not chosen: the connect guide, not the install message.
    model().setSelectedSerial(std::nullopt);
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
}

TEST_F(DetailPane, NoPhoneOrAnOfflinePhoneGetsTheConnectGuide)
{
    DetailView& view = pane(fullEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
    auto* guide = qobject_cast<ConnectGuide*>(view.currentView());
    ASSERT_TRUE(guide);
    ASSERT_EQ(guide->steps().size(), 3);
    EXPECT_EQ(guide->steps()[0].first, QStringLiteral("Plug in your phone"));
    EXPECT_EQ(guide->steps()[2].first, QStringLiteral("Want more? Turn on USB debugging"));
    guide->wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());

    adbPhoneIn(QStringLiteral("offline"));
    EXPECT_EQ(view.currentCase(), DetailCase::connectGuide);
}

TEST_F(DetailPane, UnauthorizedAndLockedPhonesGetTheirHintsWithTheirNames)
{
    DetailView& view = pane(bareEnvironment());
    adbPhoneIn(QStringLiteral("unauthorized"));
    EXPECT_EQ(view.currentCase(), DetailCase::unauthorized);
    ASSERT_TRUE(emptyState());
    EXPECT_EQ(emptyState()->symbol(), QStringLiteral("lock.fill"));
    EXPECT_EQ(emptyState()->title(), QStringLiteral("Allow USB debugging on your phone"));
    EXPECT_EQ(emptyState()->detail(),
              QStringLiteral("Unlock Pixel 7 and tap Allow on the “Allow USB debugging?” prompt. Tick “Always allow "
                             "from this computer” to skip this next time."));
    EXPECT_FALSE(emptyState()->commandBox());

    adb->setDevices({});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("locked"))});
    pass();
    EXPECT_EQ(view.currentCase(), DetailCase::locked);
    ASSERT_TRUE(emptyState());
    EXPECT_EQ(emptyState()->title(), QStringLiteral("Unlock your phone"));
    EXPECT_EQ(emptyState()->detail(),
              QStringLiteral("Unlock Galaxy to see its files. If it asks “Use USB for”, choose File transfer."));
}

TEST_F(DetailPane, ABusyPhoneNamesItAndOffersToQuitTheAppsHoldingIt)
{
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("busy"))});
    pass();
    conflictingApps = {QStringLiteral("Android File Transfer"), QStringLiteral("Photos")};
    DetailView& view = pane(fullEnvironment());
    EXPECT_EQ(view.currentCase(), DetailCase::busy);
    auto* busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->message()->title(), QStringLiteral("Another app is using Galaxy"));
    EXPECT_FALSE(busy->quitButton()->isHidden());
    EXPECT_EQ(busy->quitButton()->text(), QStringLiteral("Quit Android File Transfer and Photos"));
    busy->quitButton()->click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("quitConflictingApps")});

    // Read again on the next change the model publishes.
    conflictingApps.clear();
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("busy"), QStringLiteral("Galaxy S24"))});
    pass();
    busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->message()->title(), QStringLiteral("Another app is using Galaxy S24"));
    EXPECT_TRUE(busy->quitButton()->isHidden());
}

TEST_F(DetailPane, ALoadingFolderShowsTheIndicatorUntilItsEntriesArrive)
{
    adbPhoneIn(QStringLiteral("device"), {folder(QStringLiteral("DCIM"))});
    DetailView& view = pane(bareEnvironment());
    ASSERT_TRUE(view.browser());
    EXPECT_EQ(view.browser()->body(), BrowserPane::Body::listing);

    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/DCIM"), {file(QStringLiteral("a.jpg"))});
    auto gate = adb->phone(QStringLiteral("A1"))->holdListing(QStringLiteral("/sdcard/DCIM"));
    gates.push_back(gate);
    model().navigate(QStringLiteral("/sdcard/DCIM"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view.browser()->body(), BrowserPane::Body::loading);
    // Even with a search text the indicator stays while nothing is listed.
    model().setSearchText(QStringLiteral("zzz"));
    EXPECT_EQ(view.browser()->body(), BrowserPane::Body::loading);
    model().setSearchText(QString());
    gate->open();
    settle();
    EXPECT_EQ(view.browser()->body(), BrowserPane::Body::listing);
}

TEST_F(DetailPane, AnEmptyFolderAndASearchWithoutMatchSayWhichItIs)
{
    adbPhoneIn(QStringLiteral("device"), {});
    DetailView& view = pane(bareEnvironment());
    BrowserPane* browser = view.browser();
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->body(), BrowserPane::Body::empty);
    EXPECT_EQ(browser->emptySymbol(), QStringLiteral("tray"));
    EXPECT_EQ(browser->emptyText(), QStringLiteral("This folder is empty"));
    EXPECT_TRUE(browser->showsDragHint());

    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a.jpg"))});
    reload();
    EXPECT_EQ(browser->body(), BrowserPane::Body::listing);
    model().setSearchText(QStringLiteral("mp3"));
    EXPECT_EQ(browser->body(), BrowserPane::Body::empty);
    EXPECT_EQ(browser->emptySymbol(), QStringLiteral("magnifyingglass"));
    EXPECT_EQ(browser->emptyText(), QStringLiteral("No items match “mp3”"));
    EXPECT_FALSE(browser->showsDragHint());
}

TEST_F(DetailPane, DroppedFilesGoToTheCurrentFolderAndWebLinksAreRefused)
{
    adbPhoneIn(QStringLiteral("device"), {folder(QStringLiteral("DCIM"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/DCIM/Camera"), {});
    go(QStringLiteral("/sdcard/DCIM/Camera"));
    DetailView& view = pane(fullEnvironment());
    ASSERT_TRUE(view.browser());

    EXPECT_TRUE(drop({QUrl(QStringLiteral("https://example.com/a")), QUrl::fromLocalFile(QStringLiteral("/tmp/one.jpg")),
                      QUrl::fromLocalFile(QStringLiteral("/tmp/two.jpg"))}));
    EXPECT_TRUE(overlayWhileDragging);
    EXPECT_EQ(overlayText, QStringLiteral("Copy to “Camera”"));
    EXPECT_TRUE(view.browser()->dropOverlay()->isHidden());
    EXPECT_EQ(calls, QStringList{QStringLiteral("handleDrop:/tmp/one.jpg,/tmp/two.jpg>(current)")});

    calls.clear();
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a"))}));
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(DetailPane, WithoutACopyOperationNothingCanBeDropped)
{
    adbPhoneIn(QStringLiteral("device"), {folder(QStringLiteral("DCIM"))});
    DetailView& view = pane(bareEnvironment());
    ASSERT_TRUE(view.browser());
    EXPECT_FALSE(view.browser()->bodyWidget()->acceptDrops());
    EXPECT_FALSE(drop({QUrl::fromLocalFile(QStringLiteral("/tmp/one.jpg"))}));
    EXPECT_FALSE(overlayWhileDragging);
}
