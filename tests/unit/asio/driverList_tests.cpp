// The driver list over scripted registries, with one class served by a scripted driver.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "asio/telAsioDriverList.h"
#include "platform/platform.h"
#include "platform/registryTesting.h"
#include "tests/support/scriptedDriver.h"

namespace {

// Hands out the test's scripted driver, with a reference of its own.
struct DriverFactory : plat::ComClassFactory {
    teltest::ScriptedDriver* driver = nullptr;
    plat::Guid requestedInterface{};
    int32_t refs = 0;

    int32_t QueryInterface(const plat::Guid&, void**) override { return plat::hrNoInterface; }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    int32_t CreateInstance(plat::ComUnknown*, const plat::Guid& iid, void** object) override {
        requestedInterface = iid;
        driver->AddRef();
        *object = static_cast<IASIO*>(driver);
        return plat::hrOk;
    }
    int32_t LockServer(int32_t) override { return plat::hrOk; }
} factory;

int32_t getClassObject(const plat::Guid&, const plat::Guid&, void** object) {
    factory.AddRef();
    *object = &factory;
    return plat::hrOk;
}

const plat::Guid servedClass{0xC0000000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x0A}};

// Usable: A, C and E (whose identifier text cannot be parsed); B has no "clsid", D no server.
const char* const driversText = "REGEDIT4\n"
                                "[HKLM\\SOFTWARE\\ASIO\\A Served]\n"
                                "\"CLSID\"=\"{c0000000-0000-0000-0000-00000000000a}\"\n"
                                "\"Description\"=\"Served driver\"\n"
                                "[HKLM\\SOFTWARE\\ASIO\\B No Clsid]\n"
                                "[HKLM\\SOFTWARE\\ASIO\\C Unloadable]\n"
                                "\"CLSID\"=\"{C0000000-0000-0000-0000-00000000000B}\"\n"
                                "[HKLM\\SOFTWARE\\ASIO\\D Unregistered]\n"
                                "\"CLSID\"=\"{C0000000-0000-0000-0000-0000000000FF}\"\n"
                                "[HKLM\\SOFTWARE\\ASIO\\E Bad Id]\n"
                                "\"CLSID\"=\"not-a-class-id\"\n"
                                "[HKCR\\CLSID\\{C0000000-0000-0000-0000-00000000000A}\\InprocServer32]\n"
                                "@=\"served:scripted\"\n"
                                "[HKCR\\CLSID\\{c0000000-0000-0000-0000-00000000000b}\\InprocServer32]\n"
                                "@=\"/nonexistent/driver.so\"\n"
                                "[HKCR\\CLSID\\not-a-class-id\\InprocServer32]\n"
                                "@=\"/opt/bad.so\"\n";

class DriverList : public ::testing::Test {
  protected:
    void SetUp() override {
        plat::testing::registerInprocServer("served:scripted", getClassObject);
        factory = DriverFactory();
        factory.driver = &driver;
    }
    void TearDown() override {
        plat::testing::registerInprocServer("served:scripted", nullptr);
        plat::testing::loadRegistryText("REGEDIT4\n", "empty");
    }

    static telOwned<telAsioDriverList> listOf(const std::string& registryText) {
        EXPECT_EQ(plat::testing::loadRegistryText(registryText, "test"), "");
        return telCreate<telAsioDriverList>();
    }

    static ASIODRVSTRUCT& entryAt(telAsioDriverList& list, int32_t position) {
        pASIODRVSTRUCT entry = list.lpdrvlist();
        while (position-- > 0)
            entry = entry->next;
        return *entry;
    }

    teltest::ScriptedDriver driver;
};

TEST_F(DriverList, KeepsUsableDriversInEnumerationOrderWithPositionsAsIdentifiers) {
    telOwned<telAsioDriverList> list = listOf(driversText);
    ASSERT_EQ(list->numDrv(), 3);
    const char* names[] = {"Served driver", "C Unloadable", "E Bad Id"}; // no description: the key name
    const char* paths[] = {"served:scripted", "/nonexistent/driver.so", "/opt/bad.so"};
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entryAt(*list, i).drvID, i);
        EXPECT_STREQ(entryAt(*list, i).drvname, names[i]);
        EXPECT_STREQ(entryAt(*list, i).dllpath, paths[i]);
    }
    EXPECT_TRUE(entryAt(*list, 0).clsid == servedClass);
    EXPECT_TRUE(entryAt(*list, 2).clsid == plat::Guid{}) << "an unparsable identifier stays zero";
    EXPECT_EQ(entryAt(*list, 2).next, nullptr);

    EXPECT_EQ(list->asioGetDrvID(-1), 0) << "a negative index gives the head";
    EXPECT_EQ(list->asioGetDrvID(2), 2);
    EXPECT_EQ(list->asioGetDrvID(list->numDrv()), -1);
}

