#pragma once

#include <string>
#include <string_view>

#include "cli/json_text.h"

// The text of a JSON object put together member by member, each value's text
// from jsonText, for an object too large to hold as one Json value beside its
// text: a long array is written element by element.
class JsonObjectText {
public:
    void member(std::string_view key, const Json& value);
    // A member whose value is JSON text already.
    void memberText(std::string_view key, std::string_view valueText);

    // A member whose value is the array of toJson(item) for each of items.
    template <typename Items, typename ToJson>
    void arrayMember(std::string_view key, const Items& items, const ToJson& toJson)
    {
        open(key) += '[';
        bool first = true;
        for (const auto& item : items) {
            if (!first)
                m_text += ',';
            first = false;
            m_text += jsonText(toJson(item));
        }
        m_text += ']';
    }

    // The object's text; the object starts empty again.
    std::string take();

private:
    std::string& open(std::string_view key);

    std::string m_text;
};
