// The phone details: labelled rows read back from the script's output.
#include "ADBParsing.h"
#include "ADBTools.h"

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::pair<QString, QString>>;

QString pair(const char* label, const char* value)
{
    return QString::fromUtf8(label) + QLatin1Char('=') + QString::fromUtf8(value);
}

TEST(DeviceDetailsRows, KeepTheScriptsOrderAndDropMissingFacts)
{
    const QString output = QStringList{pair("Model", "Google Pixel 7"),
                                       pair("Android", "14 (API 34)"),
                                       pair("Security patch", "2024-01-05"),
                                       pair("Build", "UQ1A.240105.004 release-keys"),
                                       pair("Screen", "1080x2400 at 420 dpi"),
                                       pair("Processor", "arm64-v8a"),
                                       pair("Wi-Fi address", ""),
                                       pair("Serial number", "R58M123")}
                               .join(QLatin1Char('\n'))
                           + QLatin1Char('\n');
    const DeviceDetails details = adbparse::details(output);
    const Rows expected{{QStringLiteral("Model"), QStringLiteral("Google Pixel 7")},
                        {QStringLiteral("Android"), QStringLiteral("14 (API 34)")},
                        {QStringLiteral("Security patch"), QStringLiteral("2024-01-05")},
                        {QStringLiteral("Build"), QStringLiteral("UQ1A.240105.004 release-keys")},
                        {QStringLiteral("Screen"), QStringLiteral("1080x2400 at 420 dpi")},
                        {QStringLiteral("Processor"), QStringLiteral("arm64-v8a")},
                        {QStringLiteral("Serial number"), QStringLiteral("R58M123")}};
    EXPECT_EQ(details.rows, expected);
}

TEST(DeviceDetailsRows, DropTheRemnantsOfMissingValues)
{
    const DeviceDetails details = adbparse::details(QStringLiteral("Screen= at 420 dpi\n"
                                                                   "Android= (API )\n"
                                                                   "Model=  \n"
                                                                   "Build=\n"
                                                                   "10.0.0.9\n"
                                                                   "Wi-Fi address=10.0.0.8\n"));
    const Rows expected{{QStringLiteral("Wi-Fi address"), QStringLiteral("10.0.0.8")}};
    EXPECT_EQ(details.rows, expected);
}

TEST(DeviceDetailsRows, KeepPartialValuesAndEqualsSignsInValues)
{
    const DeviceDetails details = adbparse::details(QStringLiteral("Screen=1080x2400 at  dpi\n"
                                                                   "Android= (API 34)\n"
                                                                   "Model=Acme \n"
                                                                   "Build=a=b=c\n"
                                                                   "==Odd=x\n"));
    const Rows expected{{QStringLiteral("Screen"), QStringLiteral("1080x2400 at  dpi")},
                        {QStringLiteral("Android"), QStringLiteral("(API 34)")},
                        {QStringLiteral("Model"), QStringLiteral("Acme")},
                        {QStringLiteral("Build"), QStringLiteral("a=b=c")},
                        {QStringLiteral("Odd"), QStringLiteral("x")}};
    EXPECT_EQ(details.rows, expected);
    EXPECT_TRUE(adbparse::details(QString()).rows.empty());
}

TEST(DeviceDetailsRows, CompareByLabelAndValueTogether)
{
    DeviceDetails a{{{QStringLiteral("Model"), QStringLiteral("X")}}};
    DeviceDetails b{{{QStringLiteral("Model"), QStringLiteral("X")}}};
    DeviceDetails c{{{QStringLiteral("Model"), QStringLiteral("Y")}}};
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, DeviceDetails{});
}

} // namespace
