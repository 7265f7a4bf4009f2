// The real "Connect over Wi-Fi" sheet under the offscreen platform, over the
// browser model's fakes, a driven discovery and scripted pairing.

#include "CodePane.h"
#include "ManualForm.h"
#include "Motion.h"
#include "QrPane.h"
#include "StatusPill.h"
#include "Look.h"
#include "Theme.h"
#include "WirelessConnectView.h"
#include "WirelessFixture.h"

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <malloc.h>

#include <algorithm>
#include <limits>
#include <utility>

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

template <class T = QWidget>
T* named(QWidget* root, const QString& name)
{
    const auto children = root->findChildren<T*>(name);
    const auto found = std::find_if(children.begin(), children.end(), [root](T* c) { return c->isVisibleTo(root); });
    return found == children.end() ? nullptr : *found;
}

// Whether a visible label or button under `root` shows exactly `text`.
bool shows(QWidget* root, const QString& text)
{
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(widget);
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        if (widget->isVisibleTo(root) && ((label && label->text() == text) || (button && button->text() == text)))
            return true;
    }
    return false;
}

bool animating(QWidget* root)
{
    const auto all = root->findChildren<QAbstractAnimation*>();
    return std::any_of(all.begin(), all.end(), [](auto* a) { return a->state() == QAbstractAnimation::Running; });
}

// What zbarimg reads off an image; empty when it reads nothing.
QString decodeQr(const QImage& image, const QString& folder)
{
    const QString path = folder + u"/qr.png"_s;
    QProcess zbar;
    if (image.save(path))
        zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, path});
    if (!zbar.waitForFinished(20000))
        zbar.kill(), zbar.waitForFinished();
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
        m_sheet = new WirelessConnectView(model(), nullptr, {clock, host()});
        m_sheet->show();
        settle();
        return *m_sheet;
    }
    WirelessPairing& pairing() { return m_sheet->pairing(); }
    CodePane& codePane() { return *m_sheet->findChild<CodePane*>(); }
    QrPane& qrPane() { return *m_sheet->findChild<QrPane*>(); }
    StatusPill* pill() { return named<StatusPill>(m_sheet, u"statusPill"_s); }
    void pairTyped() { WirelessTest::pairTyped(pairing()); }
    // The phase reaches done through a connection.
    void connectAPhone()
    {
        adb->setDevices({adbPhone(u"10.0.0.5:5555"_s, u"device"_s, u"Pixel 8"_s)});
        pairing().connect({Kind::connect, u"adb-R5C-t"_s, u"10.0.0.5:5555"_s});
        adb->connects.push([] {});
        settle();
        ASSERT_EQ(pairing().phase(), Phase::done(u"Pixel 8"_s));
    }

    WirelessConnectView* m_sheet = nullptr;
};

// ---- the sheet ----------------------------------------------------------------------

TEST_F(Sheet, OpensOnTheQrCodeAndEscapeClosesAndStops)
{
    WirelessConnectView& sheet = open();
    EXPECT_EQ(sheet.method(), WirelessConnectView::Method::qr);
    EXPECT_TRUE(qrPane().isVisible());
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    list(Kind::pairing, pairing().serviceName(), "10.0.0.5", 37000);
    EXPECT_TRUE(requests().isEmpty()) << "the model was stopped";
}

TEST_F(Sheet, WithoutAdbTheFooterWarns)
{
    adb->setInstalled(false);
    EXPECT_TRUE(shows(&open(), u"Install Google's platform tools to use Wi-Fi."_s));
}

TEST_F(Sheet, DoneShowsTheConnectedPaneAndClosesOnReturnOrAfterTwoAndAHalfSeconds)
{
    WirelessConnectView& sheet = open();
    connectAPhone();
    EXPECT_TRUE(named(&sheet, u"connectedPane"_s) && named(&sheet, u"done"_s));
    EXPECT_FALSE(named(&sheet, u"methodPicker"_s));
    pairing().newCode();
    clock->fire();
    EXPECT_TRUE(sheet.isVisible()) << "no longer done";
    connectAPhone();
    clock->fire();
    EXPECT_FALSE(sheet.isVisible());

    // Closed early, its pending close touches nothing, not even a sheet opened since.
    delete m_sheet;
    WirelessConnectView& again = open();
    EXPECT_EQ(again.pairing().phase(), Phase::waiting()) << "a new sheet starts afresh";
    connectAPhone();
    QSignalSpy finished(&again, &QDialog::finished);
    QTest::keyClick(&again, Qt::Key_Return);
    EXPECT_EQ(finished.size(), 1);
    std::unique_ptr<WirelessConnectView> closed(std::exchange(m_sheet, nullptr));
    WirelessConnectView& third = open();
    clock->fire();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(third.isVisible());
}

