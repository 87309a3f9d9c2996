// Fuzz target: the host against a driver whose every answer comes from the input.
//
// FuzzedDriver is an IASIO of this target's own: each call takes its results from the
// input (statuses, counts, sizes, rates, names with and without their terminator,
// channel types, positions). The host goes through what the tool does with it: open
// through the driver list, initialiseDriver, a myBP processor, chooseSampleRate,
// printDriverReport, startDriver, a series of callbacks through the ASIOCallbacks the
// host handed over in createBuffers (buffer switches with any half index, time-info
// switches with records from the input, messages with any selector, rate changes),
// stop, and the main block's tear-down. Checked beyond the sanitizers: every
// reference to the driver and every buffer it created come back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/myBP.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "app/selection.h"
#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriverList.h"
#include "core/telClasses.h"
#include "platform/platform.h"
#include "platform/registryTesting.h"
#include "util/telUtils.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "driver: %s\n", what);
    std::abort();
}

// Buffers are sized for the widest sample (8 bytes), so whatever type a channel
// reports, the host may fill a whole half; more than this is refused as a real driver
// would refuse it.
constexpr int32_t largestSample = 8;
constexpr size_t mostBufferBytes = size_t{16} << 20;

class FuzzedDriver : public IASIO {
  public:
    FuzzedDataProvider* input = nullptr;
    int32_t references = 0;
    std::vector<std::vector<uint8_t>> buffers; // two halves per channel while they exist
    ASIOCallbacks* callbacks = nullptr;

    // ------------------------------------------------------------ what the input decides
    ASIOError status() {
        // Mostly success, so the host gets far; otherwise any code.
        return input->ConsumeIntegralInRange<int32_t>(0, 3) != 0 ? ASE_OK : input->ConsumeIntegral<int32_t>();
    }
    void text(char* target, size_t room) {
        // Up to `room` bytes, with or without a terminator.
        std::string bytes = input->ConsumeRandomLengthString(room);
        std::memcpy(target, bytes.data(), bytes.size());
        if (bytes.size() < room && input->ConsumeBool()) target[bytes.size()] = '\0';
    }
    template <class T> void maybeWrite(T* target) {
        if (target != nullptr && input->ConsumeIntegralInRange<int32_t>(0, 7) != 0)
            *target = input->ConsumeIntegral<T>();
    }

