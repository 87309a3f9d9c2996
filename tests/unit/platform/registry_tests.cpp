// The POSIX stand-in registry: its file parser, and the read rules of the Windows calls.
#if !defined(_WIN32)

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/regFile.h"
#include "platform/registryTesting.h"

using namespace std::string_literals;
using plat::regfile::Hive;
using plat::regfile::parseRegistryText;

// A value as "<type>:<bytes>", or "<missing>" when its key or the value is not there.
static std::string valueAt(const plat::regfile::ParseResult& parsed, const char* path, const char* name,
                           Hive hive = Hive::localMachine) {
    const plat::regfile::KeyStore& store = parsed.store;
    plat::regfile::KeyId key = store.find(store.root(hive), path);
    const plat::regfile::Value* value = key == plat::regfile::noKey ? nullptr : store.value(key, name);
    return value == nullptr ? "<missing>" : std::to_string(value->type) + ":" + value->data;
}

static std::string textAt(const plat::regfile::ParseResult& parsed, const char* path, const char* name) {
    std::string value = valueAt(parsed, path, name);
    if (value.rfind("1:", 0) == 0 && value.back() == '\0') return value.substr(2, value.size() - 3);
    return value.rfind("4:", 0) == 0
               ? "dword " + std::to_string(uint8_t(value[2]) | uint8_t(value[3]) << 8 |
                                           uint8_t(value[4]) << 16 | uint8_t(value[5]) << 24)
               : value;
}

static std::string utf16File(const std::u16string& content) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : content)
        bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

