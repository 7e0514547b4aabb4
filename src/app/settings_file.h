#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The four options kept in Zelvic.ini, one tag per option group.
enum class SettingKey { Depth, Mode, Level, Screen };

// The item indices written at exit, in file order: sl, cg, cl, ds.
struct SettingValues {
    int32_t depth = 0;  // "sl": RadioGroup1
    int32_t mode = 0;   // "cg": RadioGroup2
    int32_t level = 0;  // "cl": RadioGroup7
    int32_t screen = 0; // "ds": RadioGroup3
};

// How a read ended: every line applied, or stopped at a value that is not an
// integer (the lines before it have taken effect).
struct SettingsReadResult {
    bool ok = true;
    std::string badValue; // the offending value, as read
};

// The settings file Zelvic.ini: tag,value lines with CR LF. Reading is
// character by character into three field slots of at most kMaxField
// characters each; tags are matched exactly, letter case included.
class SettingsFile {
public:
    static constexpr const char* kFileName = "Zelvic.ini";
    static constexpr std::size_t kMaxField = 300;
    static constexpr int kFieldSlots = 3;

    using Apply = std::function<void(SettingKey, int32_t)>;

    // Splits the file's bytes into lines of at most three fields. A line ends
    // at a line feed or at the end of the file; carriage returns are dropped;
    // a field longer than kMaxField keeps its first kMaxField characters; from
    // the third comma on, characters join the (ignored) third field.
    static std::vector<std::vector<std::string>> splitLines(std::string_view bytes);

    // Applies every line with a known tag in file order through `apply`; stops
    // at the first value that is not a decimal integer.
    static SettingsReadResult apply(std::string_view bytes, const Apply& apply);

    // The whole file as written at exit: header line and the four tag lines.
    static std::string format(const SettingValues& values);

    // The file's bytes; nothing when it does not exist (a first run). Throws
    // std::runtime_error with the Japanese message for any other failure.
    static std::optional<std::string> read(const std::string& path);

    // Replaces the file with `contents`. The old file stays intact when the
    // new one cannot be written completely. Throws std::runtime_error with
    // the Japanese message on failure.
    static void write(const std::string& path, const std::string& contents);
};
