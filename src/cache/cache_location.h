#pragma once

#include <string>

// The signature cache's default file: $XDG_CACHE_HOME/zelvic/signatures.sqlite,
// or ~/.cache/zelvic/signatures.sqlite when XDG_CACHE_HOME is unset or not an
// absolute path. Empty when neither that nor a home folder is known.
std::string defaultCacheFile();
