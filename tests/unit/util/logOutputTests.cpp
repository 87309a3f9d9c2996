#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "util/telUtils.h"

namespace {

class LogOutput : public testing::Test {
  protected:
    static inline std::vector<telText> lines;
    static inline uint32_t threadId = 0, heapBytes = 0, tick = 0;

    // The expected text with every "," inside a number replaced by the locale's separator.
    static telText grouped(telText text) {
        for (size_t i = 1; i + 1 < text.size(); ++i)
            if (text[i] == u',' && text[i - 1] >= u'0' && text[i - 1] <= u'9') text[i] = groupSeparator();
        return text;
    }

    void SetUp() override {
        tick = 1000, threadId = 0x1A2C, heapBytes = 12345;
        setTickSourceForTesting([] { return tick; });
        telUtilsStartup();
        setLogSourcesForTesting({[](bool) { return plat::CalendarTime{2030, 1, 4, 3, 9, 5, 3, 42}; },
                                 [] { return threadId; }, [] { return heapBytes; }});
        // The hook only, with bare lines.
        configureLog(
            u"<none>", [](const telText& line) { lines.push_back(line); }, 0, 0, 1, 0, 0, telFalse, 1);
        dateText(plat::CalendarTime{1999, 1, 0, 1, 0, 0, 0, 0}); // forget the last date printed
        lines.clear();
    }
    void TearDown() override {
        configureLog(u"<none>", nullptr, 1, 0, 1, 0, 0, telFalse, 1);
        setLogSourcesForTesting({});
        telUtilsShutdown();
        setTickSourceForTesting(nullptr);
    }
};

} // namespace

TEST_F(LogOutput, DecorationsAndElapsedTime) {
    EXPECT_EQ(printMessage(u"Hello", 2, -1, -1, 3, -1, 1), telTrue);
    printMessage(u"Hi", 2, -1, -1, 4, 1, 0);
    tick += 15;
    printMessage(u"A", 2, -1, -1, 5);
    tick += 1234567;
    printMessage(u"B", 2, -1, -1, 7);
    tick += 3;
    heapBytes = 1234567890, threadId = 0x123456;
    printMessage(u"C", 2, -1, -1, 2, 1, 1); // modes below 5 leave the mark alone
    tick += 4;
    printMessage(u"D", 2, -1, -1, 6);
    EXPECT_EQ(lines, (std::vector<telText>{
                         u"09:05:03.042 , [01A2C], Hello",
                         grouped(u"2030.01.03 09:05:03.042   , <12,345>, Hi"),
                         u"09:05:03.042 ,     15, A",
                         grouped(u" 09:05:03.042 ,  1,234,567, B"),
                         grouped(u" , <1,234,567,890>, [123456], C"),
                         u" 09:05:03.042 ,      7, D",
                     }));
}

TEST_F(LogOutput, KindMaskAndStoppedModule) {
    for (const int32_t kind : {-1, 0, 1, 3, 4})
        EXPECT_EQ(printMessage(u"in", kind), toTelBool(kind != 0 && kind != 4)) << kind;
    telUtilsStartup(); // counted: the matching shutdown does not stop the module
    telUtilsShutdown();
    EXPECT_TRUE(printMessage(u"still"));
    telUtilsShutdown();
    EXPECT_FALSE(printMessage(u"stopped"));
    EXPECT_EQ(lines, (std::vector<telText>{u"in", u"in", u"in", u"still"}));
    telUtilsStartup();
}

TEST_F(LogOutput, FileSinkAppendsToTheNolFile) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("telutils-" + std::to_string(plat::currentThreadId()));
    fs::create_directories(folder);
    const fs::path name = folder / "x.log";
    auto nolBytes = [&] {
        std::ifstream in(folder / "x.log.nol", std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    EXPECT_EQ(configureLog(name.u16string(), nullptr, 0, 1, 1, 0, 0, telTrue, 1), name.u16string());
    tick += 10;
    EXPECT_FALSE(printMessage(u"skip", 2, 0, 0, 5)); // no sink: nothing composed, the mark stays
    tick += 5;
    EXPECT_TRUE(printMessage(u"ab", 2, -1, -1, 5));
    std::string expected; // UTF-16 little-endian, no byte-order mark
    for (const char16_t unit : telText(u"09:05:03.042 ,     15, ab\r\n"))
        expected += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    EXPECT_EQ(nolBytes(), expected);

    EXPECT_EQ(configureLog(u"<>", messageHookUnchanged, -1, -1, 0, -1, -1, telFalse, -1), name.u16string());
    EXPECT_TRUE(printMessage(u"cd"));
    EXPECT_EQ(configureLog(u"  <None> ", messageHookUnchanged, -1, -1, 0, -1, -1, telFalse, -1), u"");
    EXPECT_FALSE(printMessage(u"gone"));
    EXPECT_EQ(nolBytes(), expected + "cd\r\n");
    EXPECT_TRUE(fs::exists(name) && fs::file_size(name) == 0);
    fs::remove_all(folder);
}

TEST_F(LogOutput, BlankLogNameMeansTheProgramPathWithLog) {
    const telText programLog = moduleNameWithExt(u"log");
    EXPECT_EQ(moduleNameWithExt(u"") + u".log", programLog);
    EXPECT_EQ(configureLog(u"   ", nullptr, 0, 0, 0, -1, -1, telFalse, -1), programLog);
    EXPECT_TRUE(fileExists(programLog));
    configureLog(u"<NONE>", nullptr, 0, 0, 0, -1, -1, telFalse, -1);
    std::filesystem::remove(std::filesystem::path(programLog));
}

#ifndef _WIN32
TEST_F(LogOutput, ConsoleLinesEndInCrLfExceptInMode2) {
    testing::internal::CaptureStdout();
    printMessage(u"one", 2, 1);
    printMessage(u"two", 2, 2);
    printMessage(u"", 2, 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "one\r\ntwo\r\n");
}
#endif
