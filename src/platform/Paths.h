#pragma once

#include <QString>

namespace paths {

// `name` inside `folder`, with exactly one "/" between them.
QString joined(const QString& folder, const QString& name);

} // namespace paths
