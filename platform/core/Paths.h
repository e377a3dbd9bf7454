#pragma once

#include <QString>

namespace platform {

// Folders of this application, created on first use; each falls back to the
// XDG default under $HOME when its variable is unset or not absolute.
QString applicationDataDirectory(); // $XDG_DATA_HOME/Quillary
QString cacheDirectory();           // $XDG_CACHE_HOME/Quillary
QString configDirectory();          // $XDG_CONFIG_HOME/Quillary

} // namespace platform
