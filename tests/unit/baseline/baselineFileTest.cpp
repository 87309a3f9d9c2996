#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "baseline/baselineFile.h"
#include "baseline/judgement.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class BaselineFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        f_folder =
            fs::temp_directory_path() /
            ("echoprobe-baseline-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(f_folder);
    }
    void TearDown() override { fs::remove_all(f_folder); }
    fs::path write(const std::string& name, const std::string& text) {
        std::ofstream(f_folder / name, std::ios::binary) << text;
        return f_folder / name;
    }
    fs::path f_folder;
};

const std::string runText = R"({"tool": {"name": "echoprobe"}, "driver": {"name": "Reference", "version": 3},
    "latency": {"measuredSamples": 600}, "verdict": "pass", "reasons": []})";

TEST_F(BaselineFileTest, FilesThatCannotBeUsedSayWhy) {
    EXPECT_EQ(baseline::readBaselineFile(f_folder / "missing.json").error, "cannot be read: it is no file");
    EXPECT_EQ(baseline::readBaselineFile(f_folder).error, "cannot be read: it is no file");
    EXPECT_EQ(baseline::readBaselineFile(write("cut.json", runText.substr(0, 40))).error, "is not JSON");
    EXPECT_EQ(baseline::readBaselineFile(write("other.json", R"({"name": "x"})")).error,
              "is not an echoprobe JSON document");
    const json newer = {{"tool", {{"name", "echoprobe"}}}, {"schemaVersion", 99}};
    EXPECT_EQ(baseline::readBaselineFile(write("newer.json", newer.dump())).error,
              "was written by a newer echoprobe (schema version 99; this one reads up to 2)");
}

TEST_F(BaselineFileTest, ARunJudgedAgainstItsBaseline) {
    const baseline::BaselineFile file = baseline::readBaselineFile(write("good.json", runText));
    ASSERT_EQ(file.error, "");
    EXPECT_TRUE(std::regex_match(file.date, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d UTC)"))) << file.date;

    json current = json::parse(runText);
    current["latency"]["measuredSamples"] = 632;
    current["driver"]["version"] = 4;
    const baseline::Judgement judged = baseline::judgeAgainst(file, "good.json", current);
    EXPECT_EQ(judged.error, "");
    ASSERT_EQ(judged.lines.size(), 5u);
    EXPECT_EQ(judged.lines[0], "Compared with baseline good.json of " + file.date);
    EXPECT_EQ(judged.lines[1], "  Baseline: Reference, version 3");
    EXPECT_EQ(judged.lines[2], "  This run: Reference, version 4");
    EXPECT_EQ(judged.lines[3], "  worse: round trip: 600 samples -> 632 samples");
    EXPECT_EQ(judged.lines[4], "  changed: driver version: 3 -> 4");
    EXPECT_EQ(judged.regressions,
              std::vector<std::string>{"regressed: round trip: 600 samples -> 632 samples"});
    EXPECT_EQ(judged.section["changes"][0]["worse"], true);
    EXPECT_TRUE(judged.section["changes"][1]["worse"].is_null());

    const baseline::Judgement same = baseline::judgeAgainst(file, "good.json", json::parse(runText));
    EXPECT_EQ(same.lines.back(), "  no change since the baseline");
    EXPECT_TRUE(same.regressions.empty());

    json otherDriver = json::parse(runText);
    otherDriver["driver"]["name"] = "Other";
    const baseline::Judgement refused = baseline::judgeAgainst(file, "good.json", otherDriver);
    EXPECT_EQ(refused.error, "The baseline good.json is of another driver (Reference; this run's is Other).");
    EXPECT_TRUE(refused.section.is_null());
}

} // namespace