// The status line names each step; only the QR code can be made anew after
// a failure, since a typed code is the phone's own.
TEST_F(Sheet, TheStatusLineNamesEachStepAndOnlyTheQrCodeOffersANewOne)
{
    using Method = WirelessConnectView::Method;
    for (const Method method : {Method::code, Method::qr}) {
        SCOPED_TRACE(method == Method::qr ? "QR code" : "pairing code");
        delete std::exchange(m_sheet, nullptr);
        WirelessConnectView& sheet = open();
        sheet.setMethod(method);
        if (method == Method::code)
            pairTyped();
        else
            list(Kind::pairing, pairing().serviceName(), "192.168.1.20", 37001);
        ASSERT_TRUE(pill());
        EXPECT_EQ(pill()->text(), u"Pairing with the phone…"_s);
        answerPairing(paired(u"192.168.1.20:5555"_s));
        ASSERT_TRUE(pill());
        EXPECT_EQ(pill()->text(), u"Connecting to 192.168.1.20:5555…"_s);
        // The paired phone never shows up on the network.
        for (int round = 0; round < 100 && pairing().phase().kind() != Phase::Kind::failed; ++round) {
            clock->fire();
            settle();
        }
        ASSERT_EQ(pairing().phase().kind(), Phase::Kind::failed);
        EXPECT_FALSE(pill());
        EXPECT_EQ(named(&sheet, u"newCode"_s) != nullptr, method == Method::qr);
    }
}

// Mended: the status pill filled its line, which cut its shadow off where
// the fill ends; the shadow fades over several rows below the pill.
TEST_F(Sheet, TheStatusPillCastsItsShadowBelowIt)
{
    WirelessConnectView& sheet = open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    StatusPill* shown = pill();
    ASSERT_TRUE(shown && shown->isVisible());
    const QImage image = sheet.grab().toImage();
    const QRect area(shown->mapTo(&sheet, QPoint(0, 0)), shown->size());
    // Against the ground beside the pill, out of the shadow's reach.
    const int x = area.center().x(), clear = area.left() - 16;
    ASSERT_GE(clear, 0);
    QList<int> rows;
    for (int y = area.bottom() + 1; y <= area.bottom() + 12; ++y)
        rows.append(qGray(image.pixel(clear, y)) - qGray(image.pixel(x, y)));
    EXPECT_GE(std::count_if(rows.begin(), rows.end(), [](int d) { return d >= 1; }), 7)
        << QDebug::toString(rows).toStdString();
    EXPECT_GT(rows.at(1), rows.at(9)) << QDebug::toString(rows).toStdString();
}

TEST_F(Sheet, TheConnectedPaneSaysThePhoneReconnectsByItself)
{
    WirelessConnectView& sheet = open();
    connectAPhone();
    auto* sentence = named<QLabel>(&sheet, u"connectedText"_s);
    ASSERT_TRUE(sentence);
    EXPECT_EQ(sentence->text(), u"Pixel 8 is connected over Wi-Fi. Next time it’s on this network, it connects by itself."_s);
}

// Mended: the sheet is a window of its own and took the desktop's colours
// for focus and selection, not the application's accent.
TEST_F(Sheet, TheSheetIsTintedWithTheAccent)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    const QString accent = Theme::accent(Theme::isDark(sheet.palette())).name();
    EXPECT_EQ(sheet.palette().color(QPalette::Highlight).name(), accent);
    for (auto* field : sheet.findChildren<QLineEdit*>())
        EXPECT_EQ(field->palette().color(QPalette::Highlight).name(), accent) << field->objectName().toStdString();
}

TEST_F(Sheet, AFailureShowsAsPlainText)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    pairTyped();
    answerPairing(pairingFails(PairingFailure::other(u"Failed: <b>bad</b> pairing"_s)));
    const QLabel* failure = named<QLabel>(&sheet, u"failure"_s);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->text(), u"<b>bad</b> pairing"_s);
    EXPECT_EQ(failure->textFormat(), Qt::PlainText);
}

