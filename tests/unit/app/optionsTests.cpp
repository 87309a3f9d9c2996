// What the command line may ask: a switch that would do nothing in the run asked for,
// an unknown one beside the new switches, a check that does not exist and two outputs in
// one file are refused before anything runs; the original switches alone read as always.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

std::vector<telText> printed;
void collect(const telText& line) {
    printed.push_back(line);
}

class OptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        printed.clear();
        configureLog(u"<none>", collect, 0, -1, 0, -1, -1, telFalse, -1);
    }
    void TearDown() override {
        configureLog(u"<none>", nullptr, 1, -1, 0, -1, -1, telFalse, -1);
        setArgumentsForTesting({});
    }

    programOptions read(const std::vector<telText>& switches) {
        std::vector<telText> arguments{u"echoprobe"};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        setArgumentsForTesting(arguments);
        printed.clear();
        return readOptions();
    }
};

std::string shown(const std::vector<telText>& switches) {
    std::string text;
    for (const telText& one : switches)
        text += plat::toUtf8(one) + " ";
    return text;
}

bool anyLineHas(const std::vector<telText>& lines, const telText& part) {
    for (const telText& line : lines)
        if (line.find(part) != telText::npos) return true;
    return false;
}

} // namespace

TEST_F(OptionsTest, ASwitchThatWouldDoNothingInTheRunAskedForIsRefused) {
    struct Case {
        std::vector<telText> switches;
        bool refused;
    } cases[] = {
        // /check belongs to the suite; results and figures come from every judged run,
        // not from what /list and /probe find.
        {{u"/junit=a.xml"}, false},
        {{u"/conform", u"/junit=a.xml"}, false},
        {{u"/sweep", u"/metrics=a.prom", u"/junit=a.xml"}, false},
        {{u"/index=all", u"/seconds=2", u"/metrics=a.prom", u"/junit=a.xml"}, false},
        {{u"/index=all", u"/junit=a.xml"}, true},
        {{u"/list", u"/junit=a.xml"}, true},
        {{u"/probe", u"/metrics=a.prom"}, true},
        {{u"/metrics=a.prom", u"/metrics=b.prom"}, true},
        {{u"/check=figures"}, true},
        {{u"/conform", u"/check=figures"}, false},
        // A time limit and the choice of a process of its own need a watched process.
        {{u"/timeout=5"}, true},
        {{u"/isolate=no"}, true},
        {{u"/seconds=2", u"/timeout=5"}, false},
        {{u"/latency", u"/timeout=5"}, false},
        {{u"/seconds=2", u"/isolate=no"}, false},
        {{u"/sweep", u"/isolate=no"}, false},
        {{u"/conform", u"/timeout=5"}, false},
        {{u"/conform", u"/isolate=no", u"/timeout=5"}, true},
        {{u"/seconds=2", u"/isolate=no", u"/timeout=5"}, true},
        {{u"/stats", u"/isolate=no"}, true},
        {{u"/probe", u"/timeout=5"}, true},
        {{u"/list", u"/isolate=yes"}, true},
        {{u"/index=all", u"/seconds=2", u"/timeout=5"}, false},
        {{u"/index=all", u"/seconds=2", u"/isolate=no"}, true},
        // What a run of another kind would leave out.
        {{u"/conform", u"/seconds=2"}, true},
        {{u"/conform", u"/record=x.wav"}, true},
        {{u"/conform", u"/buffer=128"}, true},
        {{u"/conform", u"/list"}, true},
        {{u"/conform", u"/probe"}, true},
        {{u"/list", u"/probe"}, true},
        {{u"/list", u"/rate=48000"}, true},
        {{u"/list", u"/json=a.json"}, false},
        {{u"/probe", u"/latency"}, true},
        {{u"/probe", u"/stats"}, true},
        {{u"/probe", u"/buffer=128", u"/rate=48000"}, false},
        {{u"/sweep", u"/stats"}, true},
        {{u"/sweep", u"/latency", u"/buffer=128"}, false},
        {{u"/seconds=2", u"/stats", u"/latency", u"/record=x.wav"}, false},
        {{u"/index=all", u"/seconds=2", u"/list"}, true},
        // A switch that takes no value given one.
        {{u"/sweep=5"}, true},
        {{u"/list=yes"}, true},
        {{u"/sweep"}, false},
        // The control panel's check alone, skipped: nothing would be checked.
        {{u"/conform", u"/check=control-panel", u"/skipcp"}, true},
        {{u"/conform", u"/check=control-panel,figures", u"/skipcp"}, false},
        {{u"/conform", u"/check=control-panel"}, false},
        // The original switches go with everything.
        {{u"/conform", u"/nosine", u"/noloop", u"/skipcp", u"/index=1"}, false},
    };
    for (const Case& c : cases) {
        const programOptions options = read(c.switches);
        EXPECT_EQ(options.usageError, c.refused) << shown(c.switches);
        EXPECT_EQ(options.usageErrors.size() == 1, c.refused)
            << shown(c.switches) << "one line for one fault";
    }
    // A refused /junit or /metrics makes the exit status tell, as /json and /record do.
    EXPECT_TRUE(read({u"/list", u"/junit=a.xml"}).judged());
    EXPECT_TRUE(read({u"/probe", u"/metrics=a.prom"}).judged());
    // Either alone is a measured run.
    EXPECT_TRUE(read({u"/junit=a.xml"}).measures());
    EXPECT_TRUE(read({u"/metrics=a.prom"}).measures());
}

