// The POSIX stand-in registry: its file parser, and the read rules of the Windows calls.
#if !defined(_WIN32)

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/regFile.h"
#include "platform/registryTesting.h"

using plat::regfile::parseRegistryText;

static std::string textAt(const plat::regfile::ParseResult& parsed, const char* path, const char* name) {
    const plat::regfile::Key* key = parsed.localMachine.find(path);
    if (key == nullptr || !key->values.count(name)) return "<missing>";
    const plat::regfile::Value& value = key->values.at(name);
    return value.isDword ? "dword " + std::to_string(value.dword) : value.text;
}

TEST(RegistryFile, ReadsBothEncodingsEscapesAndBothClassesRootSpellings) {
    const std::u16string content = u"Windows Registry Editor Version 5.00\r\n\r\n; comment\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Caf\u00e9]\r\n"
                                   u"\"Description\"=\"The \\\"best\\\" C:\\\\drv\"\r\n"
                                   u"  \"Count\" = dword:0000002a  \r\n@=\"default\"\r\n"
                                   u"[HKCR\\CLSID\\{A}\\InprocServer32]\r\n@=\"/opt/a.so\"\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\clsid\\{a}\\inprocserver32]\r\n"
                                   u"\"ThreadingModel\"=\"Both\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : content)
        utf16 += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    for (const std::string& bytes : {"\xEF\xBB\xBF" + plat::regfile::utf8FromUtf16(content), utf16}) {
        auto parsed = parseRegistryText(bytes);
        ASSERT_EQ(parsed.error, "");
        const char* driver = "software\\asio\\caf\xC3\xA9";
        EXPECT_EQ(textAt(parsed, driver, "description"), "The \"best\" C:\\drv");
        EXPECT_EQ(textAt(parsed, driver, "COUNT"), "dword 42");
        EXPECT_EQ(textAt(parsed, driver, ""), "default");
        const char* server = "Software\\Classes\\CLSID\\{A}\\InprocServer32";
        EXPECT_EQ(textAt(parsed, server, ""), "/opt/a.so");
        EXPECT_EQ(textAt(parsed, server, "threadingmodel"), "Both");
    }
}

TEST(RegistryFile, NamesTheLineAndTheFaultOfAMalformedFile) {
    const struct {
        const char* text;
        int line;
        const char* error;
    } cases[] = {
        {"", 1, "expected REGEDIT4 or Windows Registry Editor Version 5.00"},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2, "value outside a key section"},
        {"REGEDIT4\r\n[HKLM\\a]\r\n\r\nname=\"b\"\r\n", 4, "expected \"name\"=value or [key]"},
        {"REGEDIT4\n[HKLM\\a]\n\"name\"=b\n", 3, "expected \"name\"=value"},
        {"REGEDIT4\n[HKLM\\a]\n\"name\"=\"b\n", 3, "text without its closing \""},
        {"REGEDIT4\n[HKLM\\a]\n\"name\"=\"C:\\dir\"\n", 3, "unknown escape \\d in text"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=dword:123456789\n", 3, "dword: needs 1 to 8 hexadecimal digits"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex:01\n", 3,
         "unsupported value type \"hex:\" (only text and dword: are read)"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\a]\n", 2, "unknown root key \"HKEY_CURRENT_USER\""},
        {"REGEDIT4\n[HKLM\\a\\\\b]\n", 2, "empty key name in the path"},
        {"REGEDIT4\n[-HKLM\\a]\n", 2, "key deletions are not supported"},
        {"\xFF\xFE\x52", 0, "UTF-16 text with an odd number of bytes"},
    };
    for (const auto& c : cases) {
        auto parsed = parseRegistryText(c.text);
        EXPECT_EQ(parsed.errorLine, c.line) << c.text;
        EXPECT_EQ(parsed.error, c.error) << c.text;
    }
}

// Paths, sizes and codes are also exercised through the driver list; these are the
// rules it does not reach.
TEST(RegistryStandIn, EnumeratesSortedAndReportsValueSizesAsWindowsDoes) {
    ASSERT_EQ(plat::testing::loadRegistryText(
                  "REGEDIT4\n[HKLM\\SOFTWARE\\ASIO\\gamma]\n[HKLM\\SOFTWARE\\ASIO\\_under]\n"
                  "[HKLM\\SOFTWARE\\ASIO\\Alpha]\n\"Text\"=\"abc\"\n\"Number\"=dword:0102a0b0\n",
                  "fixture"),
              "");
    plat::RegKey asio = 0, alpha = 0;
    ASSERT_EQ(plat::regOpenKeyW(plat::regLocalMachine(), u"software\\asio", asio), plat::errorSuccess);
    char name[128];
    std::vector<std::string> names;
    for (uint32_t i = 0; plat::regEnumKeyA(asio, i, name, sizeof name) == plat::errorSuccess; ++i)
        names.push_back(name);
    // Names compare in upper case, as in the Windows registry, so "_" follows the letters.
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "gamma", "_under"}));
    EXPECT_EQ(plat::regEnumKeyA(asio, 3, name, sizeof name), plat::errorNoMoreItems);

    ASSERT_EQ(plat::regOpenKeyExA(asio, "ALPHA", alpha), plat::errorSuccess);
    uint8_t buffer[8] = {};
    uint32_t size = 3;
    EXPECT_EQ(plat::regQueryValueExA(alpha, "text", buffer, size), plat::errorMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(plat::regQueryValueExA(alpha, "text", buffer, size), plat::errorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("abc", 4));
    size = sizeof buffer;
    EXPECT_EQ(plat::regQueryValueExA(alpha, "number", buffer, size), plat::errorSuccess);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0] | buffer[1] << 8 | buffer[2] << 16 | buffer[3] << 24, 0x0102a0b0);

    EXPECT_EQ(plat::regCloseKey(alpha), plat::errorSuccess);
    EXPECT_EQ(plat::regCloseKey(asio), plat::errorSuccess);
    EXPECT_EQ(plat::regEnumKeyA(asio, 0, name, sizeof name), 6) << "a closed handle is invalid";
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

// The first registry call of a process loads ASIO_REGISTRY, so the check runs in a fresh
// process. That process runs the test body again: the parent writes the file once and
// hands its path down in the environment.
TEST(RegistryEnvironment, ABadFileGivesOneLineOnStandardErrorAndAnEmptyRegistry) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* inherited = std::getenv("ECHOPROBE_TEST_REGISTRY_FILE");
    std::string path = inherited != nullptr ? inherited : "/tmp/echoprobe-registry-XXXXXX";
    if (inherited == nullptr) {
        close(mkstemp(path.data()));
        std::ofstream(path) << "REGEDIT4\n[HKLM\\Software\\ASIO\\Drv]\n\"a\"=hex:00\n";
        setenv("ECHOPROBE_TEST_REGISTRY_FILE", path.c_str(), 1);
    }
    auto openDriverKey = [&path] {
        setenv("ASIO_REGISTRY", path.c_str(), 1);
        plat::RegKey key = 0;
        std::exit(plat::regOpenKeyA(plat::regLocalMachine(), "software\\asio\\drv", key));
    };
    EXPECT_EXIT(openDriverKey(), ::testing::ExitedWithCode(plat::errorFileNotFound),
                "^echoprobe: registry file " + path + ", line 3: unsupported value type \"hex:\"[^\n]*\n$");
    unsetenv("ECHOPROBE_TEST_REGISTRY_FILE");
    std::remove(path.c_str());
}

#endif
