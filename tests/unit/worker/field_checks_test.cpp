#include "base/field_checks.h"
#include "base/protocol_error.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using nlohmann::json;

template <typename Check>
bool refused(Check check) {
    try {
        check();
        return false;
    } catch (const ProtocolError& error) {
        EXPECT_STREQ(error.code, "invalid_message");
        return true;
    }
}

TEST(FieldChecksStrings, LengthEmptinessTypeAndNul) {
    const json message{{"s", "abc"}, {"e", ""}, {"n", 5}, {"z", std::string("a\0b", 3)}};
    EXPECT_EQ(requireString(message, "s", 3, Empty::refused), "abc");
    EXPECT_TRUE(refused([&] { requireString(message, "s", 2, Empty::refused); }));
    EXPECT_EQ(requireString(message, "e", 3, Empty::allowed), "");
    EXPECT_TRUE(refused([&] { requireString(message, "e", 3, Empty::refused); }));
    EXPECT_TRUE(refused([&] { requireString(message, "n", 3, Empty::refused); }));
    EXPECT_TRUE(refused([&] { requireString(message, "z", 3, Empty::refused); }));
    EXPECT_TRUE(refused([&] { requireString(message, "missing", 3, Empty::allowed); }));
}

TEST(FieldChecksIntegers, RangeAndRepresentation) {
    const json message = json::parse(R"({"i":65535,"neg":-1,"f":1.0,"big":18446744073709551615,"s":"1"})");
    EXPECT_EQ(requireInteger(message, "i", 0, 65535), 65535);
    EXPECT_TRUE(refused([&] { requireInteger(message, "i", 0, 65534); }));
    EXPECT_EQ(requireInteger(message, "neg", -1, 0), -1);
    EXPECT_TRUE(refused([&] { requireInteger(message, "neg", 0, 10); }));
    EXPECT_TRUE(refused([&] { requireInteger(message, "f", 0, 10); }));
    EXPECT_TRUE(refused([&] { requireInteger(message, "s", 0, 10); }));
    // Not wrapped into -1, which the range would admit.
    EXPECT_TRUE(refused([&] { requireInteger(message, "big", -1, 10); }));
}

TEST(FieldChecksIntegers, UnsignedBounds) {
    const json message = json::parse(R"({"top":9007199254740991,"over":9007199254740992,"zero":0,"neg":-5,"f":7.0})");
    EXPECT_EQ(requireUnsigned(message, "top", 1, 9007199254740991ULL), 9007199254740991ULL);
    EXPECT_TRUE(refused([&] { requireUnsigned(message, "over", 1, 9007199254740991ULL); }));
    EXPECT_TRUE(refused([&] { requireUnsigned(message, "zero", 1, 10); }));
    EXPECT_TRUE(refused([&] { requireUnsigned(message, "neg", 0, 10); }));
    EXPECT_TRUE(refused([&] { requireUnsigned(message, "f", 0, 10); }));
}

TEST(FieldChecksEnvelope, OnlyEnvelopeAndNamedFields) {
    const json message{{"version", 1},     {"type", "t"},       {"requestId", "r"}, {"accountId", "a"},
                       {"sessionId", "s"}, {"generation", "g"}, {"sdp", "x"}};
    EXPECT_FALSE(refused([&] { requireOnlyFields(message, {"sdp"}); }));
    EXPECT_TRUE(refused([&] { requireOnlyFields(message, {}); }));
}

TEST(FieldChecksEnvelope, SessionIdIsTheTextualUuidForm) {
    EXPECT_TRUE(isUuidText("12345678-1234-1234-1234-123456789abc"));
    EXPECT_TRUE(isUuidText("ABCDEF01-ABCD-ABCD-ABCD-ABCDEF012345"));
    EXPECT_FALSE(isUuidText("{2345678-1234-1234-1234-123456789ab}"));
    EXPECT_FALSE(isUuidText("12345678123412341234123456789abc"));
    EXPECT_FALSE(isUuidText("12345678-1234-1234-1234-123456789ab"));
    EXPECT_FALSE(isUuidText("12345678-1234-1234-1234-123456789abg"));
    EXPECT_FALSE(isUuidText("12345678-1234-1234-12341-23456789abc"));
}

TEST(FieldChecksEnvelope, RequestIdCharacterSet) {
    EXPECT_TRUE(isRequestIdText("AZaz09_-.:"));
    for (const char* bad : {"a b", "a/b", "a\xc3\xa9", "a+b", "a\"b"}) EXPECT_FALSE(isRequestIdText(bad)) << bad;
}

TEST(FieldChecksEnvelope, IdentityReadsInOrderAndChecksTheUuid) {
    json message{{"accountId", std::string(128, 'a')},
                 {"sessionId", "12345678-1234-1234-1234-123456789abc"},
                 {"generation", std::string(64, 'g')}};
    EXPECT_EQ(parseIdentity(message).accountId.size(), 128u);
    message["accountId"] = std::string(129, 'a');
    EXPECT_TRUE(refused([&] { parseIdentity(message); }));
    message["accountId"] = "a";
    message["sessionId"] = "not-a-uuid";
    EXPECT_TRUE(refused([&] { parseIdentity(message); }));
}

}  // namespace
}  // namespace native_worker