// /latency=all maps every output into every input; /wiring states the map expected and
// goes with it alone, read strictly, once.
TEST_F(OptionsTest, EveryChannelAndItsWiring) {
    const programOptions all = read({u"/latency=ALL", u"/seconds=2"});
    ASSERT_TRUE(all.latency);
    EXPECT_TRUE(all.latency->all);
    EXPECT_FALSE(all.wiring);
    EXPECT_FALSE(read({u"/latency=2,1"}).latency->all);

    const programOptions wired = read({u"/latency=all", u"/wiring=2:1, 1:2,3:3"});
    ASSERT_FALSE(wired.usageError);
    ASSERT_TRUE(wired.wiring);
    ASSERT_EQ(wired.wiring->size(), 3u);
    EXPECT_EQ((*wired.wiring)[0].output, 2);
    EXPECT_EQ((*wired.wiring)[0].input, 1);

    const struct {
        std::vector<telText> switches;
        telText line; // a part of the one line that refuses it
    } refused[] = {
        {{u"/wiring=1:2"}, u"/wiring states which output each input hears in /latency=all"},
        {{u"/latency=1,2", u"/wiring=1:2"}, u"/wiring states which output each input hears in /latency=all"},
        {{u"/latency=all", u"/wiring="}, u"/wiring needs pairs OUT:IN"},
        {{u"/latency=all", u"/wiring=1:2,x"}, u"\"x\" is no pair OUT:IN"},
        {{u"/latency=all", u"/wiring=1:0"}, u"\"1:0\" is no pair OUT:IN"},
        {{u"/latency=all", u"/wiring=1:2,3:2"}, u"input 2 is named twice"},
        {{u"/latency=all", u"/wiring=1:1", u"/wiring=2:2"}, u"/wiring is given more than once"},
        {{u"/latency=every"}, u"/latency needs an output and an input channel"},
    };
    for (const auto& c : refused) {
        const programOptions options = read(c.switches);
        ASSERT_EQ(options.usageErrors.size(), 1u) << shown(c.switches);
        EXPECT_NE(options.usageErrors[0].find(c.line), telText::npos)
            << shown(c.switches) << plat::toUtf8(options.usageErrors[0]);
    }
}

