#include "app/choice_file.h"

#include <cstdio>
#include <exception>
#include <fstream>

#include "app/settings_location.h"

namespace choice_file {

namespace {

std::string filePath(const std::string& folder, const char* name)
{
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

std::optional<std::string> readLine(const std::string& folder, const char* name)
{
    std::ifstream in(filePath(folder, name));
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

bool writeLine(const std::string& folder, const char* name, const std::string& line)
{
    try {
        settings_location::makeFolders(folder);
    } catch (const std::exception&) {
        return false;
    }
    // A whole new file in place of the old one: a crash leaves one or the other.
    const std::string path = filePath(folder, name);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << line << '\n';
        out.flush();
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace choice_file
