#include "x11_sink_fixture.h"

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <atomic>
#include <string_view>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using testing::ClientWindow;
using testing::VirtualDisplay;

TEST_F(X11SinkTest, AbsoluteMovesEndAtTheMappedPixel) {
    X11Sink sink;
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 65535, 65535)));
    EXPECT_EQ(pointer(), (Point{width_ - 1.0, height_ - 1.0}));
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 0, 0)));
    EXPECT_EQ(pointer(), (Point{0, 0}));
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector
                    .apply(events({{"kind", "pointer.absolute"},
                                   {"positionX", 0},
                                   {"positionY", 0},
                                   {"normalizedX", 0.25},
                                   {"normalizedY", 0.5}}))
                    .injected);
    const Point expected{width_ * 0.25, height_ * 0.5};
    EXPECT_EQ(pointer(), expected);
    EXPECT_EQ(sink.cursorPosition(), expected);
    ASSERT_TRUE(injector.apply(events({{"kind", "pointer.move"}, {"deltaX", -10}, {"deltaY", 5}})).injected);
    EXPECT_EQ(pointer(), (Point{expected.x - 10, expected.y + 5}));
}

TEST_F(X11SinkTest, AKeyByScanCodeReachesAClient) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(key(0, 0x1E, keyeventfScanCode)));
    ASSERT_TRUE(sink.inject(key(0, 0x1E, keyeventfScanCode | keyeventfKeyUp)));
    ASSERT_TRUE(sink.inject(key(0, 0x48, keyeventfScanCode | keyeventfExtendedKey)));
    ASSERT_TRUE(sink.inject(key(0, 0x48, keyeventfScanCode | keyeventfExtendedKey | keyeventfKeyUp)));
    const auto seen = client.keys(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0].press);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_a));
    EXPECT_FALSE(seen[1].press);
    EXPECT_EQ(seen[1].keycode, seen[0].keycode);
    EXPECT_EQ(seen[2].keysym, static_cast<KeySym>(XK_Up));
    EXPECT_FALSE(seen[3].press);
}

TEST_F(X11SinkTest, FunctionKeysBeyondF12GoByKeysym) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(key(0x7C, 0, 0)));
    ASSERT_TRUE(sink.inject(key(0x7C, 0, keyeventfKeyUp)));
    const auto seen = client.keys(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_F13));
    EXPECT_FALSE(seen[1].press);
    EXPECT_FALSE(sink.inject(key(0x41, 0, 0)));  // only function keys go by virtual key
}

TEST_F(X11SinkTest, NonAsciiTextArrivesAsThatText) {
    const int unmappedBefore = unmappedKeycodes();
    ClientWindow client;
    const std::string text =
        "h\xC3\xA9llo w\xC3\xB6rld \xE2\x9C\x93 \xF0\x9F\x98\x80 \xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1";
    {
        X11Sink sink;
        InputInjector& injector = activeInjector(sink);
        ASSERT_TRUE(injector.apply(events(testing::text(text))).injected);
        EXPECT_EQ(client.typed(21), text);
        injector_.reset();
    }
    // The spare keycodes lent for the text have their empty mapping back.
    EXPECT_EQ(unmappedKeycodes(), unmappedBefore);
}

TEST_F(X11SinkTest, MoreDistinctCharactersThanSpareKeysStillArriveInOrder) {
    ClientWindow client;
    std::string text;
    for (char32_t c = 0x0410; c < 0x0410 + 48; ++c) {  // Cyrillic capitals
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector.apply(events(testing::text(text))).injected);
    EXPECT_EQ(client.typed(48), text);
}

// A character of the Basic Multilingual Plane beyond U+07FF in UTF-8.
std::string threeByteUtf8(char32_t c) {
    return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

// CJK ideographs, no two alike: far more than there are spare keycodes.
std::string distinctText(std::size_t characters) {
    std::string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + characters; ++c) text += threeByteUtf8(c);
    return text;
}

