// The phone's own words through the real adb, on a phone with adb's shell
// protocol and on one without it (Android 6 and older: no exit status,
// standard error within standard output), and adb's failure lines about
// names that hold quotes, "' to '", "': " and line ends.
#include "ADBFiles.h"
#include "PhoneFixture.h"
#include "TestSupport.h"
#include "WorkingNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

namespace {

using namespace Qt::Literals::StringLiterals;

class PhoneWords : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        for (const bool protocol : {true, false}) {
            FakePhoneHarness::Options options;
            options.shellProtocol = protocol;
            // The second phone joins the first one's adb server.
            options.shareServerOf = s_phones.empty() ? nullptr : s_phones.front().get();
            auto phone = std::make_unique<FakePhoneHarness>(options);
            if (!phone->start(&s_startError))
                return;
            s_phones.push_back(std::move(phone));
        }
    }
    static void TearDownTestSuite()
    {
        // The one whose server the other joined goes last.
        while (!s_phones.empty())
            s_phones.pop_back();
    }

protected:
    void SetUp() override { ASSERT_EQ(s_phones.size(), 2u) << "the fake phones did not start: " << s_startError.toStdString(); }

    static std::vector<std::unique_ptr<FakePhoneHarness>> s_phones;
    static QString s_startError;
};

std::vector<std::unique_ptr<FakePhoneHarness>> PhoneWords::s_phones;
QString PhoneWords::s_startError;

// Mended: on a phone without the shell protocol every failure read as a
// dropped connection ("The connection to the phone ended before it
// answered."), so a missing folder no longer read as missing either.
TEST_F(PhoneWords, EveryPhonesRefusalsReachThePersonInItsWordsAndACutAnswerIsStillCaught)
{
    const QString lost = u"The connection to the phone ended before it answered."_s;
    const struct {
        const char* what;
        std::function<void(FakePhoneHarness&, bool)> fault; // on, then off
        std::function<void(ADBFiles&)> work;
        QString sentence;
    } cases[] = {
        {"a refused rename", [](FakePhoneHarness& phone, bool on) { phone.setRefuseMoves(on); },
         [](ADBFiles& files) { files.move(u"/sdcard/a.txt"_s, u"/sdcard/c.txt"_s, Cancel()); },
         u"mv: bad '/sdcard/a.txt': Permission denied"_s},
        {"a refused rename to a free name", [](FakePhoneHarness& phone, bool on) { phone.setRefuseMoves(on); },
         [](ADBFiles& files) { files.takeName(u"/sdcard/a.txt"_s, u"/sdcard/c.txt"_s, Cancel()); },
         u"mv: bad /sdcard/a.txt: Permission denied"_s},
        {"New Folder on a full phone", [](FakePhoneHarness& phone, bool on) { phone.setStorageFull(on); },
         [](ADBFiles& files) { files.makeFolder(u"/sdcard/New"_s, Cancel()); },
         u"mkdir: '/sdcard/New': No space left on device"_s},
        {"a missing folder", [](FakePhoneHarness&, bool) {},
         [](ADBFiles& files) { files.list(u"/sdcard/gone"_s, false, Cancel()); }, u"No such file or directory"_s},
        {"a folder that can't be made", [](FakePhoneHarness&, bool) {},
         [](ADBFiles& files) { files.makeFolder(u"/sdcard/gone/New"_s, Cancel()); }, u"No such file or directory"_s},
        {"a connection that drops", [](FakePhoneHarness& phone, bool on) { phone.cutShells(on ? u"rm -rf"_s : QString()); },
         [](ADBFiles& files) { files.remove(u"/sdcard/a.txt"_s, Cancel()); }, lost},
        {"a listing cut short", [](FakePhoneHarness& phone, bool on) { phone.cutShells(on ? u"stat -L"_s : QString(), 20); },
         [](ADBFiles& files) { files.list(u"/sdcard"_s, false, Cancel()); }, lost},
    };
    for (const auto& phone : s_phones) {
        ADBFiles files(ADB(phone->adbPath()), phone->serial());
        ASSERT_TRUE(phonetest::writeFile(phonetest::storagePath(*phone, u"/sdcard/a.txt"_s), "a"));
        ASSERT_TRUE(phonetest::writeFile(phonetest::storagePath(*phone, u"/sdcard/b.txt"_s), "b"));
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (phone == s_phones.front() ? "" : ", without the shell protocol"));
            c.fault(*phone, true);
            const QString failure = phonetest::failureOf([&] { c.work(files); });
            c.fault(*phone, false);
            EXPECT_TRUE(failure == c.sentence || (c.sentence != lost && failure.endsWith(c.sentence)))
                << failure.toStdString();
        }
        // Answers and successes come whole, without the mark.
        std::vector<QString> listed;
        for (const RemoteEntry& entry : files.list(u"/sdcard"_s, false, Cancel()))
            listed.push_back(entry.name);
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, (std::vector<QString>{u"a.txt"_s, u"b.txt"_s}));
        files.move(u"/sdcard/b.txt"_s, u"/sdcard/c.txt"_s, Cancel());
        EXPECT_TRUE(QFileInfo::exists(phonetest::storagePath(*phone, u"/sdcard/c.txt"_s)));
        EXPECT_EQ(files.existence(u"/sdcard/b.txt"_s, Cancel()), std::optional<bool>(false));
        files.remove(u"/sdcard/a.txt"_s, Cancel());
        files.remove(u"/sdcard/c.txt"_s, Cancel());
    }
}

