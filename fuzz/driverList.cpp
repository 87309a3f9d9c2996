// Fuzz target: the driver list over a registry from the input.
//
// The input is loaded as the registry file; the list is created, walked, every entry
// opened twice (the second open must hand out the same object) and closed, and the list
// freed. COM serves only the in-process fake registered here as "fuzz:driver" and loads
// no module: the registry may name any file. Checked: identifiers are positions, the
// count matches the entries, and every reference to the fake comes back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "asio/telAsioDriverList.h"
#include "platform/platform.h"
#include "platform/registryTesting.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "driverList: %s\n", what);
    std::abort();
}

int32_t liveReferences = 0;

// A driver that answers everything with success and nothing else; only its references
// are counted.
struct FakeDriver : IASIO {
    int32_t QueryInterface(const plat::Guid&, void**) override { return plat::hrNoInterface; }
    uint32_t AddRef() override { return static_cast<uint32_t>(++liveReferences); }
    uint32_t Release() override { return static_cast<uint32_t>(--liveReferences); }
    ASIOBool init(void*) override { return 1; }
    void getDriverName(char* name) override { std::snprintf(name, 32, "fake"); }
    int32_t getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = 0; }
    ASIOError start() override { return ASE_OK; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(int32_t*, int32_t*) override { return ASE_OK; }
    ASIOError getLatencies(int32_t*, int32_t*) override { return ASE_OK; }
    ASIOError getBufferSize(int32_t*, int32_t*, int32_t*, int32_t*) override { return ASE_OK; }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_OK; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getClockSources(ASIOClockSource*, int32_t*) override { return ASE_OK; }
    ASIOError setClockSource(int32_t) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_OK; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_OK; }
    ASIOError createBuffers(ASIOBufferInfo*, int32_t, int32_t, ASIOCallbacks*) override { return ASE_OK; }
    ASIOError disposeBuffers() override { return ASE_OK; }
    ASIOError controlPanel() override { return ASE_OK; }
    ASIOError future(int32_t, void*) override { return ASE_OK; }
    ASIOError outputReady() override { return ASE_OK; }
} fakeDriver;

struct FakeFactory : plat::ComClassFactory {
    int32_t QueryInterface(const plat::Guid&, void**) override { return plat::hrNoInterface; }
    uint32_t AddRef() override { return static_cast<uint32_t>(++liveReferences); }
    uint32_t Release() override { return static_cast<uint32_t>(--liveReferences); }
    int32_t CreateInstance(plat::ComUnknown* outer, const plat::Guid&, void** object) override {
        if (outer != nullptr) return plat::hrNoAggregation;
        fakeDriver.AddRef();
        *object = static_cast<IASIO*>(&fakeDriver);
        return plat::hrOk;
    }
    int32_t LockServer(int32_t) override { return plat::hrOk; }
} fakeFactory;

int32_t getClassObject(const plat::Guid&, const plat::Guid&, void** object) {
    fakeFactory.AddRef();
    *object = &fakeFactory;
    return plat::hrOk;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    plat::testing::loadOnlyRegisteredServers(true);
    plat::testing::registerInprocServer("fuzz:driver", getClassObject);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::testing::loadRegistryText(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
    {
        telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
        require(list != nullptr, "no list");
        int32_t entries = 0;
        for (pASIODRVSTRUCT entry = list->lpdrvlist(); entry != nullptr; entry = entry->next, ++entries) {
            require(entry->drvID == entries, "identifiers are not positions");
            require(list->asioGetDrvID(entries) == entries, "asioGetDrvID");
        }
        require(entries == list->numDrv(), "numDrv does not count the entries");
        require(list->asioGetDrvID(entries) == -1, "an identifier past the end");

        for (int32_t id = 0; id < entries; ++id) {
            telAsioDriver* first = nullptr;
            telAsioDriver* second = nullptr;
            const int32_t opened = list->asioOpenDriver(id, first);
            if (opened == plat::hrOk) {
                require(first != nullptr && first->asio() == &fakeDriver, "an open entry without the fake");
                require(list->asioOpenDriver(id, second) == plat::hrOk && second == first, "opened twice");
            } else {
                require(opened == plat::hrModuleNotFound || opened == plat::hrClassNotRegistered,
                        "an unexpected failure to open");
            }
            // Every other entry stays open for the list to release.
            if (id % 2 == 0) list->asioCloseDriver(id);
        }
    }
    require(liveReferences == 0, "a reference to the fake was not given back");
    return 0;
}