TEST_F(X11SinkTest, ALongDistinctTextArrivesInOrderAndTheKeymapComesBackWhileTheSinkLives) {
    const auto before = keymap();
    ClientWindow client;
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    const std::string text = distinctText(4096);
    constexpr std::size_t perEvent = 4095 / 3;  // whole characters within the event's byte limit
    for (std::size_t first = 0; first < text.size(); first += perEvent * 3)
        ASSERT_TRUE(injector.apply(events(testing::text(text.substr(first, perEvent * 3)))).injected);
    const auto seen = client.keys(4096 * 2, std::chrono::seconds(20));
    ASSERT_EQ(seen.size(), 4096u * 2);
    for (std::size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(seen[2 * i].keysym, 0x01004E00u + i) << "character " << i << " on keycode " << seen[2 * i].keycode;
    EXPECT_TRUE(keymapBecomes(before)) << "borrowed keycodes are given back once typing pauses";
    EXPECT_FALSE(anyKeyDown());
}

TEST_F(X11SinkTest, TheWorkersOwnKeysKeepTheirSymbolsRightAfterALongText) {
    const auto before = keymap();
    ClientWindow client;
    {
        X11Sink sink;
        InputInjector& injector = activeInjector(sink);
        constexpr std::size_t characters = 400;
        ASSERT_TRUE(injector.apply(events(testing::text(distinctText(characters)))).injected);
        const auto strokes = [&] {
            for (const std::uint32_t up : {0u, keyeventfKeyUp})
                ASSERT_TRUE(sink.inject(key(0, 0x1E, keyeventfScanCode | up)));
            for (const std::uint32_t up : {0u, keyeventfKeyUp}) ASSERT_TRUE(sink.inject(key(0x7C, 0, up)));  // F13
        };
        strokes();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the loans are given back meanwhile
        strokes();
        const auto seen = client.keys(characters * 2 + 8, std::chrono::seconds(10));
        ASSERT_EQ(seen.size(), characters * 2 + 8);
        for (std::size_t i = 0; i < characters; ++i)
            ASSERT_EQ(seen[2 * i].keysym, 0x01004E00u + i) << "character " << i;
        for (std::size_t i = characters * 2; i < seen.size(); i += 4) {
            EXPECT_EQ(seen[i].keysym, static_cast<KeySym>(XK_a));
            EXPECT_EQ(seen[i + 2].keysym, static_cast<KeySym>(XK_F13));
        }
        EXPECT_FALSE(anyKeyDown());
    }
    EXPECT_EQ(keymap(), before);
}

// Ideographs drawn from more than there are spare keycodes, many coming
// back soon: bindings the text is about to reuse must not be taken for others.
TEST_F(X11SinkTest, ATextRepeatingManyCharactersArrivesInOrder) {
    ClientWindow client;
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    constexpr std::size_t characters = 1365;
    std::string text;
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < characters; ++i) {
        state = state * 1103515245 + 12345;
        text += threeByteUtf8(0x4E00 + (state >> 16) % 300);
    }
    ASSERT_TRUE(injector.apply(events(testing::text(text))).injected);
    EXPECT_EQ(client.typed(characters, std::chrono::seconds(10)), text);
}

// Each keymap change makes every client reload its map, so a text's
// characters are bound a batch at a time rather than one by one. A batch
// takes one change for each run of adjacent keycodes, and the system keys
// that are never lent split the spares into short runs.
TEST_F(X11SinkTest, ALongTextChangesTheKeymapInBatches) {
    XkbIgnoreExtension(True);  // core MappingNotify events, as a core client gets them
    Display* watcher = XOpenDisplay(nullptr);
    ASSERT_NE(watcher, nullptr);
    ClientWindow client;
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    constexpr std::size_t characters = 400;
    ASSERT_TRUE(injector.apply(events(testing::text(distinctText(characters)))).injected);
    const auto seen = client.keys(characters * 2, std::chrono::seconds(10));
    ASSERT_EQ(seen.size(), characters * 2);
    for (std::size_t i = 0; i < characters; ++i) ASSERT_EQ(seen[2 * i].keysym, 0x01004E00u + i) << "character " << i;
    XSync(watcher, False);
    std::size_t changes = 0;
    while (XPending(watcher)) {
        XEvent event;
        XNextEvent(watcher, &event);
        changes += event.type == MappingNotify && event.xmapping.request == MappingKeyboard;
    }
    XCloseDisplay(watcher);
    EXPECT_LT(changes, characters / 3);
}

