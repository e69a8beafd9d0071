// The envelope of every command: parsing rules, version, identity and
// requestId, and which error event and requestId a refusal carries.
#include "worker_fixture.h"

#include <vector>

namespace native_worker::process_tests {
namespace {

struct Refusal {
    std::string what;
    std::string line;
    std::string code;
};

nlohmann::json with(nlohmann::json message, const std::string& key, nlohmann::json value) {
    message[key] = std::move(value);
    return message;
}

nlohmann::json without(nlohmann::json message, const std::string& key) {
    message.erase(key);
    return message;
}

std::string nestedArrays(int depth, const std::string& innermost) {
    const auto count = static_cast<std::size_t>(depth);
    return std::string(count, '[') + innermost + std::string(count, ']');
}

// The controller's "input" is not inspected, so it can carry any JSON value.
std::string controllerCreateWithInput(const std::string& inputJson) {
    std::string line = text(controllerCreate("c1"));
    line.pop_back();
    return line + R"(,"input":)" + inputJson + "}";
}

void expectEachRefusedBeforeCreation(const std::vector<Refusal>& refusals) {
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        Worker worker;
        ASSERT_TRUE(worker.writeLine(refusal.line));
        expectWorkerError(worker, refusal.code);
    }
}

void expectAccepted(const std::string& what, const std::string& line, const std::string& created,
                    const std::string& closed = peerEvent("peer.closed", "null")) {
    SCOPED_TRACE(what);
    Worker worker;
    ASSERT_TRUE(worker.writeLine(line));
    EXPECT_EQ(worker.nextAnswer(), created);
    worker.closeInput();
    expectAnswersToTheEnd(worker, closed, 0);
}

TEST(Envelope, LinesThatAreNotOneStrictJsonObjectAreInvalid) {
    const std::string create = text(hostCreate("c1"));
    std::string commented = create;
    commented.insert(1, "/* note */");
    std::string badUtf8 = text(hostCreate("c1"));
    badUtf8.replace(badUtf8.find("acct-1"), 6, "acct-\xff");
    std::string escapedTwice = create;
    escapedTwice.insert(1, R"("r\u006fle":"host",)");
    std::string trailing = create + " x";
    std::string nestedTwice = text(without(hostCreate("c1"), "iceServers"));
    nestedTwice.insert(1, R"("iceServers":[{"urls":["stun:a.example"],"urls":["stun:b.example"]}],)");
    expectEachRefusedBeforeCreation({
        {"white space only", " \t ", "invalid_message"},
        {"array", "[" + create + "]", "invalid_message"},
        {"string", R"("peer.create")", "invalid_message"},
        {"number", "1", "invalid_message"},
        {"comment", commented, "invalid_message"},
        {"trailing text", trailing, "invalid_message"},
        {"invalid UTF-8", badUtf8, "invalid_message"},
        {"top-level key twice", R"({"version":1,"version":1})", "invalid_message"},
        {"key twice, once escaped", escapedTwice, "invalid_message"},
        {"nested key twice", nestedTwice, "invalid_message"},
        {"16 nested arrays around a number", controllerCreateWithInput(nestedArrays(16, "1")), "invalid_message"},
        {"17 nested empty arrays", controllerCreateWithInput(nestedArrays(17, "")), "invalid_message"},
    });
}

TEST(Envelope, NestingUpToTheBoundAndRepeatedKeysInSiblingsPass) {
    expectAccepted("16 nested empty arrays", controllerCreateWithInput(nestedArrays(16, "")),
                   controllerCreated(idJson("c1")));
    expectAccepted("15 nested arrays around a number", controllerCreateWithInput(nestedArrays(15, "1")),
                   controllerCreated(idJson("c1")));
    expectAccepted("the same key in sibling objects",
                   text(with(hostCreate("c1"), "iceServers",
                             nlohmann::json::parse(R"([{"urls":["stun:a.example"]},{"urls":["stun:b.example"]}])"))),
                   hostCreated(idJson("c1")));
}

TEST(Envelope, VersionIsAnIntegerEqualToOne) {
    std::string asFloat = text(hostCreate("c1"));
    asFloat.replace(asFloat.find(R"("version":1)"), 11, R"("version":1.0)");
    expectEachRefusedBeforeCreation({
        {"1.0", asFloat, "invalid_message"},
        {"a string", text(with(hostCreate("c1"), "version", "1")), "invalid_message"},
        {"missing", text(without(hostCreate("c1"), "version")), "invalid_message"},
        {"null", text(with(hostCreate("c1"), "version", nullptr)), "invalid_message"},
        {"2", text(with(hostCreate("c1"), "version", 2)), "unsupported_version"},
        {"0", text(with(hostCreate("c1"), "version", 0)), "unsupported_version"},
        {"-1", text(with(hostCreate("c1"), "version", -1)), "unsupported_version"},
        {"2 with nothing else", R"({"version":2})", "unsupported_version"},
    });
}

TEST(Envelope, IdentityAndRequestIdFollowTheirStringRules) {
    const auto create = hostCreate("c1");
    expectEachRefusedBeforeCreation({
        {"accountId missing", text(without(create, "accountId")), "invalid_message"},
        {"accountId empty", text(with(create, "accountId", "")), "invalid_message"},
        {"accountId of 129 bytes", text(with(create, "accountId", std::string(129, 'a'))), "invalid_message"},
        {"accountId a number", text(with(create, "accountId", 7)), "invalid_message"},
        {"accountId with NUL", text(with(create, "accountId", std::string("ac\0ct", 5))), "invalid_message"},
        {"sessionId in braces", text(with(create, "sessionId", "{0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50}")),
         "invalid_message"},
        {"sessionId without hyphens", text(with(create, "sessionId", "0b7d5f2e93c44a1b8e6f2c9d1a7b3e50")),
         "invalid_message"},
        {"sessionId of 35 bytes", text(with(create, "sessionId", "0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e5")),
         "invalid_message"},
        {"sessionId with a hyphen moved", text(with(create, "sessionId", "0b7d5f2e9-3c4-4a1b-8e6f-2c9d1a7b3e50")),
         "invalid_message"},
        {"sessionId with a non-hex digit", text(with(create, "sessionId", "0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e5g")),
         "invalid_message"},
        {"generation empty", text(with(create, "generation", "")), "invalid_message"},
        {"generation of 65 bytes", text(with(create, "generation", std::string(65, 'g'))), "invalid_message"},
        {"requestId missing", text(without(create, "requestId")), "invalid_message"},
        {"requestId empty", text(with(create, "requestId", "")), "invalid_message"},
        {"requestId of 65 bytes", text(with(create, "requestId", std::string(65, 'r'))), "invalid_message"},
        {"requestId with a space", text(with(create, "requestId", "c 1")), "invalid_message"},
        {"requestId with a slash", text(with(create, "requestId", "c/1")), "invalid_message"},
        {"requestId a number", text(with(create, "requestId", 1)), "invalid_message"},
        {"type missing", text(without(create, "type")), "invalid_message"},
        {"type empty", text(with(create, "type", "")), "invalid_message"},
        {"type of 65 bytes", text(with(create, "type", std::string(65, 't'))), "invalid_message"},
        {"a command other than peer.create first", text(command("peer.offer", "o1")), "invalid_message"},
        {"peer.close first", text(command("peer.close", "x1")), "invalid_message"},
        {"an unknown top-level member", text(with(create, "extra", 1)), "invalid_message"},
    });
}

TEST(Envelope, LongestAndUpperCaseFormsAreAccepted) {
    const std::string requestId = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.:";
    ASSERT_EQ(requestId.size(), 66u);
    const std::string longest = requestId.substr(2);
    expectAccepted("requestId of 64 allowed bytes", text(hostCreate(longest)), hostCreated(idJson(longest)));

    // Every event carries the identity exactly as peer.create gave it.
    const std::string upper = "0B7D5F2E-93C4-4A1B-8E6F-2C9D1A7B3E50";
    std::string created = controllerCreated(idJson("c1"));
    std::string closed = peerEvent("peer.closed", "null");
    for (std::string* line : {&created, &closed}) line->replace(line->find(sessionId), upper.size(), upper);
    expectAccepted("upper-case sessionId", text(with(controllerCreate("c1"), "sessionId", upper)), created, closed);

    const std::string account(128, 'a');
    const std::string generationText(64, 'g');
    created = controllerCreated(idJson("c1"));
    closed = peerEvent("peer.closed", "null");
    for (std::string* line : {&created, &closed}) {
        line->replace(line->find("acct-1"), 6, account);
        line->replace(line->find("gen-1"), 5, generationText);
    }
    expectAccepted("accountId of 128 and generation of 64 bytes",
                   text(with(with(controllerCreate("c1"), "accountId", account), "generation", generationText)),
                   created, closed);
}

// After creation refusals are peer.error with the identity; the requestId is
// known once the requestId itself has passed its checks.
TEST(Envelope, RefusalsAfterCreationCarryTheRequestIdOnceItIsValid) {
    struct Case {
        std::string what;
        std::string line;
        std::string code;
        std::string requestId;
    };
    const std::vector<Case> cases{
        {"not JSON", "[]", "invalid_message", "null"},
        {"version 2", text(with(command("peer.offer", "o1"), "version", 2)), "unsupported_version", "null"},
        {"another generation", text(with(command("peer.offer", "o1"), "generation", "gen-2")), "identity_mismatch",
         "null"},
        {"another accountId", text(with(command("peer.offer", "o1"), "accountId", "acct-2")), "identity_mismatch",
         "null"},
        {"the sessionId in upper case",
         text(with(command("peer.offer", "o1"), "sessionId", "0B7D5F2E-93C4-4A1B-8E6F-2C9D1A7B3E50")),
         "identity_mismatch", "null"},
        {"peer.create again with another generation", text(with(hostCreate("c2"), "generation", "gen-2")),
         "identity_mismatch", "null"},
        {"an invalid requestId", text(command("peer.offer", "o/1")), "invalid_message", "null"},
        {"the requestId of peer.create again", text(command("peer.offer", "c1")), "invalid_message", idJson("c1")},
        {"a type of 65 bytes", text(command(std::string(65, 't'), "t1")), "invalid_message", idJson("t1")},
        {"an unknown type", text(command("peer.bogus", "b1")), "invalid_message", idJson("b1")},
        {"peer.create again", text(hostCreate("c2")), "invalid_message", idJson("c2")},
        {"an unknown member", text(with(command("peer.offer", "o1"), "extra", true)), "invalid_message", idJson("o1")},
    };
    for (const auto& refusal : cases) {
        SCOPED_TRACE(refusal.what);
        Worker worker;
        worker.createHost();
        ASSERT_TRUE(worker.writeLine(refusal.line));
        expectPeerError(worker, refusal.code, refusal.requestId);
    }
}

TEST(Envelope, ARequestIdIsNeverReusedEvenAfterItsCommandFinished) {
    Worker worker;
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
    ASSERT_TRUE(worker.nextAnswer());
    worker.send(candidateCommand("o1", 1));
    expectPeerError(worker, "invalid_message", idJson("o1"));
}

TEST(Envelope, TheWorkerAcceptsAtMost4096Messages) {
    Worker worker;
    worker.createHost();
    worker.negotiateHost();
    // Three messages so far; candidates go in batches the reader takes in one pass.
    int sent = 3;
    while (sent < 4096) {
        const int batch = std::min(24, 4096 - sent);
        std::string lines;
        for (int i = sent; i < sent + batch; ++i) lines += text(candidateCommand("k" + std::to_string(i), i)) + "\n";
        ASSERT_TRUE(worker.write(lines));
        for (int i = sent; i < sent + batch; ++i)
            ASSERT_EQ(worker.nextAnswer(), peerEvent("peer.candidateSubmitted", idJson("k" + std::to_string(i))));
        sent += batch;
    }
    worker.send(candidateCommand("last", 4096));
    expectPeerError(worker, "invalid_message", idJson("last"));
}

}  // namespace
}  // namespace native_worker::process_tests
