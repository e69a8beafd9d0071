#include "worker/host_message.h"
#include "base/protocol_error.h"

#include <gtest/gtest.h>

#include <string>

namespace native_worker {
namespace {

bool parses(const std::string& line) {
    try {
        parseHostMessage(line);
        return true;
    } catch (const ProtocolError& error) {
        EXPECT_STREQ(error.code, "invalid_message");
        return false;
    }
}

std::string nestedArrays(int depth, const std::string& innermost) {
    return std::string(static_cast<std::size_t>(depth), '[') + innermost +
           std::string(static_cast<std::size_t>(depth), ']');
}

TEST(HostMessageParsing, OnlyOneJsonObjectPerLine) {
    EXPECT_TRUE(parses("{}"));
    EXPECT_TRUE(parses(" {\"a\":1} "));
    for (const char* line : {"", "   ", "[]", "\"text\"", "1", "{} {}", "{}x", "{\"a\":1 /* c */}", "// c\n{}",
                             "{\"a\":\"\xff\"}", "{\"a\":\"\xc0\xaf\"}", "{'a':1}", "{\"a\":NaN}"})
        EXPECT_FALSE(parses(line)) << line;
}

TEST(HostMessageParsing, DuplicateKeysAreRefusedAtEveryLevel) {
    EXPECT_FALSE(parses(R"({"a":1,"a":2})"));
    EXPECT_FALSE(parses(R"({"o":{"k":1,"k":1}})"));
    EXPECT_FALSE(parses(R"({"list":[{"k":1,"k":2}]})"));
    EXPECT_FALSE(parses(R"({"type":1,"t\u0079pe":2})"));
    EXPECT_TRUE(parses(R"({"a":{"k":1},"b":{"k":1},"c":[{"k":1},{"k":2}]})"));
}

TEST(HostMessageParsing, NestingDepthLimit) {
    EXPECT_FALSE(parses("{\"a\":" + nestedArrays(16, "1") + "}"));
    EXPECT_TRUE(parses("{\"a\":" + nestedArrays(16, "") + "}"));
    EXPECT_FALSE(parses("{\"a\":" + nestedArrays(17, "") + "}"));
    std::string objects = "{}";
    for (int i = 0; i < 15; ++i) objects = "{\"k\":" + objects + "}";
    EXPECT_TRUE(parses("{\"a\":" + objects + "}"));
    EXPECT_FALSE(parses("{\"a\":{\"k\":" + objects + "}}"));
}

TEST(HostMessageParsing, KeepsEveryValue) {
    const auto message = parseHostMessage(R"({"n":-1,"u":18446744073709551615,"f":1.0,"s":"\u00e9","z":null})");
    EXPECT_TRUE(message["n"].is_number_integer());
    EXPECT_TRUE(message["u"].is_number_unsigned());
    EXPECT_TRUE(message["f"].is_number_float());
    EXPECT_EQ(message["s"], "\xc3\xa9");
    EXPECT_TRUE(message["z"].is_null());
}

}  // namespace
}  // namespace native_worker
