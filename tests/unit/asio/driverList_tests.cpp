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

// One served driver; the key without a class identifier is skipped.
const char* const driversText = "REGEDIT4\n[HKLM\\SOFTWARE\\ASIO\\B No Clsid]\n"
                                "[HKLM\\SOFTWARE\\ASIO\\A Served]\n"
                                "\"CLSID\"=\"{c0000000-0000-0000-0000-00000000000a}\"\n"
                                "[HKCR\\CLSID\\{C0000000-0000-0000-0000-00000000000A}\\InprocServer32]\n"
                                "@=\"served:scripted\"\n";

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

    teltest::ScriptedDriver driver;
};

TEST_F(DriverList, StoresDescriptionsIntoTheFixedNameFieldOnlyWhenTheyFitTheRead) {
    const std::string d255(255, 'c'), d256(256, 'd');
    std::string text = "REGEDIT4\n[HKCR\\CLSID\\{x}\\InprocServer32]\n@=\"/opt/x.so\"\n";
    int key = 0;
    for (const std::string& description : {d255, d256})
        text += "[HKLM\\SOFTWARE\\ASIO\\Key" + std::to_string(key++) +
                "]\n\"clsid\"=\"{x}\"\n\"description\"=\"" + description + "\"\n";
    telOwned<telAsioDriverList> list = listOf(text);
    ASSERT_EQ(list->numDrv(), 2);
    EXPECT_EQ(std::string(list->lpdrvlist()->drvname, 128), d255.substr(0, 128)) << "cut, no terminator";
    EXPECT_STREQ(list->lpdrvlist()->next->drvname, "Key1") << "a description that does not fit is not read";
}

// On a thread of its own, so that the state of COM there is the list's doing.
TEST_F(DriverList, OpensOnceBalancesReferencesAndUsesComOnlyWhileItHoldsDrivers) {
    std::thread([this] {
        telOwned<telAsioDriverList> list = listOf("REGEDIT4\n[HKLM\\SOFTWARE\\ASIO\\No Clsid]\n");
        EXPECT_EQ(list->asioGetDrvID(-1), -1);
        EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "an empty list leaves COM alone";
        plat::coUninitialize();
        list = listOf(driversText);
        EXPECT_EQ(plat::coInitialize(), plat::hrFalse) << "the list initialised COM";
        plat::coUninitialize();

        telAsioDriver* opened = nullptr;
        EXPECT_EQ(list->asioOpenDriver(1, opened), telDriverNotFound);
        ASSERT_EQ(list->asioOpenDriver(0, opened), 0);
        EXPECT_EQ(opened->asio(), &driver);
        EXPECT_TRUE(factory.requestedInterface == servedClass && list->lpdrvlist()->clsid == servedClass)
            << "the parsed class identifier doubles as interface";
        EXPECT_EQ(factory.refs, 0) << "the class factory was released";
        telAsioDriver* again = nullptr;
        EXPECT_EQ(list->asioOpenDriver(0, again), 0);
        EXPECT_EQ(again, opened);
        EXPECT_EQ(driver.refCount(), 2u) << "the driver object holds the only reference besides the test's";
        EXPECT_EQ(list->asioCloseDriver(0), 0);
        EXPECT_EQ(driver.refCount(), 1u);
        ASSERT_EQ(list->asioOpenDriver(0, again), 0);
        list.reset();
        EXPECT_EQ(driver.refCount(), 1u) << "freeing the list destroys the open driver object";
        EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "and ends COM";
        plat::coUninitialize();
    }).join();
}

} // namespace

#endif