// Two workers on one display type at once: one steadily, a character every
// 15 ms (never pausing for reuseDelay) from a long text whose characters took
// every spare keycode at its first, the other a flood. Neither lends a keycode the other lends, the
// flood gets keycodes the steady one does not use, each text arrives whole
// and in order, and once both are done the keymap is as it was.
TEST_F(X11SinkTest, TwoSinksTypingAtOnceEachTypeTheirTextAndLeaveTheKeymapAsItWas) {
    const auto before = keymap();
    ClientWindow client;
    constexpr char16_t steadyFirst = 0x4E00;
    constexpr char16_t floodFirst = 0x6000;
    constexpr std::size_t floodCharacters = 600;
    std::atomic<std::size_t> steadyTyped{0};
    std::atomic<bool> floodDone{false};
    const auto type = [](X11Sink& sink, char16_t unit) {
        for (const std::uint32_t up : {0u, keyeventfKeyUp}) sink.inject(key(0, unit, keyeventfUnicode | up));
    };
    {
        X11Sink steady;
        X11Sink flood;
        std::jthread steadyTypist([&] {
            std::u16string units;
            for (char16_t c = steadyFirst; c < steadyFirst + 1000; ++c) units += c;
            steady.prepareText(units);
            for (; steadyTyped < 20 || !floodDone; ++steadyTyped) {
                type(steady, static_cast<char16_t>(steadyFirst + steadyTyped));
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
            }
        });
        while (steadyTyped < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::u16string units;
        for (std::size_t i = 0; i < floodCharacters; ++i) units += static_cast<char16_t>(floodFirst + i);
        flood.prepareText(units);
        for (const char16_t unit : units) type(flood, unit);
        floodDone = true;
    }
    const auto seen = client.keys(2 * (steadyTyped + floodCharacters), std::chrono::seconds(10));
    for (const auto& [first, characters] :
         {std::pair{steadyFirst, steadyTyped.load()}, {floodFirst, floodCharacters}}) {
        std::vector<KeySym> typed;
        for (const testing::KeySeen& event : seen)
            if (event.press && event.keysym >= 0x01000000u + first && event.keysym < 0x01000000u + first + 1000)
                typed.push_back(event.keysym);
        ASSERT_EQ(typed.size(), characters) << "text from U+" << std::hex << int{first};
        for (std::size_t i = 0; i < characters; ++i) ASSERT_EQ(typed[i], 0x01000000u + first + i) << "character " << i;
    }
    EXPECT_TRUE(keymapBecomes(before));
    EXPECT_FALSE(anyKeyDown());
}

// A hint is only a hint: records typed without one, or departing from it,
// still type what they say.
TEST_F(X11SinkTest, UnicodeRecordsTypeWhatTheySayWhateverTheHint) {
    ClientWindow client;
    X11Sink sink;
    const auto type = [&](std::u16string_view units) {
        for (const char16_t unit : units) {
            ASSERT_TRUE(sink.inject(key(0, unit, keyeventfUnicode)));
            ASSERT_TRUE(sink.inject(key(0, unit, keyeventfUnicode | keyeventfKeyUp)));
        }
    };
    type(u"\u00E9\u4E00");
    sink.prepareText(u"\u4E01\u4E02\u4E03");
    type(u"\u4E01\u4E05");
    sink.prepareText(u"\U0001F600\u4E10");
    type(u"\U0001F600\u4E10");
    sink.prepareText(u"xyz");
    type(u"\u4E20q");
    EXPECT_EQ(client.typed(8), "\xC3\xA9\xE4\xB8\x80\xE4\xB8\x81\xE4\xB8\x85\xF0\x9F\x98\x80\xE4\xB8\x90\xE4\xB8\xA0q");
}

TEST_F(X11SinkTest, WheelTurnsClickWholeNotchesAndKeepTheRest) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 300, 300)));  // over the client window
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, 180)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, 60)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, static_cast<std::uint32_t>(-250))));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfHWheel, 0, 0, 120)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfHWheel, 0, 0, static_cast<std::uint32_t>(-120))));
    EXPECT_EQ(client.buttons(6), (std::vector<unsigned int>{4, 4, 5, 5, 7, 6}));
}

