// What the platform reports about the running process.
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

TEST(PlatformProcess, ModulePathAndFirstArgumentNameThisProgram) {
    const std::u16string path = plat::modulePath();
    EXPECT_TRUE(fs::path(path).is_absolute());
    EXPECT_TRUE(plat::pathExists(path));
    EXPECT_EQ(fs::path(path).stem().u16string(), u"platform_tests");
    const std::vector<std::u16string> args = plat::arguments();
    ASSERT_FALSE(args.empty());
    EXPECT_EQ(fs::path(args[0]).stem().u16string(), u"platform_tests");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// (The sanitizers replace the heap, which the figure does not see.)
TEST(PlatformProcess, HeapFigureGrowsWithAHeldBlock) {
    const uint32_t before = plat::heapBytesInUse();
    constexpr size_t size = 8u << 20;
    auto block = std::make_unique<char[]>(size); // zero-filled, so every page is touched
    EXPECT_GE(plat::heapBytesInUse() - before, size / 2);
    EXPECT_EQ(block[size - 1], 0);
}
#endif

#ifdef _WIN32
TEST(PlatformProcess, VersionAndSeparatorAreAnswered) {
    uint32_t major = 0;
    EXPECT_TRUE(plat::osMajorVersion(major));
    EXPECT_GE(major, 5u);
    char16_t separator = 0;
    EXPECT_TRUE(plat::thousandsSeparator(separator));
    EXPECT_NE(separator, 0);
}
#endif

} // namespace
