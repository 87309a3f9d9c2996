#include "driverHarness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace harness {

namespace {

struct Classes {
    std::vector<std::pair<std::string, std::string>> entries; // values, server
    bool written = false;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("echoprobe-testdriver-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));

    ~Classes() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Classes& classes() {
    static Classes instance;
    return instance;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void writeRegistry() {
    Classes& all = classes();
    if (all.written) return;
    all.written = true;
    std::filesystem::create_directories(all.folder);
    std::string text = "REGEDIT4;";
    for (size_t k = 0; k < all.entries.size(); ++k) {
        char key[80];
        std::snprintf(key, sizeof key, ";[HKEY_CLASSES_ROOT\\CLSID\\{%08X-0000-4000-8000-000000000001}",
                      classId(static_cast<int>(k) + 1).data1);
        text += key + std::string("\\InprocServer32];@='") + all.entries[k].second + "';" + key + "];" +
                replaced(all.entries[k].first, "$DIR", all.folder.string()) + ";";
    }
    std::replace(text.begin(), text.end(), '\'', '"');
    std::replace(text.begin(), text.end(), ';', '\n');
    std::ofstream(all.folder / "drivers.reg") << text;
    setenv("ASIO_REGISTRY", (all.folder / "drivers.reg").c_str(), 1);
}

} // namespace

int addClass(const std::string& values, const std::string& server) {
    classes().entries.emplace_back(values, server);
    return static_cast<int>(classes().entries.size());
}

plat::Guid classId(int number) {
    return plat::Guid{0xA0000000u + static_cast<uint32_t>(number), 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
}

IASIO* create(int number) {
    const plat::Guid id = classId(number);
    void* object = nullptr;
    EXPECT_EQ(plat::coCreateInstance(id, id, &object), plat::hrOk);
    return static_cast<IASIO*>(object);
}

std::string tempPath(const std::string& name) {
    return (classes().folder / name).string();
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

void DriverTest::SetUpTestSuite() {
    writeRegistry();
    plat::coInitialize();
}

void DriverTest::TearDownTestSuite() {
    plat::coUninitialize();
}

} // namespace harness
