#include "input_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace native_worker {
namespace {

using namespace kelvarn::input;

// Remembers each hint with the number of records delivered before it.
class HintedSink final : public Sink {
public:
    bool inject(const InputRecord& record) override {
        records.push_back(record);
        return true;
    }
    std::optional<Point> cursorPosition() override { return Point{0, 0}; }
    void prepareText(std::u16string_view units) override { hints.push_back({std::u16string(units), records.size()}); }

    struct Hint {
        std::u16string units;
        std::size_t recordsBefore;
    };
    std::vector<Hint> hints;
    std::vector<InputRecord> records;
};

class TextHint : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            injector.activate(testing::testEpoch, testing::display1080(), testing::desktop1080(), testing::openGate));
    }

    HintedSink sink;
    InputInjector injector{testing::testIdentity(), sink};
    testing::EventTexts events;
};

TEST_F(TextHint, TheWholeTextIsAnnouncedBeforeItsFirstStroke) {
    ASSERT_TRUE(injector.apply(events(testing::text("a\xC3\xA9\xF0\x9F\x98\x80"))).injected);
    ASSERT_EQ(sink.hints.size(), 1u);
    EXPECT_EQ(sink.hints[0].units, u"a\u00E9\U0001F600");
    EXPECT_EQ(sink.hints[0].recordsBefore, 0u);
    EXPECT_EQ(sink.records.size(), 8u);  // four units, each pressed and released
}

}  // namespace
}  // namespace native_worker
