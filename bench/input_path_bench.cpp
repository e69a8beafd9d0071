#include "input/input_injector.h"
#include "platform/posix/x11_sink.h"
#include "recording_sink.h"
#include "utf8_text.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace native_worker;
using native_worker::testing::appendUtf8;
using nlohmann::json;

constexpr std::uint64_t epoch = 7;
const DisplayTarget display{"1", 0, 0, 1920, 1080, 1920, 1080};
const VirtualScreen desktop{0, 0, 1920, 1080};
const GateState open{true, true, true, true};

json common(std::uint64_t sequence) {
    return {{"sequence", sequence},
            {"inputEpoch", epoch},
            {"modifiers", {{"rawValue", 0}}},
            {"pressedKeys", json::array()},
            {"pressedButtons", json::array()}};
}

std::vector<std::string> moves(std::size_t count) {
    std::vector<std::string> texts;
    for (std::size_t i = 1; i <= count; ++i) {
        json e = common(i);
        e.update({{"kind", "pointer.move"}, {"deltaX", i % 2 ? 3.5 : -3.5}, {"deltaY", -1}});
        texts.push_back(e.dump());
    }
    return texts;
}

// Shift+A pressed and released, over and over.
std::vector<std::string> keys(std::size_t count) {
    std::vector<std::string> texts;
    for (std::size_t i = 1; i <= count; ++i) {
        json e = common(i);
        e.update({{"kind", "keyboard.key"}, {"keyCode", 0}, {"isDown", i % 2 == 1}});
        e["modifiers"]["rawValue"] = 1;
        texts.push_back(e.dump());
    }
    return texts;
}

// Each batch gets a fresh injector, since its sequences start over.
void applyAll(benchmark::State& state, const std::vector<std::string>& texts) {
    kelvarn::input::RecordingSink sink;
    sink.cursor = kelvarn::input::Point{960, 540};
    std::unique_ptr<InputInjector> injector;
    std::size_t next = texts.size();
    for (auto _ : state) {
        if (next == texts.size()) {
            injector = std::make_unique<InputInjector>(Identity{"a", "s", "g"}, sink);
            injector->activate(epoch, display, desktop, open);
            next = 0;
        }
        if (!injector->apply(texts[next++]).injected) state.SkipWithError("event refused");
        sink.clear();
    }
    state.SetItemsProcessed(state.iterations());
}

void PointerMoveEvents(benchmark::State& state) {
    applyAll(state, moves(10000));
}
BENCHMARK(PointerMoveEvents);

void KeyboardKeyEvents(benchmark::State& state) {
    applyAll(state, keys(10000));
}
BENCHMARK(KeyboardKeyEvents);

bool haveDisplay(benchmark::State& state) {
    if (std::getenv("DISPLAY")) return true;
    state.SkipWithError("no DISPLAY");
    return false;
}

void X11SinkAbsoluteMove(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    kelvarn::input::X11Sink sink;
    std::int32_t x = 0;
    for (auto _ : state) {
        x = (x + 997) % 65536;
        if (!sink.inject(kelvarn::input::mouseRecord(kelvarn::input::absoluteMoveFlags, x, 30000)))
            state.SkipWithError("refused");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(X11SinkAbsoluteMove);

void X11SinkScanCodeKey(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    kelvarn::input::X11Sink sink;
    std::uint32_t up = 0;
    for (auto _ : state) {
        up ^= kelvarn::input::keyeventfKeyUp;
        if (!sink.inject(kelvarn::input::keyboardRecord(0, 0x1E, kelvarn::input::keyeventfScanCode | up)))
            state.SkipWithError("refused");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(X11SinkScanCodeKey);

// Types the characters through a fresh injector over the X11 sink, in as few
// "keyboard.text" events as their 4096-byte limit allows.
void typeText(benchmark::State& state, const std::u32string& characters) {
    if (!haveDisplay(state)) return;
    std::vector<std::string> texts(1);
    for (const char32_t c : characters) {
        std::string encoded;
        appendUtf8(encoded, c);
        if (texts.back().size() + encoded.size() > 4096) texts.emplace_back();
        texts.back() += encoded;
    }
    kelvarn::input::X11Sink sink;
    std::uint64_t sequence = 0;
    std::uint64_t epochs = 0;
    for (auto _ : state) {
        InputInjector injector(Identity{"a", "s", "g"}, sink);
        injector.activate(++epochs, display, desktop, open);
        for (const std::string& text : texts) {
            json e = common(++sequence);
            e.update({{"kind", "keyboard.text"}, {"text", text}, {"inputEpoch", epochs}});
            if (!injector.apply(e.dump()).injected) state.SkipWithError("refused");
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(characters.size()));
}

// 4096 Cyrillic characters, cycling through as many distinct ones as the argument says.
void X11SinkText4096(benchmark::State& state) {
    std::u32string characters;
    for (char32_t i = 0; i < 4096; ++i) characters += static_cast<char32_t>(0x0410 + i % state.range(0));
    typeText(state, characters);
}
BENCHMARK(X11SinkText4096)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The worst case: 4096 CJK ideographs, no two alike.
void X11SinkText4096Distinct(benchmark::State& state) {
    std::u32string characters;
    for (char32_t i = 0; i < 4096; ++i) characters += static_cast<char32_t>(0x4E00 + i);
    typeText(state, characters);
}
BENCHMARK(X11SinkText4096Distinct)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Prose: a paragraph of accented Latin, Cyrillic and emoji, repeated to 4096 characters.
void X11SinkText4096Prose(benchmark::State& state) {
    const std::u32string paragraph =
        U"L\u2019\u00e9t\u00e9 dernier, \u00e0 l\u2019h\u00f4tel pr\u00e8s du ch\u00e2teau, Fran\u00e7oise a "
        U"go\u00fbt\u00e9 une cr\u00e8me br\u00fbl\u00e9e \U0001F600. Gr\u00fc\u00dfe aus M\u00fcnchen! "
        U"\u041c\u044b \u0432\u0441\u0442\u0440\u0435\u0442\u0438\u043b\u0438\u0441\u044c \u0443 "
        U"\u043c\u043e\u0440\u044f, \u0438 \u0432\u0435\u0447\u0435\u0440 \u0431\u044b\u043b "
        U"\u0442\u0451\u043f\u043b\u044b\u043c \U0001F30A\U0001F44D. ";
    std::u32string characters;
    while (characters.size() < 4096) characters += paragraph;
    characters.resize(4096);
    typeText(state, characters);
}
BENCHMARK(X11SinkText4096Prose)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