TEST_F(X11SinkTest, HeldKeyAndButtonAreReleasedOnReset) {
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector.apply(events(testing::key(0, true))).injected);
    ASSERT_TRUE(injector.apply(events({{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}})).injected);
    const KeyCode a = XKeysymToKeycode(display(), XK_a);
    EXPECT_TRUE(keyIsDown(a));
    EXPECT_TRUE(buttonMask() & Button1Mask);
    injector.reset();
    EXPECT_FALSE(keyIsDown(a));
    EXPECT_FALSE(buttonMask() & Button1Mask);
}

TEST(X11Sink, AVanishedServerIsARefusedRecord) {
    auto server = VirtualDisplay::start(640, 480);
    if (!server) GTEST_SKIP() << "no Xvfb";
    const char* previous = std::getenv("DISPLAY");
    const std::string restore = previous ? previous : "";
    setenv("DISPLAY", server->name().c_str(), 1);
    X11Sink sink;
    EXPECT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 100, 100)));
    EXPECT_TRUE(sink.cursorPosition().has_value());
    server->kill();
    EXPECT_FALSE(sink.inject(mouseRecord(absoluteMoveFlags, 200, 200)));
    EXPECT_FALSE(sink.inject(keyboardRecord(0, 0x1E, keyeventfScanCode)));
    EXPECT_FALSE(sink.cursorPosition().has_value());
    if (previous)
        setenv("DISPLAY", restore.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

// Held down, each character keeps its keycode lent, until none is left.
TEST_F(X11SinkTest, SparesAreUnboundKeycodesFirstAndNeverTheSystemsKeys) {
    const auto keycodesOf = [this](std::initializer_list<KeySym> keysyms) {
        std::vector<std::vector<KeySym>> rows;
        for (const KeySym keysym : keysyms) {
            int perKeycode = 0;
            KeySym* row = XGetKeyboardMapping(display(), XKeysymToKeycode(display(), keysym), 1, &perKeycode);
            rows.emplace_back(row, row + perKeycode);
            XFree(row);
        }
        return rows;
    };
    const std::initializer_list<KeySym> systemKeys{XF86XK_PowerOff, XF86XK_AudioMute, XF86XK_AudioRaiseVolume,
                                                   XF86XK_MonBrightnessUp, XF86XK_Sleep};
    const auto systemBefore = keycodesOf(systemKeys);
    const int unmappedBefore = unmappedKeycodes();
    X11Sink sink;
    ASSERT_TRUE(sink.inject(key(0, 0x4E00, keyeventfUnicode)));
    EXPECT_EQ(unmappedKeycodes(), unmappedBefore - 1);
    char16_t unit = 0x4E01;
    while (sink.inject(key(0, unit, keyeventfUnicode))) ++unit;
    EXPECT_GT(unit - 0x4E00, 40) << "too few spare keycodes";
    EXPECT_EQ(keycodesOf(systemKeys), systemBefore);
    for (char16_t up = 0x4E00; up < unit; ++up) sink.inject(key(0, up, keyeventfUnicode | keyeventfKeyUp));
}

}  // namespace
}  // namespace native_worker
