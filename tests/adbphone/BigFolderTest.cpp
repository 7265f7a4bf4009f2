// A folder with more items than one command line can hold fails on the phone
// the way a real phone fails: the glob expands, exec refuses the arguments.
#include "FakePhoneHarness.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(AdbPhoneBigFolder, FortyThousandLongNamesOverflowTheArgumentList)
{
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();

    const QByteArray folder = QFile::encodeName(phone.storage()) + "/big";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray padding(94, 'n');
    for (int i = 0; i < 40000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/%05d_", i);
        const int fd = ::open((folder + name + padding).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    // The listing command as it is sent: the failure is hidden and it ends well.
    const auto hidden = phone.shell(QStringLiteral("cd '/sdcard/big' || exit 1; stat -L -c '%F|%s|%Y|%n' -- * 2>/dev/null; true"));
    EXPECT_EQ(hidden.status, 0);
    EXPECT_TRUE(hidden.out.isEmpty()) << hidden.out.left(200).toStdString();

    // What it hides.
    const auto shown = phone.shell(QStringLiteral("cd '/sdcard/big' || exit 1; stat -L -c '%n' -- * >/dev/null"));
    EXPECT_NE(shown.status, 0);
    EXPECT_TRUE(shown.err.contains("Argument list too long")) << shown.err.toStdString();

    // A smaller glob in the same folder still works.
    const auto some = phone.shell(QStringLiteral("cd '/sdcard/big' || exit 1; stat -L -c '%n' -- 0000* | wc -l"));
    EXPECT_EQ(some.out.trimmed(), QByteArray("10"));
}
