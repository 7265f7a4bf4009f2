#pragma once

#include <QString>

#include <optional>

// The hidden names copies work under, defined once for all that make or
// read them: the browser makes them, the adb layer reads them out of adb's
// sentences, the tests look for them.
//
//   ".NAME.<owner>-<copy>.vantelorquist-copy"  a copy's own: its owner's
//                                              mark (8 hex digits) and a
//                                              copy id (12)
//   ".NAME.<copy>.vantelorquist-copy"          an earlier version's own
//   ".NAME.vantelorquist-copy"                 an earlier version's fixed one
//
// NAME is the item's own name, cut to fit by whoever makes it.
namespace workingnameform {

const QString& ending();
// The name of a copy's own; `name` is the item's, already cut to fit.
QString make(const QString& name, const QString& owner, const QString& copy);
// The fixed name earlier versions made.
QString fixed(const QString& name);

struct Parts {
    QString item;  // the item's name, as cut
    QString owner; // empty: none (an earlier version's)
};
// A working name of a copy's own, of any version with a copy id; none for
// any other name, the fixed form included.
std::optional<Parts> parse(const QString& name);

// `text` (a sentence, a path) with every working name in it, of any form,
// as a whole name or a path's last part, read as its item's name.
QString withItemNames(const QString& text);

} // namespace workingnameform
