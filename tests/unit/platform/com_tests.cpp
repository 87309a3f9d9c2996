// COM as the driver list uses it, the same on both backends. Loading and serving classes,
// and counted initialisation, are exercised through the driver list.
#include <gtest/gtest.h>
#include <thread>

#include "platform/platform.h"

TEST(ComIdentifiers, ParseOnlyTheBraceEnclosedFormIntoTheRightFields) {
    plat::Guid parsed{};
    ASSERT_EQ(plat::clsidFromString(u"{12345678-9ABC-DEF0-0123-456789abcdef}", parsed), plat::hrOk);
    EXPECT_TRUE(parsed ==
                (plat::Guid{0x12345678, 0x9ABC, 0xDEF0, {1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}));
    for (const char16_t* text :
         {u"", u"{12345678-9ABC-DEF0-0123-456789ABCDE}", u"{1234567G-9ABC-DEF0-0123-456789ABCDEF}",
          u"{12345678-9ABC-DEF0-0123+456789ABCDEF}", u"(12345678-9ABC-DEF0-0123-456789ABCDEF)"})
        EXPECT_EQ(plat::clsidFromString(text, parsed), plat::hrInvalidClassString) << plat::toNarrow(text);
}

TEST(ComApartment, InitialisationIsPerThreadAndNeededForCreation) {
    std::thread([] {
        const plat::Guid unregistered{
            0x5EB1A9C3, 0x0D27, 0x4F1B, {0x9A, 0x44, 0x13, 0x77, 0xE0, 0x2B, 0x6C, 0x91}};
        void* object = nullptr;
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  static_cast<int32_t>(0x800401F0u)); // CO_E_NOTINITIALIZED
        EXPECT_EQ(plat::coInitialize(), plat::hrOk);
        std::thread([] {
            EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "another thread counts on its own";
            plat::coUninitialize();
        }).join();
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  plat::hrClassNotRegistered);
        plat::coUninitialize();
    }).join();
}

#if !defined(_WIN32)

#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registryTesting.h"

namespace {

// Serves no class: enough to tell a registered server from a loaded module.
int32_t refuseClass(const plat::Guid&, const plat::Guid&, void** object) {
    *object = nullptr;
    return plat::hrClassNotAvailable;
}

// The result of creating a class whose server is `path`, or nothing when the call did not
// come back within five seconds (it is then let go by opening the FIFO it waits on).
std::optional<int32_t> createServedBy(const std::string& path) {
    EXPECT_EQ(plat::testing::loadRegistryText("REGEDIT4\n[HKCR\\CLSID\\{5EB1A9C3-0D27-4F1B-9A44-1377E02B6C91}"
                                              "\\InprocServer32]\n@=\"" +
                                                  path + "\"\n",
                                              "servers"),
              "");
    auto result = std::async(std::launch::async, [] {
        const plat::Guid served{0x5EB1A9C3, 0x0D27, 0x4F1B, {0x9A, 0x44, 0x13, 0x77, 0xE0, 0x2B, 0x6C, 0x91}};
        plat::coInitialize();
        void* object = nullptr;
        int32_t status = plat::coCreateInstance(served, plat::iidUnknown, &object);
        plat::coUninitialize();
        return status;
    });
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return result.get();
    close(open(path.c_str(), O_WRONLY | O_NONBLOCK)); // the reader sees the end and gives up
    result.wait();
    return std::nullopt;
}

} // namespace

// Only a regular file is opened as a module: a FIFO would block the open until a writer
// came. With loading switched off, only registered servers are served.
TEST(ComServers, RefusesWhatCannotBeAModuleAndLoadsNothingWhenToldSo) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("echoprobe-com-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "folder");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    Dl_info library{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&dlsym), &library), 0) << "a shared library on this system";

    EXPECT_EQ(createServedBy(folder / "fifo"), plat::hrModuleNotFound);
    EXPECT_EQ(createServedBy(folder / "folder"), plat::hrModuleNotFound);
    EXPECT_EQ(createServedBy(folder / "missing.so"), plat::hrModuleNotFound);
    EXPECT_EQ(createServedBy(""), plat::hrModuleNotFound);
    EXPECT_EQ(createServedBy(library.dli_fname), static_cast<int32_t>(0x800401F9u))
        << "loaded, but it has no DllGetClassObject (CO_E_ERRORINDLL)";

    plat::testing::registerInprocServer("served:refusing", refuseClass);
    plat::testing::loadOnlyRegisteredServers(true);
    EXPECT_EQ(createServedBy(library.dli_fname), plat::hrModuleNotFound) << "not loaded";
    EXPECT_EQ(createServedBy("served:refusing"), plat::hrClassNotAvailable);
    plat::testing::loadOnlyRegisteredServers(false);
    plat::testing::registerInprocServer("served:refusing", nullptr);
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
    fs::remove_all(folder);
}

#endif
