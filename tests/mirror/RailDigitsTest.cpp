// The rail's frame rate keeps digits of one width, with a font whose digits
// differ.

#include "BrowserFakes.h"
#include "MirrorSession.h"
#include "MirrorSideRail.h"
#include "UnevenDigits.h"

#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class RailDigits : public browsertest::ModelTest {};

} // namespace

TEST_F(RailDigits, TheFrameRateKeepsItsWidth)
{
    const QFont uneven = testsupport::unevenDigitsFont();
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    QTemporaryDir home;
    QSettings settings(home.filePath(u"settings.ini"_s), QSettings::IniFormat);
    MirrorSession session(ADB(u"/bin/false"_s), u"S1"_s, u"Pixel 7"_s, &settings);
    MirrorSideRail rail(session, model());
    QLabel* rate = nullptr;
    for (QLabel* label : rail.findChildren<QLabel*>()) {
        if (label->parentWidget()->toolTip().startsWith(u"Frames per second"_s) && label->text() != u"fps"_s)
            rate = label;
    }
    ASSERT_TRUE(rate);
    rate->setFont(uneven);
    rate->setText(u"11"_s);
    const int ones = rate->sizeHint().width();
    rate->setText(u"88"_s);
    EXPECT_EQ(rate->sizeHint().width(), ones);
}