TEST_F(DriverList, StoresDescriptionsIntoTheFixedNameFieldAndStopsAtALongKeyName) {
    const std::string d127(127, 'a'), d128(128, 'b'), d255(255, 'c'), d256(256, 'd');
    std::string text = "REGEDIT4\n[HKCR\\CLSID\\{x}\\InprocServer32]\n@=\"/opt/x.so\"\n";
    int key = 0;
    for (const std::string& description : {d127, d128, d255, d256})
        text += "[HKLM\\SOFTWARE\\ASIO\\Key" + std::to_string(key++) +
                "]\n\"clsid\"=\"{x}\"\n\"description\"=\"" + description + "\"\n";
    // A name that does not fit the enumeration buffer ends the list: "Z" is not reached.
    for (const std::string& name : {std::string(128, 'L'), std::string("Z")})
        text += "[HKLM\\SOFTWARE\\ASIO\\" + name + "]\n\"clsid\"=\"{x}\"\n";
    telOwned<telAsioDriverList> list = listOf(text);
    ASSERT_EQ(list->numDrv(), 4);

    EXPECT_STREQ(entryAt(*list, 0).drvname, d127.c_str()) << "127 characters keep their terminator";
    EXPECT_EQ(std::string(entryAt(*list, 1).drvname, 128), d128);
    EXPECT_EQ(std::string(entryAt(*list, 2).drvname, 128), d255.substr(0, 128)) << "cut, no terminator";
    EXPECT_STREQ(entryAt(*list, 3).drvname, "Key3") << "a description that does not fit is not read";
}

TEST_F(DriverList, OpensOnceHandsOutTheSameObjectAndPassesFailuresOn) {
    telOwned<telAsioDriverList> list = listOf(driversText);
    telAsioDriver* opened = nullptr;
    EXPECT_EQ(list->asioOpenDriver(3, opened), telDriverNotFound);
    EXPECT_EQ(list->asioOpenDriver(1, opened), plat::hrModuleNotFound);
    EXPECT_EQ(list->asioOpenDriver(2, opened), plat::hrClassNotRegistered);
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(list->asioCloseDriver(7), 0);

    ASSERT_EQ(list->asioOpenDriver(0, opened), 0);
    EXPECT_EQ(opened->asio(), &driver);
    EXPECT_TRUE(factory.requestedInterface == servedClass) << "the class identifier doubles as interface";
    EXPECT_EQ(driver.refCount(), 2u) << "the driver object holds the only reference besides the test's";
    EXPECT_EQ(factory.refs, 0) << "the class factory was released";
    telAsioDriver* again = nullptr;
    EXPECT_EQ(list->asioOpenDriver(0, again), 0);
    EXPECT_EQ(again, opened);
    EXPECT_EQ(driver.refCount(), 2u);

    EXPECT_EQ(list->asioCloseDriver(0), 0);
    EXPECT_EQ(entryAt(*list, 0).asiodrv, nullptr);
    EXPECT_EQ(driver.refCount(), 1u);
    ASSERT_EQ(list->asioOpenDriver(0, again), 0);
    EXPECT_EQ(driver.refCount(), 2u) << "reopened";
    list.reset();
    EXPECT_EQ(driver.refCount(), 1u) << "freeing the list destroys the open driver object";
}

TEST_F(DriverList, UsesComOnItsThreadOnlyWhileItHoldsDrivers) {
    std::thread([] {
        telOwned<telAsioDriverList> list = listOf("REGEDIT4\n[HKLM\\SOFTWARE\\ASIO\\No Clsid]\n");
        EXPECT_EQ(list->asioGetDrvID(-1), -1);
        EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "an empty list leaves COM alone";
        plat::coUninitialize();

        list = listOf(driversText);
        EXPECT_EQ(plat::coInitialize(), plat::hrFalse) << "the list initialised COM";
        plat::coUninitialize();
        list.reset();
        EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "freeing the list ended it";
        plat::coUninitialize();
    }).join();
}

} // namespace

#endif
