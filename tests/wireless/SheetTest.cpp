// The real "Connect over Wi-Fi" sheet under the offscreen platform, over the
// browser model's fakes, a driven discovery and scripted pairing.

#include "CodePane.h"
#include "ManualForm.h"
#include "Motion.h"
#include "QrPane.h"
#include "StatusPill.h"
#include "WirelessConnectView.h"
#include "WirelessFixture.h"

#include <QAbstractAnimation>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

template <class T>
T* named(QWidget* root, const QString& name)
{
    for (T* child : root->findChildren<T*>(name)) {
        if (child->isVisibleTo(root))
            return child;
    }
    return nullptr;
}

QStringList visibleTexts(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    }
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
        if (button->isVisibleTo(root))
            texts << button->text();
    }
    return texts;
}

int runningAnimations(QWidget* root)
{
    int running = 0;
    for (QAbstractAnimation* animation : root->findChildren<QAbstractAnimation*>())
        running += animation->state() == QAbstractAnimation::Running ? 1 : 0;
    return running;
}

// What zbarimg reads off a PNG; empty when it reads nothing.
QString decodeQr(const QImage& image, const QString& folder)
{
    const QString path = folder + QStringLiteral("/qr.png");
    if (!image.save(path))
        return QStringLiteral("<not saved>");
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), path});
    if (!zbar.waitForFinished(20000)) {
        zbar.kill();
        zbar.waitForFinished();
        return QStringLiteral("<zbarimg hung>");
    }
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

class Sheet : public WirelessTest {
protected:
    Sheet() { Motion::setReducedOverride(true); }
    ~Sheet() override
    {
        delete m_sheet;
        Motion::setReducedOverride(std::nullopt);
    }

    WirelessConnectView& open()
    {
        m_sheet = new WirelessConnectView(model(), nullptr, {clock, hostPointer()});
        m_sheet->show();
        settle();
        return *m_sheet;
    }
    WirelessPairing& pairing() { return m_sheet->pairing(); }
    CodePane& codePane() { return *m_sheet->findChild<CodePane*>(); }
    QrPane& qrPane() { return *m_sheet->findChild<QrPane*>(); }
    StatusPill* pill() { return named<StatusPill>(m_sheet, QStringLiteral("statusPill")); }
    // The phase reaches done through a connection.
    void connectAPhone()
    {
        adb->setDevices({adbPhone(QStringLiteral("10.0.0.5:5555"), QStringLiteral("device"), QStringLiteral("Pixel 8"))});
        pairing().connect({Kind::connect, QStringLiteral("adb-R5C-t"), QStringLiteral("10.0.0.5:5555")});
        adb->connects.push([] {});
        settle();
        ASSERT_EQ(pairing().phase(), WirelessPairing::Phase::done(QStringLiteral("Pixel 8")));
    }
    void pairingFails()
    {
        pairing().pair({Kind::pairing, QStringLiteral("adb-R5C-t"), QStringLiteral("10.0.0.5:37000")},
                       QStringLiteral("123456"));
        settle();
        host().pairs.push(wirelesstest::pairingFails(PairingFailure::other(QStringLiteral("Failed: <b>bad</b> pairing"))));
        settle();
    }

    WirelessConnectView* m_sheet = nullptr;
};

// ---- the sheet ----------------------------------------------------------------------

TEST_F(Sheet, OpensOnTheQrCodeWithTheSearchingPillAndEscapeClosesAndStops)
{
    WirelessConnectView& sheet = open();
    EXPECT_EQ(sheet.width(), 560);
    EXPECT_EQ(sheet.method(), WirelessConnectView::Method::qr);
    EXPECT_TRUE(qrPane().isVisible());
    EXPECT_FALSE(qrPane().tile()->image().isNull());
    ASSERT_TRUE(pill());
    EXPECT_EQ(pill()->text(), QStringLiteral("Looking for your phone…"));
    EXPECT_TRUE(pill()->isPulsing());
    EXPECT_TRUE(named<QPushButton>(&sheet, QStringLiteral("cancel")));
    EXPECT_EQ(named<QWidget>(&sheet, QStringLiteral("methodPicker"))->accessibleName(), QStringLiteral("Method"));

    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    list(Kind::pairing, pairing().serviceName(), "10.0.0.5", 37000);
    settle();
    EXPECT_TRUE(host().requests().isEmpty()) << "the model was stopped";
}

