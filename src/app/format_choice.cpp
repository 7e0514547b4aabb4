#include "app/format_choice.h"

#include <optional>

#include "app/choice_file.h"

namespace format_choice {

PictureFormats read(const std::string& folder)
{
    const std::optional<std::string> line = choice_file::readLine(folder, kFileName);
    if (!line)
        return PictureFormats::defaults();
    std::string problem;
    const std::optional<PictureFormats> formats = parseFormatList(*line, problem);
    return formats ? *formats : PictureFormats::defaults();
}

bool write(const std::string& folder, const PictureFormats& formats)
{
    return choice_file::writeLine(folder, kFileName, formats.words());
}

} // namespace format_choice
