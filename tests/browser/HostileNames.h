#pragma once

// Names a phone may send for itself, its apps and their versions, each
// trying to make a file name built from it leave the chosen folder, hide,
// or fail; and the check that a built name is one usable name.

#include "BrowserPaths.h"

#include <QDir>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace hostilenames {

struct Case {
    const char* what;
    QString text;
};

inline QList<Case> cases()
{
    using namespace Qt::Literals::StringLiterals;
    return {
        {"climbs out", u"../../Evil Phone"_s},
        {"dots only", u".."_s},
        {"one dot", u"."_s},
        {"absolute path", u"/home/someone/.config/autostart"_s},
        {"slash inside", u"Work / Home"_s},
        {"NUL", u"A"_s + QChar(0) + u"B"_s},
        {"control characters", u"Line\nBreak\tTab\x1b[31m\x7f\u0085"_s},
        {"direction override", u"Phone\u202Egnp.exe"_s},
        {"hidden", u".hidden"_s},
        {"300 bytes", QString(150, QChar(u'é'))},
        {"300 bytes of four-byte characters", QString::fromUtf8(QByteArray("\xF0\x9F\x93\xB1").repeated(75))},
        {"empty", QString()},
    };
}

// `name` is one name that stays inside any folder it is joined to, is not
// hidden, fits the file system and keeps our `ending`.
inline void expectOneName(const QString& name, const QString& ending)
{
    SCOPED_TRACE(name.toStdString());
    EXPECT_FALSE(name.isEmpty());
    EXPECT_FALSE(name.contains(QLatin1Char('/')));
    EXPECT_FALSE(name.startsWith(QLatin1Char('.')));
    for (const QChar c : name) {
        EXPECT_NE(c.category(), QChar::Other_Control) << "U+" << std::hex << int(c.unicode());
        EXPECT_FALSE(c.unicode() >= 0x202A && c.unicode() <= 0x202E) << "U+" << std::hex << int(c.unicode());
    }
    EXPECT_FALSE(name.back().isHighSurrogate()) << "a character cut in half";
    EXPECT_LE(browserpaths::nameBytes(name), browserpaths::nameLimit);
    EXPECT_TRUE(name.endsWith(ending));
    const QString folder = QStringLiteral("/chosen/folder");
    EXPECT_EQ(QDir::cleanPath(folder + QLatin1Char('/') + name), folder + QLatin1Char('/') + name);
}

} // namespace hostilenames
