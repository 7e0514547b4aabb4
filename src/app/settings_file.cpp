#include "app/settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include <QSaveFile>

#include "common/integer_text.h"
#include "common/path_text.h"
#include "review/error_messages.h"

namespace {

struct TagEntry {
    const char* tag;
    SettingKey key;
};

// Compared in this order, exactly, letter case included.
constexpr TagEntry kTags[] = {
    {"sl", SettingKey::Depth},
    {"cg", SettingKey::Mode},
    {"cl", SettingKey::Level},
    {"ds", SettingKey::Screen},
};

[[noreturn]] void throwFileError(const std::string& path, int error)
{
    throw std::runtime_error(runtimeFileErrorText(error) + "\n" + path);
}

// The errno of the system call that failed inside Qt, which leaves it in
// place; EIO when Qt refused on its own (a folder in the file's place).
int qtFileErrno()
{
    return errno != 0 ? errno : EIO;
}

} // namespace

std::vector<std::vector<std::string>> SettingsFile::splitLines(std::string_view bytes)
{
    std::vector<std::vector<std::string>> lines;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::vector<std::string> fields(1);
        while (at < bytes.size()) {
            const char c = bytes[at++];
            if (c == '\n')
                break;
            if (c == '\r')
                continue;
            if (c == ',' && static_cast<int>(fields.size()) < kFieldSlots) {
                fields.emplace_back();
                continue;
            }
            // A comma beyond the third slot stays in the third field, which
            // nobody reads; the slot count never grows past three.
            if (fields.back().size() < kMaxField)
                fields.back().push_back(c);
        }
        lines.push_back(std::move(fields));
    }
    return lines;
}

SettingsReadResult SettingsFile::apply(std::string_view bytes, const Apply& apply)
{
    for (const std::vector<std::string>& fields : splitLines(bytes)) {
        for (const TagEntry& entry : kTags) {
            if (fields[0] != entry.tag)
                continue;
            const std::string value = fields.size() > 1 ? fields[1] : std::string();
            const std::optional<int32_t> number = parseDecimalInt32(value);
            if (!number)
                return SettingsReadResult {false, value};
            apply(entry.key, *number);
            break;
        }
    }
    return {};
}

std::string SettingsFile::format(const SettingValues& values)
{
    std::string text = "tag,contents\r\n";
    text += "sl," + std::to_string(values.depth) + "\r\n";
    text += "cg," + std::to_string(values.mode) + "\r\n";
    text += "cl," + std::to_string(values.level) + "\r\n";
    text += "ds," + std::to_string(values.screen) + "\r\n";
    return text;
}

std::optional<std::string> SettingsFile::read(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throwFileError(path, errno);
    }
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            throwFileError(path, error);
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void SettingsFile::write(const std::string& path, const std::string& contents)
{
    // Written beside the old file and renamed over it on commit, so that a
    // full disk or a failing write leaves the previous settings as they were.
    QSaveFile file(pathText(path));
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        throwFileError(path, qtFileErrno());
    errno = 0;
    const auto size = static_cast<qint64>(contents.size());
    if (file.write(contents.data(), size) != size || !file.commit())
        throwFileError(path, qtFileErrno());
}