// Mended: a long failure ("Couldn’t connect to …: failed to connect to …")
// wrapped into a narrow column and its lines were cut off above and below.
TEST_F(Sheet, ALongFailureWrapsAcrossTheSheetAndShowsEveryLine)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    pairTyped();
    answerPairing(pairingFails(PairingFailure::other(
        u"Couldn’t connect to 127.0.0.1:9: failed to connect to '127.0.0.1:9': Connection refused, "
        u"and a second sentence long enough to need a third line."_s)));
    settle();
    QApplication::processEvents();
    const QLabel* failure = named<QLabel>(&sheet, u"failure"_s);
    ASSERT_TRUE(failure);
    ASSERT_TRUE(failure->isVisible());
    EXPECT_GT(failure->width(), sheet.width() / 2) << "it takes the sheet's width";
    EXPECT_GE(failure->height(), failure->heightForWidth(failure->width())) << "no line is cut off";
}

TEST_F(Sheet, ReducedMotionDropsThePulseAndTheMethodAnimation)
{
    for (const bool reduced : {true, false}) {
        Motion::setReducedOverride(reduced);
        delete m_sheet;
        WirelessConnectView& sheet = open();
        EXPECT_EQ(animating(&sheet), !reduced);
        EXPECT_TRUE(!reduced || pill()->dotOpacity() == 1.0) << "a steady dot";
        sheet.setMethod(WirelessConnectView::Method::code);
        EXPECT_EQ(animating(&sheet), !reduced);
    }
}

// How many elements under `element` a screen reader reads as `text`.
int readAs(QAccessibleInterface* element, const QString& text)
{
    if (!element || element->state().invisible)
        return 0;
    int count = element->text(QAccessible::Name) == text || element->text(QAccessible::Value) == text;
    for (int i = 0; i < element->childCount(); ++i)
        count += readAs(element->child(i), text);
    return count;
}

// Mended: the spinner and the text were elements of their own, so the
// status was read twice.
TEST_F(Sheet, TheStatusPillIsOneElementReadOnce)
{
    WirelessConnectView& sheet = open();
    for (const bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "spinner" : "dot");
        if (busy)
            pairTyped();
        ASSERT_TRUE(pill());
        QAccessibleInterface* element = QAccessible::queryAccessibleInterface(pill());
        ASSERT_TRUE(element);
        EXPECT_EQ(element->text(QAccessible::Name), pill()->text());
        EXPECT_EQ(element->childCount(), 0);
        EXPECT_EQ(readAs(QAccessible::queryAccessibleInterface(&sheet), pill()->text()), 1);
    }
    answerPairing(pairingFails(PairingFailure::rejected()));
}

// Mended: the code field's background was drawn as faint as the panel it
// stands on (the quaternary fill at 0.35) instead of at 0.5.
TEST_F(Sheet, TheCodeFieldStandsOutFromItsPanelAsTheFillAtHalfOpacity)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    list(Kind::pairing, u"adb-AAA-t"_s, "10.0.0.5", 37000);
    named<QPushButton>(pane.row(u"pairing:adb-AAA-t"_s), u"pair"_s)->click();
    settle();
    ASSERT_TRUE(pane.entry()->isVisible());
    const QImage shot = sheet.grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    const QRect field(pane.codeField()->mapTo(&sheet, QPoint(0, 0)), pane.codeField()->size());
    const QRect panel(pane.entry()->mapTo(&sheet, QPoint(0, 0)), pane.entry()->size());
    const int y = field.center().y();
    const auto at = [&](int x) { return shot.pixelColor(QPoint(x, y) * scale); };
    // The sheet beside the panel, the panel beside the field, the field's own background.
    const QColor sheetColour = at(panel.left() - 3), panelColour = at(field.left() - 3), fieldColour = at(field.left() + 4);
    // Each fill moves the colour beneath it towards the same ink, the panel's
    // by the fill's alpha at 0.35 (a), the field's by 0.5 / 0.35 of it: the
    // field's step over the panel is 0.5 / 0.35 × (1 − a) of the panel's.
    const double a = Look::quaternaryFill(pane.palette()).alphaF();
    const auto step = [](const QColor& from, const QColor& to) {
        return std::abs(to.redF() - from.redF()) + std::abs(to.greenF() - from.greenF())
               + std::abs(to.blueF() - from.blueF());
    };
    const double panelStep = step(sheetColour, panelColour), fieldStep = step(panelColour, fieldColour);
    ASSERT_GT(panelStep, 0.05) << "the panel is drawn";
    EXPECT_NEAR(fieldStep / panelStep, 0.5 / 0.35 * (1 - a), 0.12)
        << sheetColour.name().toStdString() << " " << panelColour.name().toStdString() << " "
        << fieldColour.name().toStdString();
}

