// docs/protocol.md is what host-application and controller authors write
// against, so it must name exactly what the code has, give the engine's own
// times for a lost peer, and its examples must run as shown: the
// host-protocol ones in the scripted worker, the data-channel one in a
// session over the scripted engine.
#include "input/key_map.h"
#include "worker/session_harness.h"
#include "worker_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::reference {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;
using Lines = std::vector<std::string>;

const fs::path sourceRoot = KELVARN_SOURCE_DIR;

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot read " << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

const Lines& referenceLines() {
    static const Lines lines = [] {
        Lines result;
        std::istringstream text(readFile(sourceRoot / "docs/protocol.md"));
        for (std::string line; std::getline(text, line);) result.push_back(line);
        return result;
    }();
    return lines;
}

std::size_t headingLevel(const std::string& line) {
    const std::size_t hashes = line.find_first_not_of('#');
    return hashes != std::string::npos && hashes > 0 && line[hashes] == ' ' ? hashes : 0;
}

// The lines under a heading, up to the next heading of its level or above.
Lines section(const std::string& heading) {
    const Lines& lines = referenceLines();
    auto line = std::find(lines.begin(), lines.end(), heading);
    if (line == lines.end()) {
        ADD_FAILURE() << "docs/protocol.md has no heading \"" << heading << "\"";
        return {};
    }
    const std::size_t level = headingLevel(heading);
    Lines result;
    for (++line; line != lines.end(); ++line) {
        const std::size_t other = headingLevel(*line);
        if (other != 0 && other <= level) break;
        result.push_back(*line);
    }
    return result;
}

// A name is documented by a heading "### `name`" or a table row "| `name` | ...".
const std::regex headingName(R"(^### `([^`]+)`$)");
const std::regex rowName(R"(^\| `([^`]+)` \|)");

Names documented(const Lines& lines, const std::regex& form) {
    Names names;
    std::smatch match;
    for (const auto& line : lines)
        if (std::regex_search(line, match, form)) names.insert(match[1].str());
    return names;
}

Names matches(const std::string& text, const std::regex& form) {
    Names names;
    for (std::sregex_iterator match(text.begin(), text.end(), form), end; match != end; ++match)
        names.insert((*match)[1].str());
    return names;
}

Names inSources(const std::vector<fs::path>& files, const std::regex& form) {
    Names names;
    for (const auto& file : files) names.merge(matches(readFile(sourceRoot / file), form));
    return names;
}

std::vector<fs::path> everySource() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(sourceRoot / "src"))
        if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")
            files.push_back(fs::relative(entry.path(), sourceRoot));
    return files;
}

std::string listed(const Names& names) {
    std::string text;
    for (const auto& name : names) text += " " + name;
    return text;
}

void expectSame(const Names& inCode, const Names& inReference, const char* what) {
    Names onlyInCode;
    Names onlyInReference;
    std::ranges::set_difference(inCode, inReference, std::inserter(onlyInCode, onlyInCode.end()));
    std::ranges::set_difference(inReference, inCode, std::inserter(onlyInReference, onlyInReference.end()));
    EXPECT_TRUE(onlyInCode.empty()) << what << " in the code but not in docs/protocol.md:" << listed(onlyInCode);
    EXPECT_TRUE(onlyInReference.empty()) << what
                                         << " in docs/protocol.md but not in the code:" << listed(onlyInReference);
    EXPECT_FALSE(inCode.empty()) << "no " << what << " found in the code: has its form changed?";
}

