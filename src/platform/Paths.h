#pragma once

#include <QString>

#include <cstdint>

namespace paths {

// `name` inside `folder`, with exactly one "/" between them.
QString joined(const QString& folder, const QString& name);

// The size of a computer file, or of the files in a folder and all it holds
// (a link to a folder is not followed).
int64_t localSize(const QString& path);

} // namespace paths