TEST(RegistryFile, ReadsBothEncodingsEscapesAndBothClassesRootSpellings) {
    const std::u16string content = u"Windows Registry Editor Version 5.00\r\n\r\n; comment\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Caf\u00e9]\r\n"
                                   u"\"Description\"=\"The \\\"best\\\" C:\\\\drv\"\r\n"
                                   u"  \"Count\" = dword:0000002a  \r\n@=\"default\"\r\n"
                                   u"[HKCR\\CLSID\\{A}\\InprocServer32]\r\n@=\"/opt/a.so\"\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\clsid\\{a}\\inprocserver32]\r\n"
                                   u"\"ThreadingModel\"=\"Both\"\r\n";
    for (const std::string& bytes :
         {"\xEF\xBB\xBF" + plat::regfile::utf8FromUtf16(content), utf16File(content)}) {
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

// Every kind the registry editor writes, with the bytes a real registry hands to an
// 8-bit query: text kinds of a version 5.00 file are UTF-16 in the file and 8-bit here.
TEST(RegistryFile, KeepsEveryValueKindWithTheBytesOfItsType) {
    const struct {
        const char* line; // the value "v" as written
        bool unicodeFile;
        std::string expected; // "<type>:<bytes>"
    } cases[] = {
        {"\"v\"=\"abc\"", false, "1:abc\0"s},
        {"\"v\"=dword:0102a0b0", false, "4:\xb0\xa0\x02\x01"s},
        {"\"v\"=DWORD:7", true, "4:\x07\0\0\0"s},
        {"\"v\"=hex:de,ad, BE ,ef", false, "3:\xde\xad\xbe\xef"s},
        {"\"v\"=hex:de,ad,\\\n  be,ef,\\\n  01", false, "3:\xde\xad\xbe\xef\x01"s},
        {"\"v\"=hex:", false, "3:"s},
        {"\"v\"=hex(0):", true, "0:"s},
        {"\"v\"=hex(b):01,02,03,04,05,06,07,08", true, "11:\x01\x02\x03\x04\x05\x06\x07\x08"s},
        {"\"v\"=hex(4):2a,00,00,00", true, "4:*\0\0\0"s},
        {"\"v\"=hex(ffff):01,", false, "65535:\x01"s},
        {"\"v\"=hex(2):25,50,00", false, "2:%P\0"s},
        {"\"v\"=hex(2):25,00,50,00,00,00", true, "2:%P\0"s},
        {"\"v\"=hex(1):e9,00,00,00", true, "1:\xc3\xa9\0"s},
        {"\"v\"=hex(7):61,00,00,00,62,00,\\\n  00,00,00,00", true, "7:a\0b\0\0"s},
        {"\"v\"=hex(7):61,00,62,00,00", false, "7:a\0b\0\0"s},
        {"\"v\"=hex(3):61,00", true, "3:a\0"s},
    };
    for (const auto& c : cases) {
        std::string text = c.unicodeFile ? "Windows Registry Editor Version 5.00" : "REGEDIT4";
        text += "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kinds]\r\n"s + c.line + "\r\n\"after\"=\"x\"\r\n";
        auto parsed = parseRegistryText(text);
        ASSERT_EQ(parsed.error, "") << c.line;
        EXPECT_EQ(valueAt(parsed, "SOFTWARE\\Kinds", "v"), c.expected) << c.line;
        EXPECT_EQ(textAt(parsed, "SOFTWARE\\Kinds", "after"), "x") << "the line after " << c.line;
    }
}

TEST(RegistryFile, DeletesKeysWithTheirSubkeysAndValuesAndKeepsOtherHivesApart) {
    auto parsed = parseRegistryText("REGEDIT4\n[HKCR\\.x]\n"
                                    "[HKLM\\SOFTWARE\\Gone\\Child\\Grandchild]\n\"v\"=\"1\"\n"
                                    "[HKLM\\SOFTWARE\\Kept]\n\"keep\"=\"1\"\n\"drop\"=\"1\"\n@=\"d\"\n"
                                    "[HKLM\\software\\kept]\n\"DROP\"=-\n@=-\n\"never\"=-\n"
                                    "[-HKLM\\SOFTWARE\\Gone]\n\"ignored\"=\"after a deletion\"\n"
                                    "[HKLM\\SOFTWARE\\Gone\\Child]\n"
                                    "[-HKLM\\SOFTWARE\\Never\\There]\n[-HKEY_LOCAL_MACHINE]\n[-HKCR]\n"
                                    "[HKEY_CURRENT_USER\\Software\\ASIO\\Hidden]\n\"CLSID\"=\"{x}\"\n"
                                    "[HKEY_USERS\\.DEFAULT\\Software]\n[HKEY_CURRENT_CONFIG\\Software]\n");
    ASSERT_EQ(parsed.error, "");
    const auto& store = parsed.store;
    const auto machine = store.root(Hive::localMachine);
    const auto child = store.find(machine, "SOFTWARE\\Gone\\Child");
    ASSERT_NE(child, plat::regfile::noKey) << "created again after the deletion";
    EXPECT_EQ(store.subkeyCount(child), 0u);
    EXPECT_EQ(valueAt(parsed, "SOFTWARE\\Gone\\Child\\Grandchild", "v"), "<missing>");
    EXPECT_EQ(valueAt(parsed, "SOFTWARE\\Gone", "ignored"), "<missing>");
    EXPECT_EQ(textAt(parsed, "SOFTWARE\\Kept", "keep"), "1");
    EXPECT_EQ(valueAt(parsed, "SOFTWARE\\Kept", "drop"), "<missing>");
    EXPECT_EQ(valueAt(parsed, "SOFTWARE\\Kept", ""), "<missing>");
    EXPECT_EQ(store.find(machine, "SOFTWARE\\Never"), plat::regfile::noKey);
    std::vector<std::string> names;
    const auto software = store.find(machine, "SOFTWARE");
    for (size_t i = 0; i < store.subkeyCount(software); ++i)
        names.push_back(store.name(store.subkey(software, i)));
    EXPECT_EQ(names, (std::vector<std::string>{"Classes", "Gone", "Kept"}));

    EXPECT_EQ(store.find(machine, "Software\\ASIO"), plat::regfile::noKey) << "the user's keys stay apart";
    EXPECT_EQ(valueAt(parsed, "Software\\ASIO\\Hidden", "clsid", Hive::currentUser), "1:{x}\0"s);
    EXPECT_NE(store.find(store.root(Hive::users), ".default\\software"), plat::regfile::noKey);
    EXPECT_NE(store.find(store.root(Hive::currentConfig), "Software"), plat::regfile::noKey);
}

TEST(RegistryFile, NamesTheLineAndTheFaultOfAMalformedFile) {
    const struct {
        std::string text;
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
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex:1g\n", 3,
         "hex: needs bytes of two hexadecimal digits separated by commas"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex:012\n", 3,
         "hex: needs bytes of two hexadecimal digits separated by commas"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex:01,,02\n", 3,
         "hex: needs bytes of two hexadecimal digits separated by commas"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex:01,\\\n  02,\\\n  zz\n\"m\"=\"b\"\n", 3,
         "hex: needs bytes of two hexadecimal digits separated by commas"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex(123456789):00\n", 3,
         "hex(N): needs a type of 1 to 8 hexadecimal digits"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex():00\n", 3, "hex(N): needs a type of 1 to 8 hexadecimal digits"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=hex\n", 3, "expected hex: or hex(N): before the bytes"},
        {"REGEDIT4\n[HKLM\\a]\n\"n\"=str:x\n", 3, "unknown value type \"str:\""},
        {"REGEDIT4\n[HKEY_DYN_DATA\\a]\n", 2, "unknown root key \"HKEY_DYN_DATA\""},
        {"REGEDIT4\n[HKLM\\a\\\\b]\n", 2, "empty key name in the path"},
        {"REGEDIT4\n[-HKLM\\a\\]\n", 2, "empty key name in the path"},
        {"REGEDIT4\n[HKLM\\a\n", 2, "expected ] at the end of the key"},
        {"\xFF\xFE\x52", 0, "UTF-16 text with an odd number of bytes"},
        {"REGEDIT4\n" + std::string(plat::regfile::maxTextBytes, ';'), 0, "larger than 64 MiB"},
    };
    for (const auto& c : cases) {
        auto parsed = parseRegistryText(c.text);
        const std::string shown = c.text.substr(0, 60);
        EXPECT_EQ(parsed.errorLine, c.line) << shown;
        EXPECT_EQ(parsed.error, c.error) << shown;
        EXPECT_EQ(parsed.store.keyCount(), plat::regfile::KeyStore().keyCount())
            << "nothing is kept: " << shown;
    }
}

// 200,000 nested key names in 400 KB: read, found and torn down without recursion (a
// tree of nested owners overflowed the stack when it was destroyed).
TEST(RegistryFile, ReadsAndDropsAVeryDeepKeyWithinTheStack) {
    constexpr int depth = 200000;
    std::string path = "HKLM";
    for (int i = 0; i < depth; ++i)
        path += i % 2 ? "\\b" : "\\a";
    {
        auto parsed = parseRegistryText("REGEDIT4\n[" + path + "]\n\"deepest\"=dword:1\n");
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.store.keyCount(), plat::regfile::KeyStore().keyCount() + depth);
        EXPECT_EQ(textAt(parsed, path.c_str() + 5, "deepest"), "dword 1");
    }
    ASSERT_EQ(plat::testing::loadRegistryText("REGEDIT4\n[" + path + "]\n[-HKLM\\a]\n", "deep"), "");
    plat::RegKey key = 0;
    EXPECT_EQ(plat::regOpenKeyA(plat::regLocalMachine(), "a", key), plat::errorFileNotFound);
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

// Paths, sizes and codes are also exercised through the driver list; these are the
// rules it does not reach.
TEST(RegistryStandIn, EnumeratesSortedAndReportsValueSizesAsWindowsDoes) {
    ASSERT_EQ(plat::testing::loadRegistryText(
                  "Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\ASIO\\gamma]\n"
                  "[HKLM\\SOFTWARE\\ASIO\\_under]\n[HKEY_CURRENT_USER\\SOFTWARE\\ASIO\\User]\n"
                  "[HKLM\\SOFTWARE\\ASIO\\Alpha]\n\"Text\"=\"abc\"\n\"Number\"=dword:0102a0b0\n"
                  "\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\n",
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
    EXPECT_EQ(plat::regEnumKeyA(asio, 0, name, 5), plat::errorMoreData);

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
    size = 0;
    EXPECT_EQ(plat::regQueryValueExA(alpha, "multi", nullptr, size), plat::errorSuccess);
    EXPECT_EQ(size, 6u) << "the 8-bit size of the UTF-16 multi-string";
    EXPECT_EQ(plat::regQueryValueExA(alpha, "multi", buffer, size), plat::errorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), "a\0\xc3\xa9\0\0"s);

    EXPECT_EQ(plat::regCloseKey(alpha), plat::errorSuccess);
    EXPECT_EQ(plat::regCloseKey(asio), plat::errorSuccess);
    EXPECT_EQ(plat::regEnumKeyA(asio, 0, name, sizeof name), 6) << "a closed handle is invalid";
    plat::RegKey classes = 0;
    EXPECT_EQ(plat::regOpenKeyA(plat::regClassesRoot(), "", classes), plat::errorSuccess)
        << "the classes root opens even when the file has no classes";
    EXPECT_EQ(plat::regEnumKeyA(classes, 0, name, sizeof name), plat::errorNoMoreItems);
    plat::regCloseKey(classes);
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

// The first registry call of a process loads ASIO_REGISTRY, so each check runs in a
// fresh process. That process runs the test body again: the parent makes the files once
// and hands their folder down in the environment.
TEST(RegistryEnvironment, AnUnreadableFileGivesOneLineOnStandardErrorAndAnEmptyRegistry) {
    namespace fs = std::filesystem;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* inherited = std::getenv("ECHOPROBE_TEST_REGISTRY_DIR");
    std::string folder =
        inherited != nullptr ? inherited : fs::temp_directory_path() / "echoprobe-registry-XXXXXX";
    if (inherited == nullptr) {
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        std::ofstream(folder + "/bad.reg") << "REGEDIT4\n[HKLM\\Software\\ASIO\\Drv]\n\"a\"=hex:0g\n";
        fs::create_directory(folder + "/folder.reg");
        std::ofstream(folder + "/huge.reg") << "REGEDIT4\n";
        fs::resize_file(folder + "/huge.reg", plat::regfile::maxTextBytes + 1); // sparse: nothing is written
        setenv("ECHOPROBE_TEST_REGISTRY_DIR", folder.c_str(), 1);
    }
    const struct {
        const char* file;
        const char* complaint;
    } cases[] = {
        {"bad.reg", ", line 3: hex: needs bytes of two hexadecimal digits separated by commas"},
        {"folder.reg", ": is a folder, not a file"},
        {"huge.reg", ": larger than 64 MiB"},
        {"missing.reg", ": cannot be read"},
    };
    for (const auto& c : cases) {
        const std::string path = folder + "/" + c.file;
        auto openDriverKey = [&path] {
            setenv("ASIO_REGISTRY", path.c_str(), 1);
            plat::RegKey key = 0;
            std::exit(plat::regOpenKeyA(plat::regLocalMachine(), "software", key));
        };
        EXPECT_EXIT(openDriverKey(), ::testing::ExitedWithCode(plat::errorFileNotFound),
                    "^echoprobe: registry file " + path + c.complaint + "\n$");
    }
    unsetenv("ECHOPROBE_TEST_REGISTRY_DIR");
    fs::remove_all(folder);
}

#endif
