// The strict host-line parser against the JSON library's plain parse of the
// same text, on the two shapes of line that cost the most: one carrying the
// largest session description, and one of the largest size packed with small
// members. Each iteration times both parses back to back, so the reported
// ratio compares them under the same machine load.

#include "worker/host_message.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <string>

namespace {

const std::string envelope =
    R"("version":1,"requestId":"bench-1","accountId":"account","sessionId":"0f8fad5b-d9cb-469f-a165-70867728950e","generation":"g1")";

// A peer.setDescription whose "sdp" holds 1 MiB of description text, line
// breaks escaped as on the wire.
std::string sdpLine() {
    const std::string sdpLineText = "a=candidate:1 1 udp 2122260223 192.0.2.1 50000 typ host generation 0\\r\\n";
    std::string sdp;
    std::size_t unescapedBytes = 0;
    const std::size_t bytesPerLine = sdpLineText.size() - 2;  // each "\\r\\n" is two bytes of text
    while (unescapedBytes + bytesPerLine <= 1'048'576) {
        sdp += sdpLineText;
        unescapedBytes += bytesPerLine;
    }
    sdp.append(1'048'576 - unescapedBytes, 'x');
    return "{" + envelope + R"(,"type":"peer.setDescription","descriptionType":"answer","sdp":")" + sdp + "\"}";
}

// 6,400,000 bytes, the longest line a host may send, made of small objects
// with short keys, nested a few levels (well inside the depth limit).
std::string denseLine() {
    constexpr std::size_t lineBytes = 6'400'000;
    const std::string item = R"({"a":1,"b":"xy","c":[true,null],"d":{"e":-2,"f":0.5}},)";
    const std::string head = "{" + envelope + R"(,"type":"peer.bench","items":[)";
    const std::string tail = R"(],"pad":"")";
    std::string line = head;
    while (line.size() + item.size() + tail.size() + 1 < lineBytes) line += item;
    line.pop_back();  // the last item's comma
    line += tail;
    line.insert(line.size() - 1, lineBytes - line.size() - 1, 'p');
    line += "}";
    return line;
}

template <typename Parse>
double secondsFor(Parse parse) {
    const auto start = std::chrono::steady_clock::now();
    parse();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void compareParsers(benchmark::State& state, const std::string& line) {
    double strictSeconds = 0;
    double plainSeconds = 0;
    for (auto _ : state) {
        const double plain = secondsFor([&] { benchmark::DoNotOptimize(nlohmann::json::parse(line)); });
        const double strict = secondsFor([&] { benchmark::DoNotOptimize(native_worker::parseHostMessage(line)); });
        plainSeconds += plain;
        strictSeconds += strict;
        state.SetIterationTime(strict);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["line_bytes"] = static_cast<double>(line.size());
    state.counters["strict_ms"] = strictSeconds / iterations * 1e3;
    state.counters["plain_ms"] = plainSeconds / iterations * 1e3;
    state.counters["strict_per_plain"] = strictSeconds / plainSeconds;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(line.size()));
}

void BM_SdpLine(benchmark::State& state) {
    static const std::string line = sdpLine();
    compareParsers(state, line);
}

void BM_DenseLine(benchmark::State& state) {
    static const std::string line = denseLine();
    compareParsers(state, line);
}

BENCHMARK(BM_SdpLine)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DenseLine)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
