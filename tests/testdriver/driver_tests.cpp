// The reference driver, created through COM from a registry text the way a host
// creates it, one registered class per configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "asio/asioDriverInterface.h"
#include "captureFile.h"
#include "checker.h"
#include "platform/platform.h"
#include "platform/registryTesting.h"

namespace {

namespace fs = std::filesystem;

enum ClassNumber { configured = 1, streaming, timeInfo, failCreate, failInit, failStart, quietInt16 };

plat::Guid classId(uint32_t number) {
    return plat::Guid{0xA0000000 + number, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
}

// The callbacks carry no context: the host side of each test lives here.
struct Host {
    IASIO* driver = nullptr;
    ASIOBufferInfo infos[4]{};
    int32_t pairs = 0, frames = 0;
    bool notify = true, takesTimeInfo = false;
    std::atomic<int> plainSwitches{0}, timeInfoSwitches{0}, badTimeRecords{0};
};
std::unique_ptr<Host> host;

void TEL_CDECL onSwitch(int32_t half, ASIOBool) {
    host->plainSwitches.fetch_add(1);
    for (int32_t k = 0; k < host->pairs; ++k)
        std::memcpy(host->infos[host->pairs + k].buffers[half], host->infos[k].buffers[half],
                    host->frames * 4);
    if (host->notify) host->driver->outputReady();
}

void TEL_CDECL onRateChange(double) {}

int32_t TEL_CDECL onMessage(int32_t selector, int32_t value, void*, double*) {
    const bool asked = (selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo) ||
                       selector == kAsioSupportsTimeInfo;
    return asked && host->takesTimeInfo ? 1 : 0;
}

ASIOTime* TEL_CDECL onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
    const int number = host->timeInfoSwitches.fetch_add(1);
    ASIOSamples position;
    std::memcpy(&position, &time->timeInfo.samplePosition, sizeof position);
    const uint64_t samples = (uint64_t{position.hi} << 32) | position.lo;
    if (time->timeInfo.speed != 1.0 || time->timeInfo.flags != 3 || time->timeInfo.sampleRate != 48000.0 ||
        samples != static_cast<uint64_t>(number) * host->frames || half != (number & 1))
        host->badTimeRecords.fetch_add(1);
    return time;
}

ASIOCallbacks callbacks{onSwitch, onRateChange, onMessage, onSwitchTimeInfo};

double signalAt(int32_t channel, int64_t position) {
    return 0.5 * std::sin(2.0 * M_PI * ((position * (channel % 16 + 1)) % 256) / 256.0);
}

class ReferenceDriverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder =
            fs::temp_directory_path() / ("echoprobe-testdriver-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        const std::pair<ClassNumber, std::string> classes[] = {
            {configured,
             "'DriverName'='A driver name of forty characters, cut.'\n'Inputs'=dword:3\n"
             "'Outputs'=dword:1\n'InputType'=dword:10\n'OutputType'=dword:12\n'BufferMin'=dword:20\n"
             "'BufferMax'=dword:200\n'BufferPreferred'=dword:80\n'Granularity'=dword:ffffffff\n"
             "'SampleRates'='32000, 96000'\n'SampleRate'=dword:17700\n'ChannelNamePrefix'='Card '"},
            {streaming, "'SampleRate'=dword:bb80\n'Capture'='" + (folder / "stream.cap").string() + "'"},
            {timeInfo, "'SampleRate'=dword:bb80\n'CallbackMode'='timeInfo'"},
            {failCreate, "'Fail'='create'"},
            {failInit, "'Fail'='init'\n'ErrorText'='No hardware'"},
            {failStart, "'Fail'='start'\n'FailCode'=dword:fffffc19"},
            {quietInt16, "'InputType'=dword:10\n'OutputType'=dword:12\n'OutputReady'=dword:0\n'Capture'='" +
                             (folder / "quiet.cap").string() + "'"}};
        std::string text = "REGEDIT4\n";
        for (auto [number, values] : classes) {
            char key[80];
            std::snprintf(key, sizeof key, "\n[HKEY_CLASSES_ROOT\\CLSID\\{%08X-0000-4000-8000-000000000001}",
                          static_cast<unsigned>(classId(number).data1));
            std::replace(values.begin(), values.end(), '\'', '"');
            text += key + std::string("\\InprocServer32]\n@=\"" TESTDRIVER_MODULE_PATH "\"\n") + key + "]\n" +
                    values;
        }
        ASSERT_EQ(plat::testing::loadRegistryText(text + "\n", "drivers.reg"), "");
        plat::coInitialize();
    }
    static void TearDownTestSuite() {
        plat::coUninitialize();
        fs::remove_all(folder);
    }
    void SetUp() override { host = std::make_unique<Host>(); }

    static IASIO* create(uint32_t number) {
        void* object = nullptr;
        EXPECT_EQ(plat::coCreateInstance(classId(number), classId(number), &object), 0);
        return static_cast<IASIO*>(object);
    }

    // Runs the driver for about `milliseconds` with `inputs` input and `outputs` output
    // buffers, and returns its capture when `captureName` is given.
    static capcheck::Capture run(uint32_t number, int32_t inputs, int32_t outputs, int32_t frames,
                                 int milliseconds, const char* captureName = nullptr) {
        IASIO* driver = host->driver = create(number);
        host->frames = frames;
        for (int32_t k = 0; k < inputs + outputs; ++k)
            host->infos[k] = ASIOBufferInfo{k < inputs, k < inputs ? k : k - inputs, {nullptr, nullptr}};
        EXPECT_EQ(driver->init(nullptr), 1);
        EXPECT_EQ(driver->createBuffers(host->infos, inputs + outputs, frames, &callbacks), ASE_OK);
        EXPECT_EQ(driver->start(), ASE_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        ASIOSamples position{}, stamp{};
        EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
        EXPECT_EQ(position.lo % frames, 0u);
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
        capcheck::Capture capture;
        std::string error;
        if (captureName)
            EXPECT_TRUE(capcheck::readCaptureFile((folder / captureName).string(), capture, error)) << error;
        return capture;
    }

    static inline fs::path folder;
};

} // namespace

