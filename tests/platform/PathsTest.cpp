// Names as bytes: a name that isn't UTF-8 turns into text and back into
// the very same bytes, and the computer's items are read and removed by
// those bytes.
#include "ChildProcess.h"
#include "Paths.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

TEST(NamesAsBytes, EveryByteStringComesBackWhole)
{
    const QByteArray cases[] = {
        "plain.txt",      "caf\xc3\xa9.mp3",  "caf\xe9.mp3",       "\xff\xfe",         "\xc3",
        "a\xe2\x82",      "\xed\xb3\xa9",     "\xef\xbf\xbd",      "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80\xe9",
        "\xc0\xaf",       "\xf4\x90\x80\x80", "\x80x\xbf",         "",
    };
    for (const QByteArray& name : cases) {
        const QString text = paths::text(name);
        EXPECT_EQ(paths::bytes(text), name) << name.toHex().toStdString();
        EXPECT_TRUE(paths::carriesExactly(text)) << name.toHex().toStdString();
        EXPECT_TRUE(paths::shown(text).isValidUtf16()) << name.toHex().toStdString();
    }
    // Distinct bytes stay distinct names, U+FFFD itself among them.
    EXPECT_NE(paths::text("caf\xe9"), paths::text("caf\xef\xbf\xbd"));
    EXPECT_EQ(paths::shown(paths::text("caf\xe9.mp3")), QStringLiteral("caf\uFFFD.mp3"));
    EXPECT_EQ(paths::text("caf\xc3\xa9"), QStringLiteral("café"));
}

TEST(NamesAsBytes, ALoneSurrogateNoByteStandsForIsNotCarried)
{
    for (const char16_t unit : {u'\xD800', u'\xDBFF', u'\xDC00', u'\xDC7F'}) {
        const QString name = QStringLiteral("x") + QChar(unit);
        EXPECT_FALSE(paths::carriesExactly(name)) << int(unit);
        EXPECT_EQ(paths::shown(name), QStringLiteral("x\uFFFD"));
    }
    EXPECT_TRUE(paths::carriesExactly(QStringLiteral("😀")));
}

TEST(NamesAsBytes, AComputerFolderIsReadAndRemovedByItsNamesBytes)
{
    QTemporaryDir root, outside;
    const QByteArray base = QFile::encodeName(root.path());
    ASSERT_EQ(::mkdir((base + "/Alb\xfcm").constData(), 0700), 0);
    ::close(::open((base + "/Alb\xfcm/caf\xe9.mp3").constData(), O_CREAT | O_WRONLY, 0600));
    ::close(::open((QFile::encodeName(outside.path()) + "/theirs").constData(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(), (base + "/Alb\xfcm/link").constData()), 0);

    const QString album = paths::joined(root.path(), paths::text("Alb\xfcm"));
    EXPECT_EQ(paths::kindOf(album), paths::Kind::folder);
    std::vector<paths::LocalItem> items = paths::localItems(album);
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(paths::bytes(items[0].name), QByteArray("caf\xe9.mp3"));
    EXPECT_EQ(items[1].kind, paths::Kind::link);

    EXPECT_TRUE(paths::removeLocalTree(album));
    EXPECT_EQ(::access((base + "/Alb\xfcm").constData(), F_OK), -1);
    // A link is removed as a link, never what it leads to.
    EXPECT_EQ(::access((QFile::encodeName(outside.path()) + "/theirs").constData(), F_OK), 0);
    EXPECT_TRUE(paths::removeLocalTree(album)); // nothing there is as good
}

TEST(NamesAsBytes, AChildsArgumentsAreItsBytes)
{
    QTemporaryDir root;
    const QString made = paths::joined(root.path(), paths::text("caf\xe9"));
    const auto child = ChildProcess::start({QStringLiteral("/usr/bin/touch"), {made}, {}, ChildProcess::Output::Pipes});
    ASSERT_TRUE(child->wait().succeeded());
    EXPECT_EQ(::access((QFile::encodeName(root.path()) + "/caf\xe9").constData(), F_OK), 0);
}

} // namespace
