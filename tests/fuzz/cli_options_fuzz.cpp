// The search command's words (split at NUL bytes) and its folder argument.
#include <string>
#include <string_view>

#include "cli/search_command.h"
#include "common/folder_path.h"
#include "fuzz/fuzz_input.h"

namespace {

// What the search takes a FOLDER as: absolute, no "//", no "." or ".."
// part, no trailing "/" except the root.
bool isNormalFolder(std::string_view folder)
{
    if (folder.empty() || folder[0] != '/')
        return false;
    if (folder == "/")
        return true;
    if (folder.back() == '/' || folder.find("//") != std::string_view::npos)
        return false;
    const std::string text = std::string(folder) + "/";
    return text.find("/./") == std::string::npos && text.find("/../") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::vector<std::string> args = fuzz_input::words({reinterpret_cast<const char*>(data), size});
    SearchArguments parsed;
    if (!parseSearchArguments(args, parsed)) {
        const SearchOptions& o = parsed.options;
        if (o.folder.empty() || static_cast<int32_t>(o.mode) < 0 || static_cast<int32_t>(o.mode) > 3 || o.level < 0
            || o.level > 2 || o.depth < 0 || o.depth > 3 || o.screen < 0 || o.screen > 2 || o.jobs < 0
            || o.jobs > 4096)
            fuzz_input::fail("accepted options out of their ranges");
    }
    for (const std::string& word : args) {
        const std::string normal = absoluteFolder(word, "/home/user");
        if (!isNormalFolder(normal) || absoluteFolder(normal, "/elsewhere") != normal)
            fuzz_input::fail("folder \"" + word + "\" made into \"" + normal + "\"");
    }
    return 0;
}
