// The settings file reader: any bytes split and apply without harm, and what
// the program writes it reads back.
#include <string>
#include <string_view>

#include "app/settings_file.h"
#include "common/integer_text.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const std::vector<std::string>& line : SettingsFile::splitLines(bytes)) {
        if (line.size() > static_cast<std::size_t>(SettingsFile::kFieldSlots))
            fuzz_input::fail("a line split into more than three fields");
        for (const std::string& field : line) {
            if (field.size() > SettingsFile::kMaxField)
                fuzz_input::fail("a field longer than the slot");
        }
    }
    const SettingsReadResult result = SettingsFile::apply(bytes, [](SettingKey, int32_t) {});
    if (!result.ok && parseDecimalInt32(result.badValue))
        fuzz_input::fail("read stopped at \"" + result.badValue + "\", which is an integer");

    // Values from the input, written and read back.
    SettingValues written;
    int32_t* fields[] = {&written.depth, &written.mode, &written.level, &written.screen};
    for (std::size_t i = 0; i < 4; ++i) {
        uint32_t value = 0;
        for (std::size_t b = 0; b < 4; ++b)
            value = value << 8 | (4 * i + b < size ? data[4 * i + b] : 0u);
        *fields[i] = static_cast<int32_t>(value);
    }
    SettingValues read;
    const SettingsReadResult back = SettingsFile::apply(SettingsFile::format(written), [&](SettingKey key, int32_t v) {
        switch (key) {
        case SettingKey::Depth: read.depth = v; break;
        case SettingKey::Mode: read.mode = v; break;
        case SettingKey::Level: read.level = v; break;
        case SettingKey::Screen: read.screen = v; break;
        }
    });
    if (!back.ok || read.depth != written.depth || read.mode != written.mode || read.level != written.level
        || read.screen != written.screen)
        fuzz_input::fail("settings written are not read back");
    return 0;
}
