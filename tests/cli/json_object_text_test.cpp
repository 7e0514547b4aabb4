#include "cli/json_object_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

TEST(JsonObjectTextTest, MembersInOrderAndArraysElementByElement)
{
    JsonObjectText object;
    EXPECT_EQ(object.take(), "{}");
    object.member("name", utf8Text("a\x08\xFF"));
    object.arrayMember("lines", std::vector<std::string> {"x", "\"y\""}, [](const std::string& line) { return Json(line); });
    object.arrayMember("none", std::vector<int> {}, [](int n) { return Json(n); });
    object.memberText("seconds", "1.500");
    object.member("counts", {{"b", 2}, {"a", 1}});
    EXPECT_EQ(object.take(), "{\"name\":\"a\\u0008\xEF\xBF\xBD\",\"lines\":[\"x\",\"\\\"y\\\"\"],\"none\":[],"
                             "\"seconds\":1.500,\"counts\":{\"b\":2,\"a\":1}}");
    // Taken, it starts again.
    object.member("k", 1);
    EXPECT_EQ(object.take(), "{\"k\":1}");
}