TEST_F(OptionsTest, AnUnknownSwitchBesideANewOneStopsTheRun) {
    const programOptions typo = read({u"/jsn=run.json", u"/seconds=2"});
    EXPECT_TRUE(typo.usageError);
    ASSERT_EQ(typo.usageErrors.size(), 1u);
    EXPECT_EQ(typo.usageErrors[0], u"unknown switch /jsn=run.json (did you mean /json?)");
    EXPECT_TRUE(typo.judged());

    const programOptions far = read({u"/conform", u"/frobnicate"});
    ASSERT_EQ(far.usageErrors.size(), 1u);
    EXPECT_EQ(far.usageErrors[0], u"unknown switch /frobnicate");

    // Beside the original switches alone it is a warning, as it always was.
    for (const std::vector<telText>& original :
         {std::vector<telText>{u"/foo"}, {u"/skipcp", u"/jsn=run.json"}, {u"/index=1", u"/nosine", u"/x"}}) {
        const programOptions options = read(original);
        EXPECT_FALSE(options.usageError) << shown(original);
        EXPECT_TRUE(printed.empty()) << shown(original);
    }
}

TEST_F(OptionsTest, AWrongCheckIdIsNamedWithTheIdsThereAre) {
    const programOptions options = read({u"/conform", u"/check=figures,nope,start-stop,bad"});
    EXPECT_TRUE(options.usageError);
    EXPECT_TRUE(options.checks.empty());
    ASSERT_EQ(options.usageErrors.size(), 1u);
    const telText& line = options.usageErrors[0];
    EXPECT_NE(line.find(u"\"nope\", \"bad\""), telText::npos) << plat::toUtf8(line);
    EXPECT_EQ(line.find(u"\"figures\""), telText::npos) << plat::toUtf8(line);
    for (const char16_t* id : {u"create-release", u"switch-sequence", u"control-panel"})
        EXPECT_NE(line.find(id), telText::npos) << plat::toUtf8(line);

    const programOptions good = read({u"/conform", u"/check=figures,start-stop"});
    EXPECT_FALSE(good.usageError);
    EXPECT_EQ(good.checks, (std::vector<std::string>{"figures", "start-stop"}));
}

TEST_F(OptionsTest, TwoOutputsInOneFileAreRefused) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-outputs-" + std::to_string(plat::currentThreadId()));
    fs::remove_all(folder);
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "old.json") << "{}";
    auto at = [&](const fs::path& path) { return path.u16string(); };
    struct Case {
        std::vector<telText> switches;
        bool refused;
    } cases[] = {
        {{u"/seconds=1", u"/json=" + at(folder / "run.json"), u"/html=" + at(folder / "run.json")}, true},
        {{u"/seconds=1", u"/json=" + at(folder / "old.json"),
          u"/record=" + at(folder / "sub" / ".." / "old.json")},
         true},
        {{u"/seconds=1", u"/json=" + at(folder / "run.json"), u"/html=" + at(folder / "run.json.partial")},
         true},
        {{u"/seconds=1", u"/record=" + at(folder / "run.json.partial"), u"/json=" + at(folder / "run.json")},
         true},
        {{u"/conform", u"/junit=" + at(folder / "run.json"), u"/json=" + at(folder / "." / "run.json")},
         true},
        {{u"/seconds=1", u"/metrics=" + at(folder / "run.prom"), u"/junit=" + at(folder / "run.prom")}, true},
        {{u"/seconds=1", u"/json=" + at(folder / "run.json"), u"/html=" + at(folder / "run.html"),
          u"/record=" + at(folder / "run.wav")},
         false},
        {{u"/seconds=1", u"/json=" + at(folder / "run.json"), u"/html=" + at(folder / "sub" / "run.json")},
         false},
    };
    for (const Case& c : cases) {
        const programOptions options = read(c.switches);
        EXPECT_EQ(options.usageError, c.refused) << shown(c.switches);
        EXPECT_EQ(anyLineHas(options.usageErrors, u"give each output a file of its own"), c.refused)
            << shown(c.switches);
    }
    fs::remove_all(folder);
}