    // ------------------------------------------------------------ IASIO
    int32_t QueryInterface(const plat::Guid&, void** object) override {
        *object = nullptr;
        return plat::hrNoInterface;
    }
    uint32_t AddRef() override { return static_cast<uint32_t>(++references); }
    uint32_t Release() override { return static_cast<uint32_t>(--references); }
    ASIOBool init(void*) override { return input->ConsumeIntegralInRange<int32_t>(0, 7) != 0; }
    void getDriverName(char* name) override { text(name, 256); }
    int32_t getDriverVersion() override { return input->ConsumeIntegral<int32_t>(); }
    void getErrorMessage(char* message) override { text(message, 256); }
    ASIOError start() override { return status(); }
    ASIOError stop() override { return status(); }
    ASIOError getChannels(int32_t* inputs, int32_t* outputs) override {
        for (int32_t* count : {inputs, outputs})
            if (count != nullptr)
                *count = input->ConsumeIntegralInRange<int32_t>(0, 3) != 0
                             ? input->ConsumeIntegralInRange<int32_t>(0, 8)
                             : input->ConsumeIntegral<int32_t>();
        return status();
    }
    ASIOError getLatencies(int32_t* in, int32_t* out) override {
        maybeWrite(in);
        maybeWrite(out);
        return status();
    }
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                            int32_t* granularity) override {
        for (int32_t* figure : {minSize, maxSize, preferred})
            if (figure != nullptr)
                *figure = input->ConsumeIntegralInRange<int32_t>(0, 3) != 0
                              ? input->ConsumeIntegralInRange<int32_t>(1, 4096)
                              : input->ConsumeIntegral<int32_t>();
        maybeWrite(granularity);
        return status();
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return status(); }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (rate != nullptr && input->ConsumeBool())
            *rate = input->ConsumeBool() ? 48000.0 : input->ConsumeFloatingPoint<double>();
        return status();
    }
    ASIOError setSampleRate(ASIOSampleRate) override { return status(); }
    ASIOError getClockSources(ASIOClockSource*, int32_t*) override { return status(); }
    ASIOError setClockSource(int32_t) override { return status(); }
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        maybeWrite(&position->hi);
        maybeWrite(&position->lo);
        maybeWrite(&stamp->hi);
        maybeWrite(&stamp->lo);
        return status();
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        // Channel and direction belong to the host; a careless driver may still write them.
        if (input->ConsumeIntegralInRange<int32_t>(0, 15) == 0)
            info->channel = input->ConsumeIntegral<int32_t>();
        if (input->ConsumeIntegralInRange<int32_t>(0, 15) == 0)
            info->isInput = input->ConsumeIntegral<int32_t>();
        info->isActive =
            input->ConsumeIntegralInRange<int32_t>(0, 3) != 0 ? 1 : input->ConsumeIntegral<int32_t>();
        info->channelGroup = input->ConsumeIntegral<int32_t>();
        static constexpr ASIOSampleType common[] = {ASIOSTInt16LSB,   ASIOSTInt24LSB,   ASIOSTInt32LSB,
                                                    ASIOSTFloat32LSB, ASIOSTFloat64LSB, ASIOSTInt32LSB24,
                                                    ASIOSTInt16MSB,   ASIOSTInt32MSB,   ASIOSTDSDInt8NER8};
        info->_type = input->ConsumeIntegralInRange<int32_t>(0, 3) != 0 ? input->PickValueInArray(common)
                                                                        : input->ConsumeIntegral<int32_t>();
        text(info->name, sizeof info->name);
        return status();
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, int32_t channels, int32_t bufferSize,
                            ASIOCallbacks* hostCallbacks) override {
        ASIOError result = status();
        if (result != ASE_OK) return result;
        if (channels < 0 || bufferSize <= 0 ||
            static_cast<size_t>(channels) * 2 * static_cast<size_t>(bufferSize) * largestSample >
                mostBufferBytes)
            return ASE_InvalidParameter;
        buffers.clear();
        for (int32_t k = 0; k < channels; ++k)
            for (int half = 0; half < 2; ++half) {
                buffers.emplace_back(static_cast<size_t>(bufferSize) * largestSample,
                                     input->ConsumeIntegral<uint8_t>());
                infos[k].buffers[half] = buffers.back().data();
            }
        callbacks = hostCallbacks;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        buffers.clear();
        callbacks = nullptr;
        return status();
    }
    ASIOError controlPanel() override { return status(); }
    ASIOError future(int32_t, void*) override { return status(); }
    ASIOError outputReady() override { return status(); }
} fuzzedDriver;

struct FuzzedFactory : plat::ComClassFactory {
    int32_t QueryInterface(const plat::Guid&, void** object) override {
        *object = nullptr;
        return plat::hrNoInterface;
    }
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    int32_t CreateInstance(plat::ComUnknown*, const plat::Guid&, void** object) override {
        fuzzedDriver.AddRef();
        *object = static_cast<IASIO*>(&fuzzedDriver);
        return plat::hrOk;
    }
    int32_t LockServer(int32_t) override { return plat::hrOk; }
} fuzzedFactory;

int32_t getClassObject(const plat::Guid&, const plat::Guid&, void** object) {
    *object = &fuzzedFactory;
    return plat::hrOk;
}