// ---- QR pane -------------------------------------------------------------------------

TEST_F(Sheet, TheCodeIsVeiledWhileBusyAndTheLinkOnlySwitchesTheMethod)
{
    WirelessConnectView& sheet = open();
    QrPane& pane = qrPane();
    pairTyped();
    EXPECT_TRUE(pane.tile()->isVeiled());
    EXPECT_FALSE(pane.link()->isVisibleTo(&pane));
    answerPairing(pairingFails(PairingFailure::rejected()));
    EXPECT_FALSE(pane.tile()->isVeiled());
    EXPECT_FALSE(pane.link()->isVisibleTo(&pane));

    pairing().newCode();
    const QString name = pairing().serviceName();
    pane.link()->click();
    EXPECT_EQ(sheet.method(), WirelessConnectView::Method::code);
    EXPECT_EQ(pairing().phase(), Phase::waiting());
    EXPECT_EQ(pairing().serviceName(), name);
    list(Kind::pairing, name, "10.0.0.5", 37001);
    EXPECT_EQ(requests().last(), pairing().password() + u":10.0.0.5:37001"_s);
    answerPairing(pairingFails(PairingFailure::rejected()));
}

TEST_F(Sheet, ZbarReadsTheQrImageAndTheCardAsTheSheetShowsThem)
{
    WirelessConnectView& sheet = open();
    EXPECT_EQ(pairing().qrImage().devicePixelRatio(), 2.0);
    EXPECT_EQ(decodeQr(qrPane().tile()->card(), folder.path()), pairing().qrText());
    EXPECT_EQ(decodeQr(sheet.grab().toImage(), folder.path()), pairing().qrText());
}

// ---- manual form ---------------------------------------------------------------------

TEST_F(Sheet, TheManualFormEnablesTrimsAndClosesTheCodeEntry)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    sheet.setShowManual(true);
    ManualForm* form = codePane().manualForm();
    const struct { const char *address, *pairingAddress, *code; bool enabled; } cases[] = {
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
    EXPECT_EQ(ManualForm::trimmed(u" \t\u00a0\u200210.0.0.5:5555\u3000\t"_s), u"10.0.0.5:5555"_s);
    EXPECT_EQ(ManualForm::trimmed(u"\n10.0.0.5 \n"_s), u"\n10.0.0.5 \n"_s);

    list(Kind::pairing, u"adb-R5C-t"_s, "10.0.0.5", 37000);
    sheet.setPairingTarget(u"pairing:adb-R5C-t"_s);
    form->addressField()->setText(u" 10.0.0.5:5555\t"_s);
    form->connectButton()->click();
    EXPECT_FALSE(sheet.pairingTarget());
    EXPECT_EQ(form->addressField()->text(), u" 10.0.0.5:5555\t"_s);
    settle();
    EXPECT_EQ(connected().last(), u"10.0.0.5:5555"_s);
    EXPECT_FALSE(form->connectButton()->isEnabled()) << "busy";
    adb->connects.push(connectFails(u"refused"_s));
}

// ---- code pane -----------------------------------------------------------------------

TEST(CodeFilter, KeepsTheFirstSixNumericCharacters)
{
    const std::pair<QString, QString> cases[] = {
        {u"12a3 45-67"_s, u"123456"_s},
        {u"０１２３４５"_s, u"０１２３４５"_s},
        {u"١٢٣٤٥٦٧"_s, u"١٢٣٤٥٦"_s},
        {u"½⑦Ⅻ一x²"_s, u"½⑦Ⅻ一²"_s},
        {u"1\u0301😀2👍🏽3"_s, u"1\u030123"_s},
        {QString(1000, u'x') + u"9"_s, u"9"_s},
    };
    for (const auto& [typed, kept] : cases)
        EXPECT_EQ(WirelessConnectView::filteredCode(typed), kept) << typed.left(20).toStdString();
}

