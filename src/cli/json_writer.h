#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A small streaming JSON writer for zelvic-cli. Strings are written as UTF-8;
// a byte sequence that is not valid UTF-8 becomes U+FFFD.
class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(int64_t number);
    void value(int32_t number) { value(static_cast<int64_t>(number)); }
    void value(double number);
    void value(bool flag);
    void intArray(const std::vector<int32_t>& numbers);

    // A key and its value, for the members of an object.
    template <typename T>
    void field(std::string_view name, const T& v)
    {
        key(name);
        value(v);
    }

    const std::string& text() const { return m_out; }

private:
    void separate();

    std::string m_out;
    std::vector<bool> m_first; // per open container: no element written yet
    bool m_afterKey = false;
};

// Appends text as a JSON string literal (quotes included).
void appendJsonString(std::string& out, std::string_view text);
