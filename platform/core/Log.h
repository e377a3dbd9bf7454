#pragma once

#include <QString>
#include <functional>

namespace platform {

// Writes one line to stderr (or to the sink set for tests). Embedded line
// breaks are kept on one line so that every message stays one log line.
void log(const QString& line);

// Replaces stderr with `sink`; pass an empty function to restore stderr.
void setLogSink(std::function<void(const QString&)> sink);

} // namespace platform