TEST_F(Sheet, TheCodePaneListsPhonesAndMovesTheCodeEntry)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    EXPECT_TRUE(pane.searching()->isVisibleTo(&pane));
    EXPECT_FALSE(pane.pairedSection()->isVisibleTo(&pane));
    list(Kind::pairing, u"adb-AAA-t"_s, "10.0.0.5", 37000);
    list(Kind::pairing, u"adb-BBB-t"_s, "10.0.0.6", 37000);
    EXPECT_FALSE(pane.searching()->isVisibleTo(&pane));
    const auto pairButton = [&](const char* id) { return named<QPushButton>(pane.row(QString::fromUtf8(id)), u"pair"_s); };
    pairButton("pairing:adb-AAA-t")->click();
    EXPECT_TRUE(pane.entry()->isVisibleTo(&pane));
    QTest::keyClicks(pane.codeField(), u"12a3 45-67"_s);
    EXPECT_EQ(sheet.code(), u"123456"_s);
    pane.entryBack()->click();
    EXPECT_FALSE(pane.entry()->isVisibleTo(&pane));
    EXPECT_EQ(sheet.code(), u"123456"_s) << "Back keeps the code";

    pairButton("pairing:adb-BBB-t")->click();
    EXPECT_EQ(sheet.code(), QString());
    pane.codeField()->setText(u"12345"_s);
    EXPECT_FALSE(pane.entryPair()->isEnabled());
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_TRUE(requests().isEmpty());
    QTest::keyClicks(pane.codeField(), u"6"_s);
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(requests(), QStringList{u"123456:10.0.0.6:37000"_s});
    // Busy: every control waits, the open row says so.
    for (QWidget* control : {(QWidget*)pane.codeField(), (QWidget*)pane.entryPair(), (QWidget*)pane.entryBack(),
                             (QWidget*)pairButton("pairing:adb-AAA-t")})
        EXPECT_FALSE(control->isEnabled());
    EXPECT_TRUE(named(pane.row(u"pairing:adb-BBB-t"_s), u"mark"_s));
    EXPECT_FALSE(pane.footStatus()->isVisibleTo(&pane));
    answerPairing(pairingFails(PairingFailure::rejected()));
    EXPECT_TRUE(pane.codeField()->isEnabled());
    EXPECT_TRUE(shows(pane.entry(), u"The phone turned the pairing down. Check the code, make sure both are on the same "
                                    "Wi-Fi network, then try again."_s));
    // The open entry's phone stops offering pairing.
    browses.remove(Kind::pairing, u"adb-BBB-t"_s);
    settle();
    EXPECT_FALSE(pane.row(u"pairing:adb-BBB-t"_s));
    EXPECT_FALSE(pane.entry()->isVisibleTo(&pane));
    EXPECT_FALSE(pane.footStatus()->isVisibleTo(&pane));
}

TEST_F(Sheet, PairedPhonesShowConnectOrConnectedAndTheDisclosureSaysItsState)
{
    adb->setDevices({adbPhone(u"10.0.0.5:5555"_s)});
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    list(Kind::connect, u"adb-AAA-t"_s, "10.0.0.5", 5555);
    list(Kind::connect, u"adb-BBB-t"_s, "10.0.0.6", 5555);
    pass();
    EXPECT_TRUE(pane.pairedSection()->isVisibleTo(&pane));
    EXPECT_TRUE(shows(pane.row(u"connect:adb-AAA-t"_s), u"Connected"_s));
    EXPECT_TRUE(named(pane.row(u"connect:adb-BBB-t"_s), u"connect"_s));

    // The mark is a label: the check mark symbol beside the text, both in the accent colour.
    auto* symbol = named<QLabel>(pane.row(u"connect:adb-AAA-t"_s), u"markSymbol"_s);
    ASSERT_TRUE(symbol);
    const QColor accent = Theme::accent(Theme::isDark(pane.palette()));
    const QImage drawn = symbol->pixmap().toImage();
    const QImage expected = Look::symbol(u"checkmark.circle.fill"_s, int(drawn.height() / drawn.devicePixelRatio()),
                                         accent, drawn.devicePixelRatio()).toImage();
    EXPECT_EQ(drawn.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(named(pane.row(u"connect:adb-BBB-t"_s), u"markSymbol"_s));

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(pane.disclosure());
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->role(), QAccessible::Heading) << "read as the heading of its section";
    EXPECT_TRUE(accessible->state().expandable);
    EXPECT_FALSE(accessible->state().expanded);
    EXPECT_EQ(accessible->text(QAccessible::Value), u"Collapsed"_s);
    EXPECT_FALSE(pane.manualForm()->isVisibleTo(&pane));
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(sheet.showManual());
    EXPECT_EQ(accessible->text(QAccessible::Value), u"Expanded"_s);
    EXPECT_TRUE(accessible->state().expanded);
    EXPECT_TRUE(pane.manualForm()->isVisibleTo(&pane));
}