// The codes of one list of base/error_codes.h, which holds every list.
Names codeList(const std::string& list) {
    const std::string text = readFile(sourceRoot / "src/base/error_codes.h");
    const std::size_t begin = text.find("namespace " + list + " {");
    const std::size_t end = text.find("}  // namespace " + list, begin);
    EXPECT_NE(end, std::string::npos) << "base/error_codes.h has no list " << list;
    if (end == std::string::npos) return {};
    return matches(text.substr(begin, end - begin), std::regex(R"re(constexpr char \w+\[\] = "([^"]+)")re"));
}

TEST(ProtocolReference, DocumentsEveryNameTheCodeHasAndNoOther) {
    const Names commands = inSources({"src/worker/session.cpp"}, std::regex(R"re(type [!=]= "([^"]+)")re"));
    Names events = inSources(everySource(), std::regex(R"re("((?:peer|worker)\.[A-Za-z]+)")re"));
    for (const auto& command : commands) events.erase(command);
    expectSame(commands, documented(section("## Commands"), headingName), "commands");
    expectSame(events, documented(section("## Events"), headingName), "events");

    expectSame(codeList("codes"), documented(section("## Error codes"), rowName), "error codes");
    expectSame(codeList("input_codes"), documented(section("### Why an event is dropped"), rowName),
               "input refusal codes");
    expectSame(codeList("unavailable_reasons"), documented(section("### `controlUnavailable`"), rowName),
               "controlUnavailable reasons");
    expectSame(inSources({"src/input/input_event.cpp"}, std::regex(R"re(kind == "([^"]+)")re")),
               documented(section("## Input events"), headingName), "input kinds");
    expectSame(inSources({"src/input/control_messages.cpp"}, std::regex(R"re(controlMessage\("([^"]+)"\))re")),
               documented(section("## Control channel messages"), headingName), "control channel messages");
}

TEST(ProtocolReference, LostPeerTimesAreTheEnginesSilences) {
    std::map<std::string, std::string> inReference;
    static const std::regex row(R"re(^\| (\d+) s \| `"(\w+)"` \|$)re");
    for (const auto& line : section("### `peer.state`")) {
        std::smatch match;
        if (std::regex_match(line, match, row)) inReference[match[2]] = match[1].str() + "000";
    }
    std::map<std::string, std::string> inCode;
    const std::string rule = readFile(sourceRoot / "src/engine/gstreamer/connection_monitor.h");
    static const std::regex silence(R"re(silenceBefore(\w+)\{(\d+)\})re");
    for (std::sregex_iterator match(rule.begin(), rule.end(), silence), end; match != end; ++match) {
        std::string state = (*match)[1];
        state.front() = static_cast<char>(std::tolower(state.front()));
        inCode[state] = (*match)[2];
    }
    EXPECT_FALSE(inCode.empty()) << "no silence found in connection_monitor.h: has its form changed?";
    EXPECT_EQ(inCode, inReference);
}

TEST(ProtocolReference, KeyTableHoldsExactlyTheMappedKeys) {
    // Rows hold three pairs of code and key.
    std::set<std::int64_t> inReference;
    for (const auto& line : section("## Key codes")) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
        for (std::size_t code = 1; code < cells.size(); code += 2) {
            static const std::regex number(R"(^ (\d+) $)");
            std::smatch match;
            if (std::regex_match(cells[code], match, number)) inReference.insert(std::stoll(match[1]));
        }
    }
    std::set<std::int64_t> mapped;
    for (std::int64_t code = 0; code <= 65535; ++code)
        if (findKey(code)) mapped.insert(code);
    EXPECT_EQ(mapped, inReference);
}

// The fenced blocks of the reference whose first line starts with `opening`.
std::vector<Lines> examples(const std::string& opening) {
    std::vector<Lines> blocks;
    std::optional<Lines> block;
    for (const auto& line : referenceLines()) {
        if (line.starts_with("```")) {
            if (block && !block->empty() && block->front().starts_with(opening)) blocks.push_back(*block);
            block = block ? std::nullopt : std::optional<Lines>(Lines{});
        } else if (block) {
            block->push_back(line);
        }
    }
    return blocks;
}

// The events an example may leave out, as the reference says.
bool mayGoUnshown(const std::string& line) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) return false;
    const auto type = event.value("type", "");
    return type == "peer.media" || type == "peer.candidate" ||
           (type == "peer.state" && event.value("state", "") == "connecting");
}

// Reads until every awaited line came, in their order when `ordered`; events
// an example may leave out never stop coming, so the wait is bounded as a whole.
bool collect(process_tests::Worker& worker, Lines& awaited, bool ordered) {
    using std::chrono::milliseconds;
    const auto deadline = std::chrono::steady_clock::now() + process_tests::answerWait;
    while (!awaited.empty()) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto line = worker.readLine(std::max(left, milliseconds(0)));
        if (!line) {
            ADD_FAILURE() << "the worker never wrote " << awaited.front();
            return false;
        }
        const auto searched = ordered ? awaited.begin() + 1 : awaited.end();
        if (const auto found = std::find(awaited.begin(), searched, *line); found != searched) {
            awaited.erase(found);
        } else if (!mayGoUnshown(*line)) {
            ADD_FAILURE() << "the worker wrote a line the example does not show there: " << *line;
            return false;
        }
    }
    return true;
}

// Lines written between two commands may come in any order; after the last
// command, in the order shown.
void runHostProtocolExample(const Lines& example) {
    process_tests::Worker worker;
    Lines awaited;
    for (const auto& line : example) {
        if (line.starts_with("> ")) {
            ASSERT_TRUE(collect(worker, awaited, false));
            ASSERT_TRUE(worker.writeLine(line.substr(2)));
        } else if (line.starts_with("< ")) {
            awaited.push_back(line.substr(2) + "\n");
        } else if (line.starts_with("exit ")) {
            ASSERT_TRUE(collect(worker, awaited, true));
            process_tests::expectAnswersToTheEnd(worker, "", std::stoi(line.substr(5)));
        } else {
            FAIL() << "not a line of a host-protocol example: " << line;
        }
    }
    EXPECT_TRUE(awaited.empty()) << "the example ends before the worker wrote " << awaited.front();
}

TEST(ProtocolReference, HostProtocolExamplesRunInTheScriptedWorker) {
    const auto blocks = examples("> ");
    EXPECT_GE(blocks.size(), 4u);
    for (const auto& block : blocks) {
        SCOPED_TRACE(block.front());
        runHostProtocolExample(block);
    }
}

TEST(ProtocolReference, ChannelExampleRunsInTheHostSessionOfTheHostExample) {
    const auto hostExamples = examples(R"(> {"version":1,"type":"peer.create")");
    const auto hostExample = std::ranges::find_if(hostExamples, [](const Lines& block) {
        return nlohmann::json::parse(block.front().substr(2))["role"] == "host";
    });
    const auto channelExamples = examples("control ");
    ASSERT_NE(hostExample, hostExamples.end());
    ASSERT_EQ(channelExamples.size(), 1u);

    testing::SessionHarness harness;
    for (const auto& line : *hostExample) {
        if (!line.starts_with("> ")) continue;
        const auto command = nlohmann::json::parse(line.substr(2));
        if (command["type"] == "peer.close") continue;
        ASSERT_EQ(harness.dispatch(command), "") << line;
        for (int pass = 0; pass < 10; ++pass) {
            ASSERT_EQ(harness.pump(), "");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    harness.engine.thread().drain();

    std::size_t heard = 0;
    for (const auto& line : channelExamples.front()) {
        const std::size_t space = line.find(' ');
        const std::string label = line.substr(0, space);
        const std::string direction = line.substr(space + 1, 2);
        const std::string text = line.substr(space + 3);
        auto channel = harness.connection().channel(label);
        ASSERT_TRUE(channel) << line;
        if (direction == "< ") {
            const auto sent = channel->sent();
            ASSERT_LT(heard, sent.size()) << "the host never sent " << line;
            EXPECT_EQ(sent[heard++], text);
        } else if (direction == "> ") {
            const std::size_t before = harness.sink.records.size();
            channel->receive(text, false);
            harness.engine.thread().drain();
            EXPECT_GT(harness.sink.records.size(), before) << "nothing reached the desktop: " << line;
        } else {
            ADD_FAILURE() << "not a line of a data-channel example: " << line;
        }
    }
    EXPECT_EQ(harness.connection().channel("control")->sent().size(), heard)
        << "the host sent more on \"control\" than the example shows";
}

}  // namespace
}  // namespace native_worker::reference
