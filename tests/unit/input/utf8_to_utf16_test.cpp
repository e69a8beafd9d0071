#include "platform/utf8_to_utf16.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

TEST(Utf8ToUtf16, ConvertsEveryEncodedLength) {
    EXPECT_EQ(utf8ToUtf16("A"), u"A");
    EXPECT_EQ(utf8ToUtf16("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(utf8ToUtf16("\xE2\x9C\x93"), u"\u2713");
    EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string({char16_t{0xD83D}, char16_t{0xDE00}}));
    EXPECT_EQ(utf8ToUtf16("\xF4\x8F\xBF\xBF"), std::u16string({char16_t{0xDBFF}, char16_t{0xDFFF}}));
    EXPECT_EQ(utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

struct Refused {
    const char* name;
    std::string_view bytes;
};

class Utf8Refusal : public ::testing::TestWithParam<Refused> {};

TEST_P(Utf8Refusal, IsRefusedWhole) {
    EXPECT_FALSE(utf8ToUtf16(GetParam().bytes).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Utf8ToUtf16, Utf8Refusal,
    ::testing::Values(Refused{"empty", ""}, Refused{"lone_continuation", "a\x80"}, Refused{"truncated_two", "\xC3"},
                      Refused{"truncated_four", "\xF0\x9F\x98"}, Refused{"missing_continuation", "\xE2\x41\x93"},
                      Refused{"overlong_two", "\xC0\x80"}, Refused{"overlong_three", "\xE0\x80\xAF"},
                      Refused{"overlong_four", "\xF0\x8F\xBF\xBF"}, Refused{"high_surrogate", "\xED\xA0\x80"},
                      Refused{"low_surrogate", "\xED\xBF\xBF"}, Refused{"beyond_unicode", "\xF4\x90\x80\x80"},
                      Refused{"five_byte_lead", "\xF8\x88\x80\x80\x80"}, Refused{"invalid_byte", "\xFF"}),
    testing::CaseName{});

}  // namespace
}  // namespace native_worker
