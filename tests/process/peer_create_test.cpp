// peer.create: role, capture, ICE servers and their URL grammar, and the
// host's input settings; refusals before the identity is stored are
// worker.error, after it peer.error.
#include "worker_fixture.h"

#include <vector>

namespace native_worker::process_tests {
namespace {

using nlohmann::json;

json with(json message, const std::string& key, json value) {
    message[key] = std::move(value);
    return message;
}

void expectCreated(const json& create, const std::string& created) {
    Worker worker;
    worker.send(create);
    EXPECT_EQ(worker.nextAnswer(), created);
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

void expectRefusedAsWorkerError(const json& create) {
    Worker worker;
    worker.send(create);
    expectWorkerError(worker, "invalid_message");
}

json iceServers(json servers) {
    return with(controllerCreate("c1"), "iceServers", std::move(servers));
}

json oneServer(const std::string& url, const json& username, const json& credential) {
    json server = {{"urls", {url}}};
    if (!username.is_null()) server["username"] = username;
    if (!credential.is_null()) server["credential"] = credential;
    return iceServers(json::array({server}));
}

struct UrlCase {
    std::string url;
    bool accepted;
    json username = "user";
    json credential = "secret";
};

TEST(PeerCreate, IceUrlGrammar) {
    const std::string longHost = std::string(251, 'h') + ".a";
    const std::string longPort = std::string(2048 - 8, '0') + "1";
    const std::vector<UrlCase> cases{
        {"stun:stun.example.org", true},
        {"stun:stun.example.org:3478", true},
        {"stuns:stun.example.org:5349", true},
        {"stun:192.0.2.1:3478", true},
        {"stun:localhost", true},
        {"stun:a-b.c-d.example", true},
        {"stun:[2001:db8::1]", true},
        {"stun:[2001:db8::1]:3478", true},
        {"stun:[::1]", true},
        {"stun:host:65535", true},
        {"stun:host:0065535", true},
        {"stun:host:00080", true},
        {"stun:stun.example.org", true, nullptr, nullptr},
        {"stun:stun.example.org", true, "", ""},
        {"turn:turn.example.org", true},
        {"turn:turn.example.org:3478?transport=udp", true},
        {"turn:turn.example.org?transport=tcp", true},
        {"turns:turn.example.org:443?transport=tcp", true},
        {"turns:[2001:db8::2]:443?transport=tcp", true},
        {"stun:" + longHost, true},
        {"stun:h:" + longPort, true},
        {"turn:turn.example.org", false, "user", nullptr},
        {"turn:turn.example.org", false, "user", ""},
        {"turn:turn.example.org", false, nullptr, "secret"},
        {"turns:turn.example.org", false, "", "secret"},
        {"stun:host?transport=udp", false},
        {"stuns:host?transport=tcp", false},
        {"turns:host?transport=udp", false},
        {"turn:host?transport=sctp", false},
        {"turn:host?transport=UDP", false},
        {"turn:host?transport=udp&x=1", false},
        {"turn:host?", false},
        {"turn:?transport=udp", false},
        {"STUN:host", false},
        {"http://host", false},
        {"stun", false},
        {"stun:", false},
        {"stun://host", false},
        {"stun:host_name", false},
        {"stun:.host", false},
        {"stun:host.", false},
        {"stun:a..b", false},
        {"stun:h\xc3\xa9te", false},
        {"stun:host:", false},
        {"stun:host:0", false},
        {"stun:host:000", false},
        {"stun:host:65536", false},
        {"stun:host:99999999999", false},
        {"stun:host:1:2", false},
        {"stun:host:80a", false},
        {"stun:host:-1", false},
        {"stun:[2001:db8::1", false},
        {"stun:[2001:db8::1]x", false},
        {"stun:[2001:db8::1]:", false},
        {"stun:[2001:db8::1]:0", false},
        {"stun:[192.0.2.1]", false},
        {"stun:[2001:db8::g]", false},
        {"stun:[]", false},
        {"stun:host 1", false},
        {"stun:host\t", false},
        {"stun:host\r", false},
        {"stun:h" + longHost, false},
        {"stun:h:0" + longPort, false},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.url.size() <= 80
                         ? entry.url
                         : entry.url.substr(0, 80) + "... (" + std::to_string(entry.url.size()) + " bytes)");
        const json create = oneServer(entry.url, entry.username, entry.credential);
        if (entry.accepted)
            expectCreated(create, controllerCreated(idJson("c1")));
        else
            expectRefusedAsWorkerError(create);
    }
}

TEST(PeerCreate, IceServerStructure) {
    const json stun = {{"urls", {"stun:a.example"}}};
    const json fourUrls = {{"urls", {"stun:a.example", "stun:b.example", "stun:c.example", "stun:d.example"}}};
    json fiveUrls = fourUrls;
    fiveUrls["urls"].push_back("stun:e.example");
    const auto created = controllerCreated(idJson("c1"));
    {
        SCOPED_TRACE("no servers");
        expectCreated(iceServers(json::array()), created);
    }
    {
        SCOPED_TRACE("eight servers");
        expectCreated(iceServers(json::array({stun, stun, stun, stun, stun, stun, stun, stun})), created);
    }
    {
        SCOPED_TRACE("eight URLs over two servers");
        expectCreated(iceServers(json::array({fourUrls, fourUrls})), created);
    }
    {
        SCOPED_TRACE("username of 512 and credential of 2048 bytes");
        expectCreated(oneServer("turn:t.example", std::string(512, 'u'), std::string(2048, 'c')), created);
    }
    const std::vector<std::pair<std::string, json>> refused{
        {"missing",
         [] {
             json create = controllerCreate("c1");
             create.erase("iceServers");
             return create;
         }()},
        {"an object", iceServers(stun)},
        {"nine servers", iceServers(json::array({stun, stun, stun, stun, stun, stun, stun, stun, stun}))},
        {"nine URLs over two servers", iceServers(json::array({fiveUrls, fourUrls}))},
        {"urls a string", iceServers(json::array({{{"urls", "stun:a.example"}}}))},
        {"urls empty", iceServers(json::array({{{"urls", json::array()}}}))},
        {"urls missing", iceServers(json::array({{{"username", "u"}}}))},
        {"a URL that is a number", iceServers(json::array({{{"urls", {7}}}}))},
        {"a server that is a string", iceServers(json::array({"stun:a.example"}))},
        {"an unknown server member",
         iceServers(json::array({{{"urls", {"stun:a.example"}}, {"credentialType", "password"}}}))},
        {"username of 513 bytes", oneServer("stun:a.example", std::string(513, 'u'), "c")},
        {"credential of 2049 bytes", oneServer("stun:a.example", "u", std::string(2049, 'c'))},
        {"username a number", oneServer("stun:a.example", 5, "c")},
        {"credential with NUL", oneServer("stun:a.example", "u", std::string("c\0c", 3))},
    };
    for (const auto& [what, create] : refused) {
        SCOPED_TRACE(what);
        expectRefusedAsWorkerError(create);
    }
}

TEST(PeerCreate, RoleAndCaptureRules) {
    const std::string created = hostCreated(idJson("c1"));
    expectCreated(with(hostCreate("c1"), "capture", {{"fps", 60}}), created);
    expectCreated(with(hostCreate("c1"), "capture", {{"fps", 1}}), created);
    json noCapture = hostCreate("c1");
    noCapture.erase("capture");
    json noRole = hostCreate("c1");
    noRole.erase("role");
    const std::vector<std::pair<std::string, json>> refused{
        {"role missing", noRole},
        {"role Host", with(hostCreate("c1"), "role", "Host")},
        {"role viewer", with(hostCreate("c1"), "role", "viewer")},
        {"role empty", with(hostCreate("c1"), "role", "")},
        {"role a number", with(hostCreate("c1"), "role", 1)},
        {"role of 17 bytes", with(hostCreate("c1"), "role", "controllercontrol")},
        {"fps 61", with(hostCreate("c1"), "capture", {{"fps", 61}})},
        {"fps 0", with(hostCreate("c1"), "capture", {{"fps", 0}})},
        {"fps -1", with(hostCreate("c1"), "capture", {{"fps", -1}})},
        {"fps 30.0", with(hostCreate("c1"), "capture", {{"fps", 30.0}})},
        {"fps a string", with(hostCreate("c1"), "capture", {{"fps", "30"}})},
        {"fps and another member", with(hostCreate("c1"), "capture", {{"fps", 30}, {"x", 1}})},
        {"capture empty", with(hostCreate("c1"), "capture", json::object())},
        {"capture a number", with(hostCreate("c1"), "capture", 30)},
        {"capture missing for a host", noCapture},
        {"capture for a controller", with(controllerCreate("c1"), "capture", {{"fps", 30}})},
        {"an unknown member", with(hostCreate("c1"), "codec", "h264")},
    };
    for (const auto& [what, create] : refused) {
        SCOPED_TRACE(what);
        expectRefusedAsWorkerError(create);
    }
}

TEST(PeerCreate, HostInputSettings) {
    std::string created = hostCreated(idJson("c1"));
    const std::string defaults = R"("inputEpoch":0,"inputSupported":false)";
    created.replace(created.find(defaults), defaults.size(), R"("inputEpoch":9007199254740991,"inputSupported":true)");
    expectCreated(with(hostCreate("c1"), "input", {{"inputEpoch", 9007199254740991ULL}, {"inputApproved", false}}),
                  created);
    created = hostCreated(idJson("c1"));
    created.replace(created.find(defaults), defaults.size(), R"("inputEpoch":1,"inputSupported":true)");
    expectCreated(with(hostCreate("c1"), "input", {{"inputEpoch", 1}, {"inputApproved", true}}), created);

    // The identity is stored before "input" is read: refusals are peer.error.
    const std::vector<std::pair<std::string, json>> refused{
        {"epoch 0", {{"inputEpoch", 0}, {"inputApproved", true}}},
        {"epoch -1", {{"inputEpoch", -1}, {"inputApproved", true}}},
        {"epoch 2^53", {{"inputEpoch", 9007199254740992ULL}, {"inputApproved", true}}},
        {"epoch 1.0", {{"inputEpoch", 1.0}, {"inputApproved", true}}},
        {"epoch a string", {{"inputEpoch", "1"}, {"inputApproved", true}}},
        {"epoch missing", {{"inputApproved", true}}},
        {"approval missing", {{"inputEpoch", 1}}},
        {"approval a number", {{"inputEpoch", 1}, {"inputApproved", 1}}},
        {"an unknown member", {{"inputEpoch", 1}, {"inputApproved", true}, {"scope", "all"}}},
        {"not an object", "all"},
    };
    for (const auto& [what, input] : refused) {
        SCOPED_TRACE(what);
        Worker worker;
        worker.send(with(hostCreate("c1"), "input", input));
        expectPeerError(worker, "invalid_message", idJson("c1"));
    }
}

TEST(PeerCreate, AControllersInputIsNotLookedAt) {
    for (const json& input : {json("all"), json({{"inputEpoch", 0}}), json::array({1, 2})}) {
        SCOPED_TRACE(input.dump());
        expectCreated(with(controllerCreate("c1"), "input", input), controllerCreated(idJson("c1")));
    }
}

}  // namespace
}  // namespace native_worker::process_tests
