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

// Two names meet exactly when they are one file: through another spelling, a relative
// and an absolute path, a hard or symbolic link (where the system lets the test make
// one), or, for a file yet to be made, the same name in the same folder.
TEST(PlatformFiles, IdentityTellsOneFileFromAnother) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-identity-" + std::to_string(plat::currentThreadId()));
    fs::remove_all(folder);
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "report.json") << "{}";
    std::ofstream(folder / "other.json") << "{}";
    auto id = [](const fs::path& path) { return plat::fileIdentity(path.u16string()); };
    const fs::path report = folder / "report.json";

    EXPECT_EQ(id(report), id(folder / "." / "report.json"));
    EXPECT_EQ(id(report), id(folder / "sub" / ".." / "report.json"));
    EXPECT_NE(id(report), id(folder / "other.json"));
    EXPECT_NE(id(report), id(folder / "sub" / "report.json"));
    EXPECT_NE(id(report), id(folder / "report.json.partial"));
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(id(report), id("report.json"));
    EXPECT_EQ(id(folder / "new.html"), id("new.html")); // not yet made
    fs::current_path(before);
    EXPECT_EQ(id(folder / "new.html"), id(folder / "sub" / ".." / "new.html"));
    EXPECT_NE(id(folder / "new.html"), id(folder / "new.json"));

    std::error_code refused;
    fs::create_hard_link(report, folder / "hard.json", refused);
    if (!refused) {
        EXPECT_EQ(id(report), id(folder / "hard.json"));
    }
    fs::create_symlink(report, folder / "soft.json", refused);
    if (!refused) {
        EXPECT_EQ(id(report), id(folder / "soft.json"));
    }
#ifdef _WIN32
    // Windows compares names without regard to case, made or not.
    EXPECT_EQ(id(report), id(folder / "REPORT.JSON"));
    EXPECT_EQ(id(folder / "new.html"), id(folder / "NEW.HTML"));
#else
    EXPECT_NE(id(folder / "new.html"), id(folder / "NEW.HTML"));
#endif
    fs::remove_all(folder);
}

// A module named by its path is found there or nowhere; a bare name is looked up where
// the loader looks, and a name found nowhere is nowhere.
TEST(PlatformFiles, ModulesAreFoundWhereTheLoaderLooks) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-modules-" + std::to_string(plat::currentThreadId()));
    fs::create_directories(folder);
    std::ofstream(folder / "driver.dll") << "MZ";
    EXPECT_EQ(plat::findModule((folder / "driver.dll").u16string()), (folder / "driver.dll").u16string());
    EXPECT_EQ(plat::findModule((folder / "missing.dll").u16string()), u"");
    EXPECT_EQ(plat::findModule(u"echoprobe-no-such-module-anywhere.dll"), u"");
    EXPECT_EQ(plat::findModule(u""), u"");
#ifdef _WIN32
    // The system folder is searched: every Windows has its kernel there.
    const std::u16string kernel = plat::findModule(u"kernel32.dll");
    EXPECT_FALSE(kernel.empty());
    EXPECT_NE(kernel, u"kernel32.dll");
#else
    // The C library is in one of the loader's folders.
    const std::u16string library = plat::findModule(u"libc.so.6");
    EXPECT_FALSE(library.empty());
    EXPECT_NE(library.find(u'/'), std::u16string::npos);
#endif
    fs::remove_all(folder);
}
