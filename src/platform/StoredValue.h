#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// Typed reads of stored settings. A value of another type counts as absent.
// Text backends (INI files) hand booleans back as "true"/"false".
std::optional<bool> storedBool(const QSettings& settings, const QString& key);
