#include "worker/ice_url.h"

#include <gtest/gtest.h>

#include <string>

namespace native_worker {
namespace {

struct UrlCase {
    std::string url;
    bool valid;
};

TEST(IceUrlGrammar, TableOfUrlsWithCredentials) {
    const UrlCase cases[] = {
        {"stun:stun.example.org", true},
        {"stun:stun.example.org:3478", true},
        {"stuns:192.0.2.1:5349", true},
        {"turn:turn.example.org?transport=udp", true},
        {"turn:turn.example.org:3478?transport=tcp", true},
        {"turns:turn.example.org?transport=tcp", true},
        {"turns:turn.example.org?transport=udp", false},
        {"stun:stun.example.org?transport=udp", false},
        {"turn:turn.example.org?transport=UDP", false},
        {"turn:turn.example.org?foo", false},
        {"stun:[2001:db8::1]", true},
        {"stun:[2001:db8::1]:3478", true},
        {"stun:[2001:db8::1]x", false},
        {"stun:[2001:db8::1]:", false},
        {"stun:[not-ipv6]", false},
        {"stun:[2001:db8::1", false},
        {"stun:host:", false},
        {"stun:host:1:2", false},
        {"stun:ho_st", false},
        {"stun:.host", false},
        {"stun:host.", false},
        {"stun:a..b", false},
        {"stun:", false},
        {"stun:host:65535", true},
        {"stun:host:0065535", true},
        {"stun:host:65536", false},
        {"stun:host:0", false},
        {"stun:host:00080", true},
        {"stun:host:8a", false},
        {"STUN:host", false},
        {"http:host", false},
        {"stunhost", false},
        {"stun:ho st", false},
        {"stun:host\t", false},
        {std::string("stun:ho\0st", 10), false},
        {"stun:" + std::string(253, 'h'), true},
        {"stun:" + std::string(254, 'h'), false},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidIceUrl(c.url, "user", "secret"), c.valid) << c.url;
}

TEST(IceUrlGrammar, TurnNeedsBothCredentialsStunIgnoresThem) {
    EXPECT_FALSE(isValidIceUrl("turn:example.org", "", "secret"));
    EXPECT_FALSE(isValidIceUrl("turns:example.org", "user", ""));
    EXPECT_TRUE(isValidIceUrl("stun:example.org", "", ""));
}

TEST(IceUrlGrammar, LengthLimitOfTheWholeUrl) {
    // Leading zeros of a port make a long but otherwise valid URL.
    const auto withLength = [](std::size_t length) {
        const std::string head = "stun:h:";
        return head + std::string(length - head.size() - 2, '0') + "80";
    };
    EXPECT_TRUE(isValidIceUrl(withLength(2048), "", ""));
    EXPECT_FALSE(isValidIceUrl(withLength(2049), "", ""));
}

}  // namespace
}  // namespace native_worker
