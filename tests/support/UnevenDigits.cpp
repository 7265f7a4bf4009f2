#include "UnevenDigits.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <map>

namespace testsupport {

namespace {

const QString family = QStringLiteral("Test Uneven Digits");
constexpr int unitsPerEm = 1000;
constexpr int inkTop = 700;

// Digit d advances 400 + 50 d: "1" is narrower than "8".
int advanceOf(int digit)
{
    return 400 + 50 * digit;
}

class Bytes {
public:
    void u16(int v)
    {
        m_data.append(char((v >> 8) & 0xff));
        m_data.append(char(v & 0xff));
    }
    void u32(quint32 v)
    {
        u16(int(v >> 16));
        u16(int(v & 0xffff));
    }
    void zeros(int count) { m_data.append(QByteArray(count, '\0')); }
    void pad()
    {
        while (m_data.size() % 4)
            m_data.append('\0');
    }
    void append(const QByteArray& more) { m_data.append(more); }
    const QByteArray& data() const { return m_data; }
    qsizetype size() const { return m_data.size(); }

private:
    QByteArray m_data;
};

quint32 checksum(QByteArray table)
{
    while (table.size() % 4)
        table.append('\0');
    quint32 sum = 0;
    for (qsizetype i = 0; i < table.size(); i += 4)
        sum += (quint32(quint8(table[i])) << 24) | (quint32(quint8(table[i + 1])) << 16) |
               (quint32(quint8(table[i + 2])) << 8) | quint32(quint8(table[i + 3]));
    return sum;
}

// A TrueType font of .notdef, the space and the ten digits, each digit a
// filled box 50 units in from both sides of its advance.
QByteArray fontData()
{
    constexpr int glyphs = 12;
    int advances[glyphs] = {500, 300};
    for (int d = 0; d < 10; ++d)
        advances[2 + d] = advanceOf(d);

    std::map<QByteArray, QByteArray> tables;

    Bytes glyf;
    Bytes loca;
    for (int g = 0; g < glyphs; ++g) {
        loca.u32(quint32(glyf.size()));
        if (g < 2)
            continue; // empty
        const int x0 = 50, x1 = advances[g] - 50;
        glyf.u16(1);
        glyf.u16(x0);
        glyf.u16(0);
        glyf.u16(x1);
        glyf.u16(inkTop);
        glyf.u16(3); // the last point of the one contour
        glyf.u16(0); // no instructions
        for (int i = 0; i < 4; ++i)
            glyf.append(QByteArray(1, '\x01')); // on the curve, long deltas
        for (int dx : {x0, 0, x1 - x0, 0})
            glyf.u16(dx & 0xffff);
        for (int dy : {0, inkTop, 0, -inkTop})
            glyf.u16(dy & 0xffff);
        glyf.pad();
    }
    loca.u32(quint32(glyf.size()));
    tables["glyf"] = glyf.data();
    tables["loca"] = loca.data();

    Bytes head;
    head.u32(0x00010000);
    head.u32(0x00010000);
    head.u32(0);
    head.u32(0x5F0F3CF5);
    head.u16(0x000B);
    head.u16(unitsPerEm);
    head.zeros(16);
    head.u16(0);
    head.u16(0);
    head.u16(advanceOf(9));
    head.u16(inkTop);
    head.u16(0);
    head.u16(8);
    head.u16(2);
    head.u16(1); // long offsets
    head.u16(0);
    tables["head"] = head.data();

    Bytes hhea;
    hhea.u32(0x00010000);
    hhea.u16(800);
    hhea.u16(-200 & 0xffff);
    hhea.u16(0);
    hhea.u16(advanceOf(9));
    hhea.u16(0);
    hhea.u16(0);
    hhea.u16(advanceOf(9) - 50);
    hhea.u16(1);
    hhea.u16(0);
    hhea.u16(0);
    hhea.zeros(8);
    hhea.u16(0);
    hhea.u16(glyphs);
    tables["hhea"] = hhea.data();

    Bytes hmtx;
    for (int g = 0; g < glyphs; ++g) {
        hmtx.u16(advances[g]);
        hmtx.u16(g < 2 ? 0 : 50);
    }
    tables["hmtx"] = hmtx.data();

    Bytes maxp;
    maxp.u32(0x00010000);
    maxp.u16(glyphs);
    maxp.u16(4);
    maxp.u16(1);
    maxp.u16(0);
    maxp.u16(0);
    maxp.u16(2);
    maxp.zeros(16);
    tables["maxp"] = maxp.data();

    Bytes cmap;
    cmap.u16(0);
    cmap.u16(1);
    cmap.u16(3);
    cmap.u16(1);
    cmap.u32(12);
    const int starts[] = {0x20, 0x30, 0xFFFF};
    const int ends[] = {0x20, 0x39, 0xFFFF};
    const int deltas[] = {1 - 0x20, 2 - 0x30, 1};
    cmap.u16(4);
    cmap.u16(16 + 8 * 3);
    cmap.u16(0);
    cmap.u16(6);
    cmap.u16(4);
    cmap.u16(1);
    cmap.u16(2);
    for (int e : ends)
        cmap.u16(e);
    cmap.u16(0);
    for (int s : starts)
        cmap.u16(s);
    for (int d : deltas)
        cmap.u16(d & 0xffff);
    for (int i = 0; i < 3; ++i)
        cmap.u16(0);
    tables["cmap"] = cmap.data();

    const QString names[] = {family, QStringLiteral("Regular"), family, QStringLiteral("TestUnevenDigits")};
    const int ids[] = {1, 2, 4, 6};
    Bytes name;
    name.u16(0);
    name.u16(4);
    name.u16(6 + 12 * 4);
    Bytes strings;
    for (int i = 0; i < 4; ++i) {
        QByteArray text;
        for (QChar c : names[i]) {
            text.append(char(c.unicode() >> 8));
            text.append(char(c.unicode() & 0xff));
        }
        name.u16(3);
        name.u16(1);
        name.u16(0x409);
        name.u16(ids[i]);
        name.u16(int(text.size()));
        name.u16(int(strings.size()));
        strings.append(text);
    }
    name.append(strings.data());
    tables["name"] = name.data();

    Bytes post;
    post.u32(0x00030000);
    post.u32(0);
    post.u16(-100 & 0xffff);
    post.u16(50);
    post.zeros(20);
    tables["post"] = post.data();

    Bytes font;
    const int count = int(tables.size());
    font.u32(0x00010000);
    font.u16(count);
    font.u16(128); // 16 × 8, the largest power of two not above the count, times 16
    font.u16(3);
    font.u16(count * 16 - 128);
    quint32 offset = quint32(12 + 16 * count);
    for (const auto& [tag, data] : tables) {
        font.append(tag);
        font.u32(checksum(data));
        font.u32(offset);
        font.u32(quint32(data.size()));
        offset += quint32((data.size() + 3) / 4 * 4);
    }
    for (const auto& [tag, data] : tables) {
        font.append(data);
        font.pad();
    }
    return font.data();
}

} // namespace

QFont unevenDigitsFont(int pixelSize)
{
    static const bool loaded = QFontDatabase::addApplicationFontFromData(fontData()) >= 0;
    Q_UNUSED(loaded)
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

bool isUnevenDigitsFont(const QFont& font)
{
    return QFontInfo(font).family() == family;
}

std::optional<double> firstInkCentre(const QImage& image, const QRect& area)
{
    int start = -1;
    for (int x = area.left(); x <= area.right(); ++x) {
        bool inked = false;
        for (int y = area.top(); y <= area.bottom() && !inked; ++y)
            inked = qGray(image.pixel(x, y)) < 128;
        if (inked && start < 0)
            start = x;
        if (!inked && start >= 0)
            return (start + x - 1) / 2.0;
    }
    return std::nullopt;
}

} // namespace testsupport
