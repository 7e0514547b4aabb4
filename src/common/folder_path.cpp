#include "common/folder_path.h"

#include <cerrno>
#include <filesystem>

#include <unistd.h>

std::string absoluteFolder(const std::string& folder, const std::string& base)
{
    std::string joined = (!folder.empty() && folder[0] == '/') ? folder : base + "/" + folder;
    if (joined[0] != '/')
        joined.insert(0, 1, '/'); // a relative base (never given) still gives an absolute folder
    std::string normal = std::filesystem::path(joined).lexically_normal().native();
    // lexically_normal keeps a trailing "/" after a last name or "..", and
    // leaves a path of slashes only ("//") as it is.
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string childPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::optional<std::string> currentFolder()
{
    std::string buffer(4096, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}
