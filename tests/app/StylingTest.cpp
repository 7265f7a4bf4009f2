#include "FileIcons.h"
#include "Models.h"
#include "WrappedLabel.h"

#include <QFont>
#include <QLabel>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {
QIcon iconOf(const QString& name, bool folder = false)
{
    return FileIcons::icon(RemoteEntry{name, folder, 0, {}});
}
} // namespace

TEST(FileIcons, OneCachedIconPerKindAndNoneIsEmpty)
{
    const QIcon jpg = iconOf(u"Photo.JPG"_s);
    EXPECT_EQ(jpg.cacheKey(), iconOf(u"photo.jpg"_s).cacheKey());
    EXPECT_EQ(iconOf(u"a.tar.gz"_s).cacheKey(), iconOf(u"b.gz"_s).cacheKey());
    const QIcon folder = iconOf(u"photos.2024"_s, true);
    EXPECT_EQ(folder.cacheKey(), iconOf(u"DCIM"_s, true).cacheKey());
    EXPECT_NE(folder.cacheKey(), jpg.cacheKey());
    EXPECT_FALSE(jpg.isNull());
    EXPECT_FALSE(iconOf(u"README"_s).isNull());
    EXPECT_FALSE(iconOf(u"x.unknownext"_s).isNull());
}

// A wrapped label that remembers heights answers as QLabel does, also after
// its text, font or margins change between questions.
TEST(WrappedLabel, AnswersAsAPlainWrappedLabelThroughChanges)
{
    WrappedLabel remembering(u"Unlock the phone, tap the “USB” notification and pick File transfer."_s);
    QLabel plain(remembering.text());
    plain.setWordWrap(true);
    const std::function<void(QLabel&)> changes[] = {
        [](QLabel&) {},
        [](QLabel& label) { label.setText(label.text() + u" That's all you need to browse and copy files."_s); },
        [](QLabel& label) {
            QFont big = label.font();
            big.setPointSizeF(big.pointSizeF() * 1.6);
            label.setFont(big);
        },
        [](QLabel& label) { label.setContentsMargins(9, 0, 17, 3); },
        [](QLabel& label) { label.setMargin(6); },
        [](QLabel& label) { label.setIndent(30); },
    };
    for (const auto& change : changes) {
        change(remembering);
        change(plain);
        for (int width : {245, 40, 344, 245, 40, 344}) {
            ASSERT_EQ(remembering.heightForWidth(width), plain.heightForWidth(width)) << width;
        }
    }
}
