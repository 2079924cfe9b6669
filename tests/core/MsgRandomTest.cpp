#include "core/MsgRandom.h"
#include "platform/Errors.h"
#include "platform/Random.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <map>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

// Hands out the scripted draws in turn and counts what the picker asks of it.
struct ScriptedRandom : RandomGenerator {
    void Randomize() override { ++Seeds; }
    std::int32_t Random(std::int32_t n) override {
        Ranges.push_back(n);
        return Draws.empty() ? 0 : Draws[(Ranges.size() - 1) % Draws.size()];
    }
    std::vector<std::int32_t> Draws;
    std::vector<std::int32_t> Ranges;
    int Seeds = 0;
};

class ProgramRandomGuard {
public:
    explicit ProgramRandomGuard(std::unique_ptr<RandomGenerator> generator)
        : Previous(ReplaceProgramRandom(std::move(generator))) {}
    ~ProgramRandomGuard() { ReplaceProgramRandom(std::move(Previous)); }

private:
    std::unique_ptr<RandomGenerator> Previous;
};

std::string Selects(const TempDir& dir, const std::string& content) {
    PutFile(dir / "Message Selects.dat", content);
    return dir / "Message Selects.dat";
}

} // namespace

TEST(MsgRandom, NothingToPickGivesTheNoMessagesText) {
    TempDir dir;
    std::string text = "old";
    EXPECT_FALSE(PickMessage(dir / "missing.dat", {}, text));
    EXPECT_EQ(text, NoMessagesText);
    EXPECT_FALSE(PickMessage(Selects(dir, "EN|2|5|Tasks only\r\nEN|2|6|More\r\n"), {1, 3}, text));
    EXPECT_EQ(text, "There are no messages defined");
    EXPECT_FALSE(PickMessage(Selects(dir, "EN|1|5\r\n\r\n"), {}, text));
    EXPECT_EQ(text, NoMessagesText);
}

TEST(MsgRandom, EachEntryLineIsOneCandidateInFileOrder) {
    auto owned = std::make_unique<ScriptedRandom>();
    ScriptedRandom* scripted = owned.get();
    scripted->Draws = {0, 1, 2, 3};
    ProgramRandomGuard guard(std::move(owned));
    TempDir dir;
    std::string path = Selects(dir, "EN|1|1|A\r\nEN|1|2\r\nDE|4|-1|B\r\nEN|3|3|C\r\nEN|2|4|D\r\n");
    std::vector<std::string> picked;
    std::string text;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(PickMessage(path, {}, text)); // no groups: all of them
        picked.push_back(text);
    }
    EXPECT_EQ(picked, (std::vector<std::string>{"A", "B", "C", "D"}));
    ASSERT_TRUE(PickMessage(path, {4, 3}, text));
    EXPECT_EQ(text, "B");
    TRandomizer::RandomItem({{"x", 1}, {"y", 2}}, text); // the next draw is 1
    EXPECT_EQ(text, "y");
    EXPECT_EQ(scripted->Ranges, (std::vector<std::int32_t>{4, 4, 4, 4, 2, 2}));
    EXPECT_EQ(scripted->Seeds, 0); // the picker never reseeds
}

TEST(MsgRandom, OneEntryComesEveryTimeAndDuplicatesWeighTwice) {
    TempDir dir;
    std::string text;
    std::string single = Selects(dir, "EN|1|7|Only me\r\n");
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(PickMessage(single, {1}, text));
        ASSERT_EQ(text, "Only me");
    }
    // Real generator: 6000 draws over A, B, B; a 1/3 share has a spread of about 37.
    std::string path = Selects(dir, "EN|1|1|A\r\nEN|1|2|B\r\nEN|2|2|B\r\nEN|3|3|C\r\n");
    std::map<std::string, int> counts;
    for (int i = 0; i < 6000; ++i) {
        ASSERT_TRUE(PickMessage(path, {1, 2}, text));
        ++counts[text];
    }
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_NEAR(counts["A"], 2000, 300);
    EXPECT_NEAR(counts["B"], 4000, 300);
}

TEST(MsgRandom, UnreadableLinesAreSkippedAndTheDrawIsOverTheReadableOnes) {
    auto owned = std::make_unique<ScriptedRandom>();
    ScriptedRandom* scripted = owned.get();
    scripted->Draws = {0, 1};
    ProgramRandomGuard guard(std::move(owned));
    TempDir dir;
    const std::string content = "EN|1|1|A\r\nEN|x|2|B\r\nEN|1|x|D\r\nEN|1|3|C\r\n";
    std::string path = Selects(dir, content);
    std::string text;
    TPickReport report;
    ASSERT_TRUE(PickMessage(path, {}, text, &report));
    EXPECT_EQ(text, "A");
    ASSERT_TRUE(PickMessage(path, {1}, text));
    EXPECT_EQ(text, "C");
    EXPECT_EQ(scripted->Ranges, (std::vector<std::int32_t>{2, 2}));
    EXPECT_EQ(pellora::test::GetFile(path), content);

    const std::string bad = "'x' is not a valid integer value";
    EXPECT_EQ(report, (TPickReport{path, {{2, bad}, {3, bad}}}));
    EXPECT_EQ(report.Text(), "Lines 2 and 3 of \"" + path +
                                 "\" could not be read and were skipped (line 2: " + bad + ")");
    // Nothing readable at all: nothing to pick, and still said why.
    std::string only = Selects(dir, "\r\nEN|1|x|D\r\n");
    EXPECT_FALSE(PickMessage(only, {}, text, &report));
    EXPECT_EQ(text, NoMessagesText);
    EXPECT_EQ(report.Text(),
              "Line 2 of \"" + only + "\" could not be read and was skipped: " + bad);
    // A clean file reports nothing, and neither does a missing one.
    ASSERT_TRUE(PickMessage(Selects(dir, "EN|1|1|A\r\n"), {}, text, &report));
    EXPECT_TRUE(report.Skipped.empty());
    EXPECT_EQ(report.Text(), "");
    EXPECT_FALSE(PickMessage(dir / "none.dat", {}, text, &report));
    EXPECT_TRUE(report.Skipped.empty());
}