TEST_F(Sheet, DoneShowsTheConnectedPaneReturnPressesDoneAndItClosesAfterTwoAndAHalfSeconds)
{
    WirelessConnectView& sheet = open();
    connectAPhone();
    EXPECT_TRUE(named<QWidget>(&sheet, QStringLiteral("connectedPane")));
    EXPECT_FALSE(named<QWidget>(&sheet, QStringLiteral("methodPicker")));
    EXPECT_EQ(named<QLabel>(&sheet, QStringLiteral("connectedText"))->text(),
              QStringLiteral("Pixel 8 is connected over Wi-Fi. Next time it’s on this network, it connects by itself."));
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());

    delete m_sheet;
    WirelessConnectView& again = open();
    EXPECT_EQ(again.pairing().phase(), WirelessPairing::Phase::waiting()) << "a new sheet starts afresh";
    connectAPhone();
    EXPECT_TRUE(again.isVisible());
    clock->fire();
    EXPECT_FALSE(again.isVisible());
}

TEST_F(Sheet, ThePendingCloseLeavesASheetThatLeftDoneOrClosedAlready)
{
    WirelessConnectView& sheet = open();
    connectAPhone();
    pairing().newCode();
    clock->fire();
    EXPECT_TRUE(sheet.isVisible()) << "no longer done";

    connectAPhone();
    QSignalSpy finished(&sheet, &QDialog::finished);
    named<QPushButton>(&sheet, QStringLiteral("done"))->click();
    EXPECT_EQ(finished.size(), 1);
    WirelessConnectView* first = m_sheet;
    m_sheet = nullptr;
    WirelessConnectView& second = open();
    clock->fire();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(second.isVisible());
    delete first;
}

TEST_F(Sheet, AFailureOffersNewCodeOnlyWithTheQrMethod)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    pairingFails();
    const QLabel* failure = named<QLabel>(&sheet, QStringLiteral("failure"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->text(), QStringLiteral("<b>bad</b> pairing"));
    EXPECT_EQ(failure->textFormat(), Qt::PlainText);
    EXPECT_FALSE(named<QPushButton>(&sheet, QStringLiteral("newCode")));

    sheet.setMethod(WirelessConnectView::Method::qr);
    QPushButton* newCode = named<QPushButton>(&sheet, QStringLiteral("newCode"));
    ASSERT_TRUE(newCode);
    newCode->click();
    EXPECT_EQ(pairing().phase(), WirelessPairing::Phase::waiting());
}

TEST_F(Sheet, WithoutAdbTheFooterWarns)
{
    adb->setInstalled(false);
    WirelessConnectView& sheet = open();
    EXPECT_TRUE(visibleTexts(&sheet).contains(QStringLiteral("Install Google's platform tools to use Wi-Fi.")));
}

TEST_F(Sheet, ReducedMotionDropsThePulseAndTheMethodAnimation)
{
    for (const bool reduced : {true, false}) {
        Motion::setReducedOverride(reduced);
        delete m_sheet;
        WirelessConnectView& sheet = open();
        EXPECT_EQ(runningAnimations(&sheet) > 0, !reduced);
        if (reduced) {
            EXPECT_EQ(pill()->dotOpacity(), 1.0);
        }
        sheet.setMethod(WirelessConnectView::Method::code);
        EXPECT_EQ(runningAnimations(&sheet) > 0, !reduced);
    }
}

// ---- QR pane -------------------------------------------------------------------------

TEST_F(Sheet, TheCodeIsVeiledWhileBusyAndTheLinkOnlySwitchesTheMethod)
{
    WirelessConnectView& sheet = open();
    QrPane& pane = qrPane();
    EXPECT_EQ(pane.link()->cursor().shape(), Qt::PointingHandCursor);
    pairing().pair({Kind::pairing, QStringLiteral("adb-R5C-t"), QStringLiteral("10.0.0.5:37000")},
                   QStringLiteral("123456"));
    EXPECT_TRUE(pane.tile()->isVeiled());
    EXPECT_FALSE(pane.link()->isVisibleTo(&pane));
    EXPECT_EQ(pill()->text(), QStringLiteral("Pairing with the phone…"));
    host().pairs.push(wirelesstest::pairingFails(PairingFailure::rejected()));
    settle();
    EXPECT_FALSE(pane.tile()->isVeiled());
    EXPECT_FALSE(pane.link()->isVisibleTo(&pane));

    pairing().newCode();
    const QString name = pairing().serviceName();
    pane.link()->click();
    EXPECT_EQ(sheet.method(), WirelessConnectView::Method::code);
    EXPECT_EQ(pairing().phase(), WirelessPairing::Phase::waiting());
    EXPECT_EQ(pairing().serviceName(), name);
    list(Kind::pairing, name, "10.0.0.5", 37001);
    settle();
    EXPECT_EQ(host().requests().last(), pairing().password() + QStringLiteral(":10.0.0.5:37001"));
    host().pairs.push(wirelesstest::pairingFails(PairingFailure::rejected()));
    settle();
}