TEST_F(Sheet, PairNeedsExactlySixCharactersAsTheFilterCountsThem)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    list(Kind::pairing, u"adb-AAA-t"_s, "10.0.0.6", 37000);
    named<QPushButton>(pane.row(u"pairing:adb-AAA-t"_s), u"pair"_s)->click();
    // Counted in characters, not in UTF-16 units.
    const std::pair<QString, bool> cases[] = {
        {u"123456"_s, true},
        {u"12345"_s, false},
        {u"1\u030123456"_s, true},           // a digit with a combining mark is one character
        {u"1\u03012345"_s, false},
        {u"\U0001D7CF\U0001D7D0\U0001D7D1"_s, false}, // three digits outside the basic plane, six units
        {u"\U0001D7CF\U0001D7D0\U0001D7D1\U0001D7D2\U0001D7D3\U0001D7D4"_s, true},
    };
    for (const auto& [code, sendable] : cases) {
        pane.codeField()->setText(code);
        ASSERT_EQ(sheet.code(), code);
        EXPECT_EQ(pane.entryPair()->isEnabled(), sendable) << code.toStdString();
    }
    pane.codeField()->setText(u"\U0001D7CF\U0001D7D0\U0001D7D1"_s);
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_TRUE(requests().isEmpty()) << "Return sends no three-character code";
    pane.codeField()->setText(u"1\u030123456"_s);
    QTest::keyClick(pane.codeField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(requests(), QStringList{u"1\u030123456:10.0.0.6:37000"_s});
}

TEST_F(Sheet, TheManualFormFadesOutAsItFadesIn)
{
    Motion::setReducedOverride(false);
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    QWidget* frame = pane.manualForm()->parentWidget();
    pane.disclosure()->click();
    EXPECT_TRUE(frame->isVisibleTo(&pane));
    EXPECT_TRUE(animating(&pane)) << "fading in";
    QTRY_VERIFY_WITH_TIMEOUT(!animating(&pane), 3000);
    pane.disclosure()->click();
    EXPECT_FALSE(sheet.showManual());
    EXPECT_TRUE(frame->isVisibleTo(&pane)) << "still there while it fades out";
    EXPECT_TRUE(animating(&pane));
    QTRY_VERIFY_WITH_TIMEOUT(!frame->isVisibleTo(&pane), 3000);
    // Opened again halfway through fading out: it comes back.
    pane.disclosure()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!animating(&pane), 3000);
    pane.disclosure()->click();
    pane.disclosure()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!animating(&pane), 3000);
    EXPECT_TRUE(frame->isVisibleTo(&pane));
    EXPECT_FALSE(frame->graphicsEffect()) << "fully shown";
}

TEST_F(Sheet, RefreshingTheCodePaneKeepsNoMemoryPerKeystroke)
{
    WirelessConnectView& sheet = open();
    sheet.setMethod(WirelessConnectView::Method::code);
    CodePane& pane = codePane();
    for (const char* name : {"adb-AAA-t", "adb-BBB-t", "adb-CCC-t"}) {
        list(Kind::pairing, QString::fromUtf8(name), "10.0.0.6", 37000);
        list(Kind::connect, QString::fromUtf8(name), "10.0.0.6", 5555);
    }
    named<QPushButton>(pane.row(u"pairing:adb-BBB-t"_s), u"pair"_s)->click();
    const auto type = [&](int keystrokes) {
        for (int i = 0; i < keystrokes; ++i) {
            pane.codeField()->setText(i % 2 ? u"1"_s : u"12"_s);
            QCoreApplication::processEvents();
        }
    };
    type(200); // caches settle
    // The least growth of three rounds: other work of the process can
    // allocate during one, a leak shows in all of them.
    size_t least = std::numeric_limits<size_t>::max();
    for (int round = 0; round < 3; ++round) {
        const size_t before = mallinfo2().uordblks;
        type(1000);
        const size_t after = mallinfo2().uordblks;
        least = std::min(least, after > before ? after - before : 0);
    }
    // Each refresh re-lays seven rows; a kept layout item is some 60 bytes.
    EXPECT_LT(least, size_t(30'000)) << least;
}

} // namespace
