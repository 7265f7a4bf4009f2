#pragma once

#include <QString>

#include <cstdio>

// What a start that finds the running application frozen tells the person:
// the sentence on the terminal, and, for a start from the desktop where no
// terminal shows, in a small message box that waits for OK.
namespace UnansweredStart {

QString sentence();
// Whether windows of the Qt platform named so show on a screen someone
// sees: "offscreen" and "minimal" draw nowhere, and a box there would wait
// for a click that never comes.
bool shownOn(const QString& platformName);
// Writes the sentence to `terminal`, then shows the box when `withBox`.
void tell(std::FILE* terminal, bool withBox);

} // namespace UnansweredStart