TEST_F(Sheet, ZbarReadsTheQrImageAndTheCardAsTheSheetShowsThem)
{
    WirelessConnectView& sheet = open();
    const QImage image = pairing().qrImage();
    EXPECT_EQ(image.devicePixelRatio(), 2.0);
    EXPECT_EQ(image.width(), 33 * 10) << "version 4 at level M";
    // Every module is 10 x 10: each block's pixels share one colour.
    bool uniform = true;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            uniform = uniform && image.pixel(x, y) == image.pixel(x - x % 10, y - y % 10);
    }
    EXPECT_TRUE(uniform);
    EXPECT_EQ(decodeQr(qrPane().tile()->card(), folder.path()), pairing().qrText());

    // A screenshot of the sheet, read the same way.
    const QImage shot = sheet.grab().toImage();
    EXPECT_EQ(decodeQr(shot, folder.path()), pairing().qrText());
    const QByteArray keep = qgetenv("VT_SCREENSHOTS");
    if (!keep.isEmpty())
        shot.save(QString::fromLocal8Bit(keep) + QStringLiteral("/wifi-sheet-qr.png"));
}

// ---- manual form ---------------------------------------------------------------------

TEST_F(Sheet, TheManualFormEnablesTrimsAndClosesTheCodeEntry)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    sheet.setShowManual(true);
    ManualForm* form = codePane().manualForm();
    const struct {
        const char *address, *pairingAddress, *code;
        bool enabled;
    } cases[] = {
        {"10.0.0.5:5555", "", "", true},   {"", "10.0.0.5:37000", "123456", true},
        {"", "10.0.0.5:37000", "", false}, {"", "", "123456", false},
        {"10.0.0.5:5555", "", "1", true},  {"  ", "", "", true},
    };
    for (const auto& c : cases) {
        form->addressField()->setText(QString::fromUtf8(c.address));
        form->pairingAddressField()->setText(QString::fromUtf8(c.pairingAddress));
        form->codeField()->setText(QString::fromUtf8(c.code));
        EXPECT_EQ(form->connectButton()->isEnabled(), c.enabled) << c.address << "|" << c.pairingAddress;
    }
    EXPECT_EQ(ManualForm::trimmed(QStringLiteral(" \t\u00a0\u200210.0.0.5:5555\u3000\t")),
              QStringLiteral("10.0.0.5:5555"));
    EXPECT_EQ(ManualForm::trimmed(QStringLiteral("\n10.0.0.5 \n")), QStringLiteral("\n10.0.0.5 \n"));

    list(Kind::pairing, QStringLiteral("adb-R5C-t"), "10.0.0.5", 37000);
    settle();
    sheet.setPairingTarget(QStringLiteral("pairing:adb-R5C-t"));
    form->addressField()->setText(QStringLiteral(" 10.0.0.5:5555\t"));
    form->connectButton()->click();
    EXPECT_FALSE(sheet.pairingTarget());
    EXPECT_EQ(form->addressField()->text(), QStringLiteral(" 10.0.0.5:5555\t"));
    settle();
    EXPECT_EQ(adb->connected().last(), QStringLiteral("10.0.0.5:5555"));
    EXPECT_FALSE(form->connectButton()->isEnabled()) << "busy";
    adb->connects.push([] { throw ADBError::failed(QStringLiteral("refused")); });
    settle();
}

// ---- code pane -----------------------------------------------------------------------