TEST_F(ReferenceDriverTest, ReportsItsRegisteredConfigurationOrTheDefaults) {
    for (auto [number, name, sizes, rate, ready] :
         {std::tuple{configured, "A driver name of forty characte", std::vector{3, 1, 32, 512, 128, -1},
                     96000.0, ASE_OK},
          {quietInt16, "Echoprobe Reference", std::vector{2, 2, 64, 2048, 256, 1}, 44100.0,
           ASE_NotPresent}}) {
        IASIO* driver = create(number);
        char text[256];
        driver->getDriverName(text);
        EXPECT_STREQ(text, name);
        std::vector<int32_t> got(6);
        EXPECT_EQ(driver->getChannels(&got[0], &got[1]), ASE_OK);
        EXPECT_EQ(driver->getBufferSize(&got[2], &got[3], &got[4], &got[5]), ASE_OK);
        EXPECT_EQ(got, sizes);
        double current = 0.0;
        EXPECT_EQ(driver->getSampleRate(&current), ASE_OK);
        EXPECT_EQ(current, rate);
        EXPECT_EQ(driver->outputReady(), ready);
        driver->Release();
    }

    IASIO* driver = create(configured);
    EXPECT_EQ(driver->canSampleRate(44100.0), -995);
    EXPECT_EQ(driver->setSampleRate(44100.0), -995);
    EXPECT_EQ(driver->setSampleRate(32000.0), ASE_OK);
    double rate = 0.0;
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 32000.0);
    ASIOChannelInfo info{2, 1, 0, 0, 0, {}};
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Card In 3");
    EXPECT_EQ(info._type, ASIOSTInt16LSB);
    info = ASIOChannelInfo{1, 0, 0, 0, 0, {}}; // only output 0 exists
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);

    void* other = nullptr;
    EXPECT_EQ(driver->QueryInterface(plat::iidClassFactory, &other), plat::hrNoInterface);
    EXPECT_EQ(driver->QueryInterface(plat::iidUnknown, &other), plat::hrOk);
    EXPECT_EQ(other, static_cast<void*>(driver));
    EXPECT_EQ(driver->Release(), 1u);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(ReferenceDriverTest, CreateBuffersChecksTheRequestAndMarksChannelsActive) {
    IASIO* driver = create(configured);
    ASIOBufferInfo infos[3] = {{1, 0, {}}, {1, 2, {}}, {0, 0, {}}};
    EXPECT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_NotPresent); // before init
    ASSERT_EQ(driver->init(nullptr), 1);
    for (int32_t size : {16, 300, 1024}) // below the minimum, not a power of two, above the maximum
        EXPECT_EQ(driver->createBuffers(infos, 3, size, &callbacks), ASE_InvalidParameter) << size;
    ASIOBufferInfo outOfRange[1] = {{1, 3, {}}}, twice[2] = {{0, 0, {}}, {0, 0, {}}};
    EXPECT_EQ(driver->createBuffers(outOfRange, 1, 64, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(twice, 2, 64, &callbacks), ASE_InvalidParameter);

    ASSERT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_OK);
    std::vector<uint8_t*> halves;
    for (const ASIOBufferInfo& info : infos)
        for (void* half : info.buffers)
            halves.push_back(static_cast<uint8_t*>(half));
    for (size_t i = 1; i < halves.size(); ++i) // inputs hold 2 bytes a sample, the output 4
        EXPECT_GE(std::abs(halves[i] - halves[i - 1]), i < 5 ? 128 : 256) << i;
    ASIOChannelInfo used{2, 1, 0, 0, 0, {}}, unused{1, 1, 0, 0, 0, {}};
    driver->getChannelInfo(&used);
    driver->getChannelInfo(&unused);
    EXPECT_EQ(used.isActive * 10 + unused.isActive, 10);

    EXPECT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_InvalidMode);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
    driver->Release();
}

