// The decoding module as a session finds it: a missing or unusable module is
// a sentence in the status overlay, and the phone is not touched.

#include "BrowserFakes.h"
#include "MirrorDecoder.h"
#include "MirrorSession.h"
#include "MirrorStatusOverlay.h"
#include "StubAdb.h"
#include "TestSupport.h"

#include <QFile>
#include <QPushButton>
#include <QSettings>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::waitUntil;
using Kind = MirrorSession::Phase::Kind;

// One process, in this order: the module must not have been loaded before
// the failures are tried, and once loaded it stays.
TEST(MirrorDecoderModule, AnUnusableModuleIsShownInTheOverlayWithoutTouchingThePhoneAndTheNextUsableOneStreams)
{
    QTemporaryDir folder;
    const QString garbage = folder.filePath(QStringLiteral("libvantelorquist-decoder.so"));
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a library\n");
    file.close();
    const QString missing = folder.filePath(QStringLiteral("nowhere/libvantelorquist-decoder.so"));

    struct Case {
        const char* name;
        QStringList candidates;
        QString message; // a prefix for the loader's own words
        bool exact = true;
    };
    const std::vector<Case> cases {
        {"missing", {missing}, QStringLiteral("The screen mirroring video decoder is missing from the app.")},
        {"not a library", {missing, garbage}, QStringLiteral("Couldn't load the screen mirroring video decoder ("), false},
        {"another version", {QStringLiteral(OTHER_DECODER), garbage},
         QStringLiteral("The screen mirroring video decoder belongs to another version of the app.")},
    };
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("mirrorSound"), false); // no sound output needed
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MirrorDecoderModule::setCandidates(c.candidates);
        StubAdb stub;
        MirrorSession session(stub.adb(), QStringLiteral("S1"), QStringLiteral("Pixel"), &settings);
        session.setConnectionOptions(stub.options());
        MirrorStatusOverlay overlay(session);
        session.start();
        ASSERT_TRUE(waitUntil([&] { return session.phase().kind() == Kind::stopped; }, 10s));
        if (c.exact)
            EXPECT_EQ(overlay.text(), c.message);
        else
            EXPECT_TRUE(overlay.text().startsWith(c.message) && overlay.text().endsWith(QStringLiteral(")."))
                        && overlay.text().size() > c.message.size() + 2)
                << overlay.text().toStdString();
        EXPECT_TRUE(overlay.tryAgainButton()->isVisibleTo(&overlay));
        EXPECT_TRUE(stub.calls().isEmpty()) << stub.calls().join(u'\n').toStdString();
    }

    // The failed loads are not remembered: with the built module behind the
    // unusable ones, the same kind of session streams.
    MirrorDecoderModule::setCandidates({missing, garbage, QStringLiteral(OTHER_DECODER),
                                        MirrorDecoderModule::defaultCandidates().constLast()});
    StubAdb stub;
    auto session = std::make_unique<MirrorSession>(stub.adb(), QStringLiteral("S1"), QStringLiteral("Pixel"), &settings);
    session->setConnectionOptions(stub.options());
    auto overlay = std::make_unique<MirrorStatusOverlay>(*session);
    session->start();
    EXPECT_TRUE(waitUntil([&] { return session->phase().kind() == Kind::streaming; }, 15s))
        << session->phase().message().toStdString();
    EXPECT_EQ(overlay->text(), QString());
    session->stop();
    overlay.reset();
    session.reset(); // its decoder's threads are named after the video thread
    EXPECT_TRUE(waitUntil(noMirrorThreads));
}