TEST(CodeFilter, KeepsTheFirstSixNumericCharacters)
{
    const struct {
        QString typed, kept;
    } cases[] = {
        {QStringLiteral("12a3 45-67"), QStringLiteral("123456")},
        {QStringLiteral("０１２３４５"), QStringLiteral("０１２３４５")},
        {QStringLiteral("١٢٣٤٥٦٧"), QStringLiteral("١٢٣٤٥٦")},
        {QStringLiteral("½⑦Ⅻ一x²"), QStringLiteral("½⑦Ⅻ一²")},
        {QStringLiteral("1\u0301😀2👍🏽3"), QStringLiteral("1\u030123")},
        {QString(1000, QLatin1Char('x')) + QStringLiteral("9"), QStringLiteral("9")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WirelessConnectView::filteredCode(c.typed), c.kept) << c.typed.left(20).toStdString();
}

TEST_F(Sheet, TheCodePaneListsPhonesAndMovesTheCodeEntry)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    EXPECT_TRUE(pane.searching()->isVisibleTo(&pane));
    EXPECT_FALSE(pane.pairedSection()->isVisibleTo(&pane));

    list(Kind::pairing, QStringLiteral("adb-AAA-t"), "10.0.0.5", 37000);
    list(Kind::pairing, QStringLiteral("adb-BBB-t"), "10.0.0.6", 37000);
    settle();
    EXPECT_FALSE(pane.searching()->isVisibleTo(&pane));
    named<QPushButton>(pane.row(QStringLiteral("pairing:adb-AAA-t")), QStringLiteral("pair"))->click();
    EXPECT_TRUE(pane.entry()->isVisibleTo(&pane));
    QTest::keyClicks(pane.codeField(), QStringLiteral("12a3 45-67"));
    EXPECT_EQ(pane.codeField()->text(), QStringLiteral("123456"));
    EXPECT_EQ(sheet.code(), QStringLiteral("123456"));
    pane.entryBack()->click();
    EXPECT_FALSE(pane.entry()->isVisibleTo(&pane));
    EXPECT_EQ(sheet.code(), QStringLiteral("123456")) << "Back keeps the code";

    named<QPushButton>(pane.row(QStringLiteral("pairing:adb-BBB-t")), QStringLiteral("pair"))->click();
    EXPECT_EQ(sheet.code(), QString());
    pane.codeField()->setText(QStringLiteral("12345"));
    EXPECT_FALSE(pane.entryPair()->isEnabled());
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_TRUE(host().requests().isEmpty());

    QTest::keyClicks(pane.codeField(), QStringLiteral("6"));
    pane.codeField()->setFocus();
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(host().requests(), QStringList{QStringLiteral("123456:10.0.0.6:37000")});
    // Busy: every control waits, the open row says so.
    EXPECT_FALSE(pane.codeField()->isEnabled());
    EXPECT_FALSE(pane.entryPair()->isEnabled());
    EXPECT_FALSE(pane.entryBack()->isEnabled());
    EXPECT_FALSE(named<QPushButton>(pane.row(QStringLiteral("pairing:adb-AAA-t")), QStringLiteral("pair"))->isEnabled());
    EXPECT_TRUE(named<QLabel>(pane.row(QStringLiteral("pairing:adb-BBB-t")), QStringLiteral("mark")));
    EXPECT_FALSE(pane.footStatus()->isVisibleTo(&pane));
    host().pairs.push(wirelesstest::pairingFails(PairingFailure::rejected()));
    settle();
    EXPECT_TRUE(pane.codeField()->isEnabled());
    EXPECT_TRUE(visibleTexts(pane.entry()).contains(QStringLiteral(
        "The phone turned the pairing down. Check the code, make sure both are on the same Wi-Fi network, then try "
        "again.")));

    // The open entry's phone stops offering pairing.
    browses.remove(Kind::pairing, QStringLiteral("adb-BBB-t"));
    settle();
    EXPECT_FALSE(pane.row(QStringLiteral("pairing:adb-BBB-t")));
    EXPECT_FALSE(pane.entry()->isVisibleTo(&pane));
    EXPECT_FALSE(pane.footStatus()->isVisibleTo(&pane));
}

TEST_F(Sheet, PairedPhonesShowConnectOrConnectedAndTheDisclosureSaysItsState)
{
    adb->setDevices({adbPhone(QStringLiteral("10.0.0.5:5555"))});
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    list(Kind::connect, QStringLiteral("adb-AAA-t"), "10.0.0.5", 5555);
    list(Kind::connect, QStringLiteral("adb-BBB-t"), "10.0.0.6", 5555);
    bool done = false;
    model().refreshDevices([&done] { done = true; });
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    settle();
    EXPECT_TRUE(pane.pairedSection()->isVisibleTo(&pane));
    EXPECT_TRUE(visibleTexts(pane.row(QStringLiteral("connect:adb-AAA-t"))).contains(QStringLiteral("Connected")));
    EXPECT_TRUE(named<QPushButton>(pane.row(QStringLiteral("connect:adb-BBB-t")), QStringLiteral("connect")));

    DisclosureButton* disclosure = pane.disclosure();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(disclosure);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Collapsed"));
    EXPECT_EQ(disclosure->hint(), QStringLiteral("For phones that don’t show up"));
    EXPECT_FALSE(pane.manualForm()->isVisibleTo(&pane));
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(sheet.showManual());
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Expanded"));
    EXPECT_EQ(disclosure->chevronAngle(), 90);
    EXPECT_EQ(disclosure->hint(), QString());
    EXPECT_TRUE(pane.manualForm()->isVisibleTo(&pane));

    const QByteArray keep = qgetenv("VT_SCREENSHOTS");
    if (!keep.isEmpty()) {
        list(Kind::pairing, QStringLiteral("adb-R5CT3-aZ9"), "192.168.1.23", 37111);
        list(Kind::pairing, QStringLiteral("adb-9A1B-qq"), "192.168.1.31", 40555);
        sheet.setShowManual(false);
        settle();
        sheet.grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/wifi-sheet-code.png"));
    }
}

} // namespace