TEST_F(ReferenceDriverTest, ConfiguredFailuresReachTheHost) {
    void* object = nullptr;
    EXPECT_EQ(plat::coCreateInstance(classId(failCreate), classId(failCreate), &object), plat::hrFail);
    EXPECT_EQ(object, nullptr);

    IASIO* driver = create(failInit);
    char text[256];
    EXPECT_EQ(driver->init(nullptr), 0);
    driver->getErrorMessage(text);
    EXPECT_STREQ(text, "No hardware");
    driver->Release();

    driver = create(failStart);
    ASIOBufferInfo infos[1] = {{0, 0, {}}};
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(driver->createBuffers(infos, 1, 256, &callbacks), ASE_OK);
    EXPECT_EQ(driver->start(), -999);
    driver->Release(); // buffers still created: releasing must clean up
}

TEST_F(ReferenceDriverTest, StreamsInRealTimeAndCapturesEverySwitch) {
    const int32_t frames = 64;
    host->pairs = 2;
    const capcheck::Capture capture = run(streaming, 2, 2, frames, 300, "stream.cap");
    // 300 ms at 48000 Hz is 225 switches; a busy machine may deliver fewer, never more.
    EXPECT_GE(capture.switches, 50u);
    EXPECT_LE(capture.switches, 240u);
    EXPECT_EQ(capture.records, capture.switches);
    EXPECT_EQ(capture.outputReadyCalls, capture.switches);
    EXPECT_EQ(host->plainSwitches.load(), static_cast<int>(capture.switches));
    const capcheck::CheckResult result = capcheck::checkCapture(capture, {false, true, 1, capture.switches});
    EXPECT_TRUE(result.ok) << result.message;
    // The inputs carry the known signal at each switch's sample position.
    for (uint32_t r = 0; r < capture.records; r += 37)
        for (int32_t k = 0; k < 2; ++k)
            for (int32_t s = 0; s < frames; s += 5) {
                float sample;
                std::memcpy(&sample, capture.input(r, k) + s * 4, 4);
                ASSERT_FLOAT_EQ(sample, static_cast<float>(signalAt(k, r * frames + s)))
                    << r << " " << k << " " << s;
            }
}

TEST_F(ReferenceDriverTest, UsesTimeInfoCallbacksOnlyWhenTheHostTakesThem) {
    host->takesTimeInfo = true;
    run(timeInfo, 1, 1, 128, 100);
    EXPECT_GT(host->timeInfoSwitches.load(), 5);
    EXPECT_EQ(host->plainSwitches.load(), 0);
    EXPECT_EQ(host->badTimeRecords.load(), 0);

    SetUp();
    run(timeInfo, 1, 1, 128, 100);
    EXPECT_EQ(host->timeInfoSwitches.load(), 0);
    EXPECT_GT(host->plainSwitches.load(), 5);
}

TEST_F(ReferenceDriverTest, OutputsTheHostLeavesAloneKeepTheSentinel) {
    // int16 inputs, int32 outputs, a host that neither writes nor sends the notice.
    host->notify = false;
    const int32_t frames = 256;
    const capcheck::Capture capture = run(quietInt16, 2, 2, frames, 100, "quiet.cap");
    EXPECT_FALSE(capture.outputReadyWanted);
    ASSERT_GT(capture.records, 0u);
    EXPECT_EQ(capture.outputs[1].type, ASIOSTInt32LSB);
    const capcheck::CheckResult result = capcheck::checkCapture(capture, {true, true, 1, 1000});
    EXPECT_TRUE(result.ok) << result.message;
    const uint32_t last = capture.records - 1;
    for (int32_t s = 0; s < frames; s += 7) {
        int16_t sample;
        std::memcpy(&sample, capture.input(last, 1) + s * 2, 2);
        ASSERT_EQ(sample, std::lrint(signalAt(1, int64_t{last} * frames + s) * 32767.0)) << s;
    }
}
