// Files through the platform's handles: dispositions, positioning and writing.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using plat::Disposition;

class PlatformFiles : public testing::Test {
  protected:
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }

    std::u16string name(const fs::path& leaf) const { return (folder / leaf).u16string(); }
    std::string contents(const char* leaf) const {
        std::ifstream in(folder / leaf, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static bool write(plat::Handle h, const std::string& text) {
        uint32_t written = 0;
        return plat::writeFile(h, text.data(), uint32_t(text.size()), written) && written == text.size();
    }

    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-platform-" + std::to_string(plat::currentThreadId()));
};

TEST_F(PlatformFiles, DispositionsFollowWhetherTheFileExists) {
    const std::u16string file = name("log.txt");
    EXPECT_FALSE(plat::pathExists(file));
    EXPECT_EQ(plat::createFile(file, true, true, Disposition::openExisting, 0), plat::invalidHandle);

    plat::Handle h = plat::createFile(file, true, true, Disposition::createNew, plat::fileAttributeNormal);
    ASSERT_NE(h, plat::invalidHandle);
    EXPECT_TRUE(write(h, "first"));
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_TRUE(plat::pathExists(file));

    // Creating it again must fail and leave the contents alone; truncating empties it.
    EXPECT_EQ(plat::createFile(file, true, true, Disposition::createNew, 0), plat::invalidHandle);
    EXPECT_EQ(contents("log.txt"), "first");
    h = plat::createFile(file, true, true, Disposition::truncateExisting, 0);
    ASSERT_NE(h, plat::invalidHandle);
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_EQ(contents("log.txt"), "");
}

TEST_F(PlatformFiles, WritesGoWhereTheFilePointerIs) {
    const std::u16string file = name("data.bin");
    plat::Handle h = plat::createFile(file, false, true, Disposition::createNew, plat::fileAttributeNormal);
    ASSERT_NE(h, plat::invalidHandle);
    EXPECT_TRUE(write(h, "abcdef"));
    plat::setFilePointer(h, 2, plat::MoveMethod::begin);
    EXPECT_TRUE(write(h, "XY"));
    plat::setFilePointer(h, 0, plat::MoveMethod::end);
    EXPECT_TRUE(write(h, "!"));
    plat::setFilePointer(h, -2, plat::MoveMethod::current);
    EXPECT_TRUE(write(h, "?"));
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_EQ(contents("data.bin"), "abXYe?!");

    h = plat::createFile(file, true, true, Disposition::openExisting, 0); // reopen and append
    plat::setFilePointer(h, 0, plat::MoveMethod::end);
    EXPECT_TRUE(write(h, "+"));
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_EQ(contents("data.bin"), "abXYe?!+");
}

TEST_F(PlatformFiles, NamesFoldersAndMissingHandles) {
    const fs::path leaf(u"caf\u00e9.log");
    plat::Handle h = plat::createFile(name(leaf), false, true, Disposition::createNew, 0);
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_TRUE(fs::exists(folder / leaf));

    EXPECT_TRUE(plat::pathExists(folder.u16string()));
    EXPECT_FALSE(plat::pathExists(u""));
    EXPECT_EQ(plat::createFile(folder.u16string(), true, false, Disposition::openExisting, 0),
              plat::invalidHandle);
    EXPECT_FALSE(plat::closeHandle(plat::invalidHandle));
}

} // namespace
