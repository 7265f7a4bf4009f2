#include "Digits.h"
#include "FileIcons.h"
#include "Glass.h"
#include "Look.h"
#include "Models.h"
#include "Theme.h"
#include "UnevenDigits.h"
#include "WrappedLabel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QLocale>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <optional>

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

// ---- the theme, the glass look and equal digits ----------------------------------

namespace {

QPalette windowOf(const QColor& colour)
{
    QPalette palette;
    palette.setColor(QPalette::Window, colour);
    return palette;
}

// Records what a painter draws, with the pen and brush of each path.
class Recorder : public QPaintEngine {
public:
    struct Drawn {
        QPen pen;
        QBrush brush;
        QPainterPath path;
    };
    Recorder() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & QPaintEngine::DirtyPen)
            m_pen = state.pen();
        if (state.state() & QPaintEngine::DirtyBrush)
            m_brush = state.brush();
    }
    void drawPath(const QPainterPath& path) override { drawn.append({m_pen, m_brush, path}); }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    Type type() const override { return QPaintEngine::User; }

    QList<Drawn> drawn;

private:
    QPen m_pen;
    QBrush m_brush;
};

class RecordingDevice : public QPaintDevice {
public:
    QPaintEngine* paintEngine() const override { return &engine; }
    mutable Recorder engine;

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 100;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        default:
            return 0;
        }
    }
};

// The inked columns of an image as runs [start, end).
QList<std::pair<int, int>> inkedRuns(const QImage& image)
{
    QList<std::pair<int, int>> runs;
    int start = -1;
    for (int x = 0; x <= image.width(); ++x) {
        bool inked = false;
        for (int y = 0; x < image.width() && y < image.height() && !inked; ++y)
            inked = qGray(image.pixel(x, y)) < 128;
        if (inked && start < 0)
            start = x;
        if (!inked && start >= 0) {
            runs.append({start, x});
            start = -1;
        }
    }
    return runs;
}

} // namespace

TEST(Theme, ColoursAreTheTablesSrgbValues)
{
    const struct {
        QColor colour;
        double red, green, blue;
    } table[] = {{Theme::accent(true), 0.36, 0.80, 0.56},
                 {Theme::accent(false), 0.13, 0.58, 0.37},
                 {Theme::phoneBody(true), 0.16, 0.17, 0.18},
                 {Theme::phoneBody(false), 0.12, 0.13, 0.14}};
    for (const auto& row : table) {
        EXPECT_EQ(row.colour.spec(), QColor::Rgb);
        EXPECT_NEAR(row.colour.redF(), row.red, 1e-4) << row.colour.name().toStdString();
        EXPECT_NEAR(row.colour.greenF(), row.green, 1e-4) << row.colour.name().toStdString();
        EXPECT_NEAR(row.colour.blueF(), row.blue, 1e-4) << row.colour.name().toStdString();
        EXPECT_EQ(row.colour.alphaF(), 1.0);
    }
}

// A dark desktop gets the dark variants, any other the light ones, also
// through the application's palette.
TEST(Theme, ADarkPaletteTakesTheDarkVariantsAndAnyOtherTheLightOnes)
{
    const std::pair<QColor, bool> table[] = {
        {QColor(0x1e, 0x1e, 0x1e), true}, {QColor(0x3c, 0x3c, 0x3c), true}, {QColor(0xef, 0xef, 0xef), false},
        {QColor(Qt::white), false},       {QColor(0xb0, 0xb0, 0xb0), false}};
    const QPalette before = QApplication::palette();
    for (const auto& [window, dark] : table) {
        EXPECT_EQ(Theme::isDark(windowOf(window)), dark) << window.name().toStdString();
        QApplication::setPalette(windowOf(window));
        EXPECT_NEAR(Theme::accent().greenF(), dark ? 0.80 : 0.58, 1e-4) << window.name().toStdString();
        EXPECT_NEAR(Theme::phoneBody().redF(), dark ? 0.16 : 0.12, 1e-4) << window.name().toStdString();
    }
    QApplication::setPalette(before);
}

