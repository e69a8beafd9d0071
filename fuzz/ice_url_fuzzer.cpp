// ICE server URLs with their credentials through the URL grammar, checked
// against properties every accepted URL must have whatever the grammar's details.

#include "worker/ice_url.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool isUrlByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-.:[]?=").find(c) != std::string_view::npos;
}

void checkAccepted(std::string_view url, std::string_view username, std::string_view credential) {
    check(url.size() <= 2048);
    for (char c : url) check(isUrlByte(c));

    const std::string_view scheme = url.substr(0, url.find(':'));
    const bool turn = scheme == "turn" || scheme == "turns";
    check(turn || scheme == "stun" || scheme == "stuns");
    if (turn) check(!username.empty() && !credential.empty());
    // Beyond TURN's need for both, credentials never decide whether a URL is valid.
    check(native_worker::isValidIceUrl(url, turn ? "u" : "", turn ? "c" : ""));

    if (const auto question = url.find('?'); question != std::string_view::npos) {
        const std::string_view query = url.substr(question);
        check(query == "?transport=tcp" || (scheme == "turn" && query == "?transport=udp"));
    }
    // Whatever follows an accepted URL's text, whitespace makes it unacceptable.
    check(!native_worker::isValidIceUrl(std::string(url) + " ", username, credential));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string url = provider.ConsumeRandomLengthString(4096);
    const std::string username = provider.ConsumeRandomLengthString(1024);
    const std::string credential = provider.ConsumeRemainingBytesAsString();
    if (native_worker::isValidIceUrl(url, username, credential)) checkAccepted(url, username, credential);
    return 0;
}
