#include "cache/cache_location.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace {

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return {};
}

} // namespace

std::string defaultCacheFile()
{
    // XDG base directories: a relative value is invalid and
    // must be ignored.
    std::string base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = homeFolder();
        if (home.empty())
            return {};
        base = home == "/" ? "/.cache" : home + "/.cache";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return (base == "/" ? std::string() : base) + "/zelvic/signatures.sqlite";
}