TEST(Glass, FillsItsShapeWithTheMaterialThenAFaintWhiteHairline)
{
    RecordingDevice device;
    const QPainterPath capsule = GlassSurface::outline(GlassSurface::Shape::capsule, QRectF(0, 0, 80, 30), 0);
    QPainter painter(&device);
    GlassSurface::paint(painter, capsule, windowOf(QColor(40, 50, 60)));
    painter.end();
    const QList<Recorder::Drawn>& drawn = device.engine.drawn;
    ASSERT_EQ(drawn.size(), 2);
    EXPECT_EQ(drawn[0].pen.style(), Qt::NoPen);
    EXPECT_EQ(drawn[0].brush.color().rgb(), QColor(40, 50, 60).rgb());
    EXPECT_NEAR(drawn[0].brush.color().alphaF(), 0.82, 0.005) << "translucent";
    EXPECT_EQ(drawn[0].path, capsule);
    // The hairline: white at 0.12, half a point, centred on the outline.
    EXPECT_EQ(drawn[1].brush.style(), Qt::NoBrush);
    EXPECT_EQ(drawn[1].pen.style(), Qt::SolidLine);
    EXPECT_EQ(drawn[1].pen.color(), QColor(255, 255, 255, 31));
    EXPECT_EQ(drawn[1].pen.widthF(), 0.5);
    EXPECT_EQ(drawn[1].path, capsule);
}

// Every surface casts the same soft shadow, and being interactive changes
// nothing in this look, not even under the pointer.
TEST(Glass, CastsASoftShadowBelowAndInteractiveChangesNothing)
{
    GlassSurface plain(GlassSurface::Shape::capsule, 0, false);
    GlassSurface interactive(GlassSurface::Shape::capsule, 0, true);
    for (GlassSurface* surface : {&plain, &interactive}) {
        auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(surface->graphicsEffect());
        ASSERT_TRUE(shadow);
        EXPECT_EQ(shadow->color(), QColor(0, 0, 0, 31));
        EXPECT_EQ(shadow->blurRadius(), 12);
        EXPECT_EQ(shadow->offset(), QPointF(0, 4));
        surface->resize(80, 30);
        QEnterEvent enter(QPointF(40, 15), QPointF(40, 15), QPointF(40, 15));
        QCoreApplication::sendEvent(surface, &enter);
    }
    EXPECT_EQ(plain.grab().toImage(), interactive.grab().toImage());
}

// The prominent button is filled with the accent; the other keeps the
// bordered look of the desktop.
TEST(Glass, TheProminentButtonIsAccentFilledAndTheOtherBordered)
{
    QPalette light = QApplication::palette();
    light.setColor(QPalette::Window, Qt::white);
    for (bool prominent : {true, false}) {
        QPushButton button(u"Copy Command"_s);
        button.setPalette(light);
        glassButton(&button, prominent);
        button.resize(160, 32);
        const QImage image = button.grab().toImage();
        const QColor edge = image.pixelColor(5, image.height() / 2);
        EXPECT_EQ(edge.rgb() == Theme::accent(false).rgb(), prominent) << edge.name().toStdString();
    }
}

TEST(Digits, AFontWhoseDigitsDifferIsToldApart)
{
    const QFont uneven = testsupport::unevenDigitsFont();
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    EXPECT_FALSE(Digits::haveEqualWidths(uneven));
    const QFontMetricsF metrics(uneven);
    EXPECT_LT(metrics.horizontalAdvance(u"1"_s), metrics.horizontalAdvance(u"8"_s));
    // Laid out in cells every digit takes the widest one's room.
    EXPECT_EQ(Digits::width(u"11"_s, uneven), Digits::width(u"88"_s, uneven));
    EXPECT_EQ(Digits::width(u"1 1"_s, uneven), Digits::width(u"9 0"_s, uneven));
}

// What follows a number stands in the same place whatever its digits.
TEST(Digits, DrawsEachDigitInACellAsWideAsTheWidestDigit)
{
    const QFont uneven = testsupport::unevenDigitsFont(40);
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    std::optional<int> secondStart;
    for (const QString& text : {u"10"_s, u"80"_s, u"90"_s}) {
        QImage image(200, 60, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(uneven);
        painter.setPen(Qt::black);
        Digits::draw(painter, QRectF(0, 0, 200, 60), Qt::AlignLeft | Qt::AlignVCenter, text);
        painter.end();
        const auto runs = inkedRuns(image);
        ASSERT_EQ(runs.size(), 2) << text.toStdString();
        if (!secondStart)
            secondStart = runs[1].first;
        EXPECT_EQ(runs[1].first, *secondStart) << text.toStdString();
    }
}

// The percentage as the locale writes one: where the sign goes and what
// stands between it and the number.
TEST(Digits, APercentageIsWrittenAsTheLocaleWritesOne)
{
    const std::pair<const char*, QString> table[] = {
        {"en_US", u"42%"_s}, {"de_DE", u"42\u00a0%"_s}, {"fr_FR", u"42\u00a0%"_s}, {"tr_TR", u"%42"_s}};
    const QLocale before;
    for (const auto& [name, written] : table) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        EXPECT_EQ(Look::percent(42), written) << name;
    }
    QLocale::setDefault(before);
}