// Mended: monkey ends with a status of its own (-4, seen as 252) when the
// app has nothing to open, and its raw words reached the person.
TEST_F(PhoneWords, AnAppWithNothingToOpenSaysSoWhateverMonkeysStatus)
{
    const QString command = u"monkey -p 'com.example.notes' -c android.intent.category.LAUNCHER 1"_s;
    const QByteArray aborted = "bash arg: -p\nbash arg: com.example.notes\n** No activities found to run, monkey aborted.\n";
    for (const auto& phone : s_phones) {
        const ADB adb(phone->adbPath());
        for (const int status : {0, 252}) {
            SCOPED_TRACE(status);
            phone->setReply(command, {aborted, {}, status});
            EXPECT_EQ(phonetest::failureOf([&] { adb.launch(phone->serial(), u"com.example.notes"_s, Cancel()); }),
                      u"This app has nothing to open."_s);
        }
        // Another failure is told in monkey's words.
        phone->setReply(command, {{}, "monkey: not found\n", 127});
        EXPECT_EQ(phonetest::failureOf([&] { adb.launch(phone->serial(), u"com.example.notes"_s, Cancel()); }),
                  u"monkey: not found"_s);
        phone->setReply(command, {"Events injected: 1\n", {}, 0});
        EXPECT_EQ(phonetest::failureOf([&] { adb.launch(phone->serial(), u"com.example.notes"_s, Cancel()); }),
                  u"<no failure>"_s);
        phone->clearReplies();
    }
}

// Mended: names holding "' to '", "': " or a line end, copied to a full phone
// or a full disk, named an item that doesn't exist or our working name.
TEST_F(PhoneWords, ACopyToAFullPhoneOrDiskNamesTheItemWhateverItsNameHolds)
{
    FakePhoneHarness& phone = *s_phones.front();
    ADBFiles files(ADB(phone.adbPath()), phone.serial());
    const QString names[] = {u"Send 'this' to 'Mum'.jpg"_s, u"a\nb.jpg"_s, u"The 'best': a\nb.jpg"_s};
    QTemporaryDir computer;
    for (const QString& name : names) {
        for (const bool progress : {false, true}) {
            SCOPED_TRACE(name.toStdString() + (progress ? ", with progress" : ""));
            const Progress shown = progress ? Progress([](double) {}) : Progress();
            const QString sentence = [&](const char* cause) {
                return u"Copying “"_s + name + u"” failed: "_s + QString::fromUtf8(cause) + u"."_s;
            }("No space left on device");

            const QString source = computer.filePath(name);
            ASSERT_TRUE(phonetest::writeFile(source, QByteArray(4096, 's')));
            phone.setStorageFull(true);
            const QString pushed = phonetest::failureOf(
                [&] { files.push(source, u"/sdcard/.x.vantelorquist-copy"_s, shown, Cancel()); });
            phone.setStorageFull(false);
            EXPECT_EQ(pushed.toStdString(), sentence.toStdString());

            // A file size limit on adb stands in for a full disk.
            ASSERT_TRUE(phonetest::writeFile(phonetest::storagePath(phone, u"/sdcard/"_s + name), QByteArray(8192, 'p')));
            const QString target = computer.filePath(workingnameform::make(name, u"bec35cdd"_s, u"81cb53b17713"_s));
            ADBFiles limited(ADB(testsupport::writeScript(computer.path(), u"adb"_s,
                                                          "#!/bin/sh\ntrap '' XFSZ\nulimit -f 2\nexec '"
                                                              + phone.adbPath().toUtf8() + "' \"$@\"\n")),
                             phone.serial());
            const QString pulled = phonetest::failureOf([&] { limited.pull(u"/sdcard/"_s + name, target, shown, Cancel()); });
            EXPECT_EQ(pulled.toStdString(), (u"Copying “"_s + name + u"” failed: File too large."_s).toStdString());
            QFile::remove(target);
            QFile::remove(phonetest::storagePath(phone, u"/sdcard/"_s + name));
        }
    }
}

} // namespace
