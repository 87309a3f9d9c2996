// Files through the platform's handles. Opening existing files and appending at the end are
// also exercised through the log's file sink.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "platform/platform.h"

TEST(PlatformFiles, DispositionsPositionsNamesAndFolders) {
    namespace fs = std::filesystem;
    using plat::Disposition;
    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-platform-" + std::to_string(plat::currentThreadId()));
    fs::remove_all(folder); // what a failed run left
    fs::create_directories(folder);
    const std::u16string file = (folder / u"caf\u00e9.log").u16string();
    auto open = [&](Disposition disposition) { return plat::createFile(file, true, true, disposition, 0); };
    auto write = [](plat::Handle h, const std::string& text) {
        uint32_t written = 0;
        EXPECT_TRUE(plat::writeFile(h, text.data(), uint32_t(text.size()), written) &&
                    written == text.size());
    };
    auto contents = [&] {
        std::ifstream in(fs::path(file), std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    EXPECT_FALSE(plat::pathExists(file));
    EXPECT_EQ(open(Disposition::openExisting), plat::invalidHandle);
    EXPECT_EQ(open(Disposition::truncateExisting), plat::invalidHandle);
    const plat::Handle h =
        plat::createFile(file, false, true, Disposition::createNew, plat::fileAttributeNormal);
    ASSERT_NE(h, plat::invalidHandle);
    write(h, "abcdef");
    plat::setFilePointer(h, 2, plat::MoveMethod::begin);
    write(h, "XY");
    plat::setFilePointer(h, 0, plat::MoveMethod::end);
    write(h, "!");
    plat::setFilePointer(h, -2, plat::MoveMethod::current);
    write(h, "?");
    EXPECT_TRUE(plat::closeHandle(h));
    EXPECT_TRUE(plat::pathExists(file));
    EXPECT_EQ(contents(), "abXYe?!");
    // Creating it again must fail and leave the contents alone; truncating empties it.
    EXPECT_EQ(open(Disposition::createNew), plat::invalidHandle);
    EXPECT_EQ(contents(), "abXYe?!");
    EXPECT_TRUE(plat::closeHandle(open(Disposition::truncateExisting)));
    EXPECT_EQ(contents(), "");
    // A folder exists but is no file; the empty name and the invalid handle are nothing.
    EXPECT_TRUE(plat::pathExists(folder.u16string()));
    EXPECT_EQ(plat::createFile(folder.u16string(), true, false, Disposition::openExisting, 0),
              plat::invalidHandle);
    EXPECT_FALSE(plat::pathExists(u""));
    EXPECT_FALSE(plat::closeHandle(plat::invalidHandle));
    fs::remove_all(folder);
}
