#pragma once

#include <QFont>

namespace testsupport {

// A font made for tests whose digits differ in width ("1" narrower than
// "8"), as many desktop fonts' do; each digit is drawn as a filled box.
// Loaded into the application's fonts on first use.
QFont unevenDigitsFont(int pixelSize = 20);
// Whether `font` resolves to it (it loaded).
bool isUnevenDigitsFont(const QFont& font);

} // namespace testsupport
