#include "cli/json_text.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string stringText(const std::string& bytes)
{
    return jsonText(utf8Text(bytes));
}

} // namespace

TEST(JsonTextTest, ControlCharactersAreAllWrittenAsCodes)
{
    EXPECT_EQ(stringText("\x08|\x0c|\x01|\x1f|\x7f"), "\"\\u0008|\\u000c|\\u0001|\\u001f|\x7f\"");
    EXPECT_EQ(stringText("\n\r\t"), "\"\\n\\r\\t\"");
    // A backslash before a letter b or f is a backslash, not an escape to rewrite.
    EXPECT_EQ(stringText("C:\\bin\\f\\\\b\""), "\"C:\\\\bin\\\\f\\\\\\\\b\\\"\"");
    EXPECT_EQ(stringText("/a/"), "\"/a/\"");
}

TEST(JsonTextTest, EachByteOfABrokenSequenceBecomesOneReplacement)
{
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8Text("\xFF\xFEname"), fffd + fffd + "name");
    // A three-byte sequence cut short: two replacements, and the letter after it kept.
    EXPECT_EQ(utf8Text("\xE3\x81" "A"), fffd + fffd + "A");
    EXPECT_EQ(utf8Text("end\xE3\x81"), "end" + fffd + fffd);
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    EXPECT_EQ(utf8Text("\xC0\x80"), fffd + fffd);
    EXPECT_EQ(utf8Text("\xED\xA0\x80"), fffd + fffd + fffd);
    EXPECT_EQ(utf8Text("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);
    // Valid sequences of every length stay as they are.
    const std::string valid = "a\xC3\xA9\xE6\xA4\x9C\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(utf8Text(valid), valid);
    EXPECT_EQ(stringText(valid), "\"" + valid + "\"");
}

TEST(JsonTextTest, ObjectsKeepTheirKeyOrderAndNumbersTheirDigits)
{
    Json object;
    object["zeta"] = int64_t {-9'000'000'000};
    object["alpha"] = std::vector<int32_t> {};
    object["mid"] = {{"b", INT32_MIN}, {"a", INT32_MAX}};
    object["list"] = std::vector<std::vector<int32_t>> {{1, 2}, {}, {3}};
    object["empty"] = Json::object();
    EXPECT_EQ(jsonText(object), "{\"zeta\":-9000000000,\"alpha\":[],\"mid\":{\"b\":-2147483648,\"a\":2147483647},"
                                "\"list\":[[1,2],[],[3]],\"empty\":{}}");
}
