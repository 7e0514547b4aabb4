#include "cli/json_object_text.h"

#include <utility>

void JsonObjectText::member(std::string_view key, const Json& value)
{
    open(key) += jsonText(value);
}

void JsonObjectText::memberText(std::string_view key, std::string_view valueText)
{
    open(key) += valueText;
}

std::string JsonObjectText::take()
{
    m_text += m_text.empty() ? "{}" : "}";
    return std::exchange(m_text, {});
}

std::string& JsonObjectText::open(std::string_view key)
{
    m_text += m_text.empty() ? '{' : ',';
    m_text += jsonText(utf8Text(key));
    return m_text += ':';
}
