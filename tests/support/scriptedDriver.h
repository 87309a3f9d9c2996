// ScriptedDriver: an in-memory driver for unit tests. Each test sets the figures the
// driver reports and the statuses its operations return, then reads back the order of
// the calls it received. createBuffers allocates real buffers of exactly the size the
// channel's format needs (so a host that writes past them is caught by the address
// sanitizer), and the stored host callbacks can be fired from the test's thread.
// The reference count is observed only: Release never deletes, the test owns the object.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "asio/asioDriverInterface.h"

namespace teltest {

// Every operation of the interface, for failure scripting and call counting.
// clang-format off
#define TELTEST_DRIVER_OPS(X)                                                                                \
    X(QueryInterface) X(AddRef) X(Release) X(init) X(getDriverName) X(getDriverVersion) X(getErrorMessage)   \
    X(start) X(stop) X(getChannels) X(getLatencies) X(getBufferSize) X(canSampleRate) X(getSampleRate)       \
    X(setSampleRate) X(getClockSources) X(setClockSource) X(getSamplePosition) X(getChannelInfo)             \
    X(createBuffers) X(disposeBuffers) X(controlPanel) X(future) X(outputReady)
// clang-format on
#define TELTEST_OP_ENUM(name) name,
enum class Op : int32_t { TELTEST_DRIVER_OPS(TELTEST_OP_ENUM) count };
#undef TELTEST_OP_ENUM
const char* opName(Op op);

// What the driver reports. Counts may be negative or above what any host handles.
struct DriverScript {
    int32_t inputs = 2;
    int32_t outputs = 2;
    ASIOSampleType inputType = ASIOSTInt32LSB;
    ASIOSampleType outputType = ASIOSTInt32LSB;
    bool channelsActive = true;
    int32_t minSize = 64;
    int32_t maxSize = 2048;
    int32_t preferredSize = 256;
    int32_t granularity = -1;
    double sampleRate = 48000.0;
    bool writesSampleRate = true; // false: getSampleRate leaves the caller's value alone
    std::vector<double> acceptedRates = {44100.0, 48000.0};
    int32_t inputLatency = 256;
    int32_t outputLatency = 512;
    ASIOError outputReadyStatus = ASE_OK; // ASE_OK: the driver wants the output-ready notice
    bool initSucceeds = true;
    std::string errorText;                // written without terminator when 256 bytes or longer
    std::string name = "Scripted Driver"; // likewise
    int32_t version = 1;
    ASIOSamples position{}; // written as given: high word first
    ASIOTimeStamp timeStamp{};
};

class ScriptedDriver : public IASIO {
  public:
    DriverScript script;

    // Makes `op` return `status` (init: answer false). getChannelInfo may fail only
    // from its `fromCall`-th call (counted from 1) onwards.
    void failWith(Op op, ASIOError status) { f_failures[static_cast<int32_t>(op)] = status; }
    void failChannelInfoFrom(int32_t fromCall, ASIOError status);
    void setChannelType(bool input, int32_t channel, ASIOSampleType type) {
        f_types[{input, channel}] = type;
    }
    void setChannelActive(bool input, int32_t channel, bool active) { f_active[{input, channel}] = active; }

    // ---------------------------------------------------------------- observations
    std::vector<std::string> callLog() const;     // every call, COM base operations included
    std::vector<std::string> driverCalls() const; // without QueryInterface, AddRef, Release
    int32_t callCount(Op op) const;
    void clearLog();
    uint32_t refCount() const { return f_refs.load(); }
    bool buffersExist() const { return f_buffersExist; }
    int32_t createdChannelCount() const { return static_cast<int32_t>(f_buffers.size()); }
    // Half `half` of the buffer created for a channel; nullptr when there is none.
    uint8_t* buffer(bool isInput, int32_t channel, int32_t half);
    int32_t bufferBytes(bool isInput, int32_t channel);
    void fillBuffers(uint8_t byte);
    int32_t lastFutureSelector() const { return f_lastFutureSelector; }

    // ---------------------------------------------------------------- host callbacks
    // Each calls the procedure the host handed over in createBuffers; without buffers
    // nothing is called and the neutral answer (0, nullptr) comes back.
    void fireBufferSwitch(int32_t index, ASIOBool processNow);
    pASIOTime fireBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, ASIOBool processNow);
    void fireSampleRateChanged(double rate);
    int32_t fireAsioMessage(int32_t selector, int32_t value, void* message, double* opt);

    // ---------------------------------------------------------------- IASIO
    int32_t TEL_STDCALL QueryInterface(const plat::Guid& iid, void** object) override;
    uint32_t TEL_STDCALL AddRef() override;
    uint32_t TEL_STDCALL Release() override;
    ASIOBool TEL_THISCALL init(void* sysHandle) override;
    void TEL_THISCALL getDriverName(char* name) override;
    int32_t TEL_THISCALL getDriverVersion() override;
    void TEL_THISCALL getErrorMessage(char* string) override;
    ASIOError TEL_THISCALL start() override;
    ASIOError TEL_THISCALL stop() override;
    ASIOError TEL_THISCALL getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError TEL_THISCALL getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError TEL_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                         int32_t* granularity) override;
    ASIOError TEL_THISCALL canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError TEL_THISCALL getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError TEL_THISCALL setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError TEL_THISCALL getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError TEL_THISCALL setClockSource(int32_t reference) override;
    ASIOError TEL_THISCALL getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError TEL_THISCALL getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError TEL_THISCALL createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                         ASIOCallbacks* callbacks) override;
    ASIOError TEL_THISCALL disposeBuffers() override;
    ASIOError TEL_THISCALL controlPanel() override;
    ASIOError TEL_THISCALL future(int32_t selector, void* opt) override;
    ASIOError TEL_THISCALL outputReady() override;

  private:
    using Channel = std::pair<bool, int32_t>; // (isInput, channel)

    mutable std::mutex f_logLock; // callbacks may log from another thread
    std::vector<std::string> f_log;
    std::atomic<uint32_t> f_refs{1};
    ASIOError f_failures[static_cast<int32_t>(Op::count)] = {};
    int32_t f_channelInfoFailFrom = 1;
    int32_t f_channelInfoCalls = 0;
    std::map<Channel, ASIOSampleType> f_types;
    std::map<Channel, bool> f_active;
    bool f_buffersExist = false;
    ASIOCallbacks f_callbacks{};
    std::map<Channel, std::array<std::vector<uint8_t>, 2>> f_buffers; // the two halves of each channel
    int32_t f_lastFutureSelector = 0;

    ASIOError record(Op op); // logs the call and returns its scripted status
    ASIOSampleType typeOf(bool isInput, int32_t channel) const;
};

} // namespace teltest