// What a driver calls back while it runs, in an order and with arguments from the input.
void callBack(FuzzedDataProvider& input) {
    const int32_t count = input.ConsumeIntegralInRange<int32_t>(0, 24);
    for (int32_t i = 0; i < count && fuzzedDriver.callbacks != nullptr; ++i) {
        const ASIOCallbacks& host = *fuzzedDriver.callbacks;
        const int32_t index = input.ConsumeIntegralInRange<int32_t>(0, 3) != 0
                                  ? input.ConsumeIntegralInRange<int32_t>(0, 1)
                                  : input.ConsumeIntegral<int32_t>();
        switch (input.ConsumeIntegralInRange<int32_t>(0, 3)) {
        case 0:
            host.bufferSwitch(index, input.ConsumeIntegral<ASIOBool>());
            break;
        case 1: {
            ASIOTime time;
            std::vector<uint8_t> record = input.ConsumeBytes<uint8_t>(sizeof time);
            record.resize(sizeof time);
            std::memcpy(&time, record.data(), sizeof time);
            host.bufferSwitchTimeInfo(&time, index, input.ConsumeIntegral<ASIOBool>());
            break;
        }
        case 2: {
            double opt = input.ConsumeFloatingPoint<double>();
            std::vector<uint8_t> message = input.ConsumeBytes<uint8_t>(64);
            message.resize(64);
            host.asioMessage(input.ConsumeIntegral<int32_t>(), input.ConsumeIntegral<int32_t>(),
                             input.ConsumeBool() ? message.data() : nullptr,
                             input.ConsumeBool() ? &opt : nullptr);
            break;
        }
        default:
            host.sampleRateChanged(input.ConsumeFloatingPoint<double>());
            break;
        }
    }
}

// The tool's run with the driver (the main block's steps, its console silenced).
void runTool(FuzzedDataProvider& input) {
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    require(list != nullptr, "no list");
    int32_t selected = 0;
    telAsioDriver* driver = selectAndOpenDriver(*list, 0, selected);
    require(driver != nullptr, "the registered driver does not open");
    if (initialiseDriver(*driver)) {
        telOwned<myBP> processor = telCreate<myBP>(driver);
        if (processor) {
            if (input.ConsumeBool()) driver->controlPanel();
            processor->f_noSine = toTelBool(input.ConsumeBool());
            processor->f_noLoop = toTelBool(input.ConsumeBool());
            chooseSampleRate(*driver);
            printDriverReport(*driver);
            if (startDriver(*driver)) {
                callBack(input);
                if (driver->stop(telTrue) != ASE_OK) driver->release();
            }
        }
        // As the main block does: detach the processor (no callback can be inside it
        // here, they all came from this thread), free it, close the driver.
        if (processor) require(driver->setBufferProcessor(nullptr), "the processor does not come off");
        telFree(processor);
        closeSelectedDriver(*list, selected);
    }
    telFree(list);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    telTypesStartup();
    telUtilsStartup();
    telClassesStartup();
    telAsioApiStartup();
    configureLog(u"<none>", nullptr, 0, -1, 0, -1, -1, telFalse, -1);
    plat::testing::loadOnlyRegisteredServers(true);
    plat::testing::registerInprocServer("fuzz:driver", getClassObject);
    const std::string registry = "REGEDIT4\n[HKLM\\SOFTWARE\\ASIO\\Fuzzed]\n"
                                 "\"CLSID\"=\"{F0220000-0000-0000-0000-000000000001}\"\n"
                                 "[HKCR\\CLSID\\{F0220000-0000-0000-0000-000000000001}\\InprocServer32]\n"
                                 "@=\"fuzz:driver\"\n";
    require(plat::testing::loadRegistryText(registry, "fuzz").empty(), "the registry does not load");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    fuzzedDriver.input = &input;
    runTool(input);
    require(fuzzedDriver.references == 0, "a reference to the driver was not given back");
    require(fuzzedDriver.buffers.empty(), "the driver's buffers were not disposed");
    fuzzedDriver.buffers.clear();
    fuzzedDriver.callbacks = nullptr;
    return 0;
}
