#pragma once

#include <QFont>
#include <QImage>
#include <QRect>

#include <optional>

namespace testsupport {

// A font made for tests whose digits differ in width ("1" narrower than
// "8"), as many desktop fonts' do; each digit is drawn as a filled box.
// Loaded into the application's fonts on first use.
QFont unevenDigitsFont(int pixelSize = 20);
// Whether `font` resolves to it (it loaded).
bool isUnevenDigitsFont(const QFont& font);

// The centre of the first inked run of columns in `area`, where pixels
// darker than mid grey are ink.
std::optional<double> firstInkCentre(const QImage& image, const QRect& area);

} // namespace testsupport
