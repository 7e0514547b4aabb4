#include "app/format_choice.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>

#include "app/settings_location.h"

namespace format_choice {

namespace {

std::string filePath(const std::string& folder)
{
    return folder.empty() || folder.back() == '/' ? folder + kFileName : folder + "/" + kFileName;
}

} // namespace

PictureFormats read(const std::string& folder)
{
    std::ifstream in(filePath(folder));
    std::string line;
    if (!in || !std::getline(in, line))
        return PictureFormats::defaults();
    std::string problem;
    const std::optional<PictureFormats> formats = parseFormatList(line, problem);
    return formats ? *formats : PictureFormats::defaults();
}

bool write(const std::string& folder, const PictureFormats& formats)
{
    try {
        settings_location::makeFolders(folder);
    } catch (const std::exception&) {
        return false;
    }
    // A whole new file in place of the old one: a crash leaves one or the other.
    const std::string path = filePath(folder);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << formats.words() << '\n';
        out.flush();
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace format_choice
