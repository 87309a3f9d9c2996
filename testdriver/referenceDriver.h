// The reference driver object: a sound card whose inputs carry a known signal and
// whose outputs are recorded, configured per class identifier (driverConfig.h), with
// the faults and figures the configuration asks for. Every operation and value is
// described in testdriver/README.md. Reference counted; deletes itself when the last
// reference goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "asio/asioDriverInterface.h"
#include "testdriver/bufferSet.h"
#include "testdriver/callFaults.h"
#include "testdriver/captureRecorder.h"
#include "testdriver/driverConfig.h"
#include "testdriver/streamEngine.h"
#include "testdriver/wireLoop.h"

namespace refdrv {

class ReferenceDriver final : public IASIO {
  public:
    // Starts with one reference, owned by the caller.
    ReferenceDriver(const plat::Guid& clsid, DriverConfig config);
    ReferenceDriver(const ReferenceDriver&) = delete;
    ReferenceDriver& operator=(const ReferenceDriver&) = delete;

    // IUnknown, and the driver's own class identifier as an interface identifier.
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
    ~ReferenceDriver();
    // Ends the stream, writes the capture of the run, if one was recorded, and the
    // journal's stream line; frees buffers disposed while the stream still ran.
    void endStream();
    // start's work once the object is initialised and has buffers.
    ASIOError startStream();
    // Asks the host whether it takes bufferSwitchTimeInfo.
    bool hostTakesTimeInfo() const;
    // Throws std::bad_alloc when the configuration's Throw names `point` (native builds).
    void throwIfAsked(FailPoint point) const;
    void journal(const std::string& line) const;
    // Starts the CallbackAfter calls with the callbacks handed over last.
    void startLingering() const;
    // StopInsideCallback: true when stop may return now, a callback held inside.
    bool returnInsideCallback();
    // In a call the host makes from inside a callback: held there when stop asked.
    void holdInsideCallback();

    const plat::Guid clsid_;
    const DriverConfig config_;
    std::atomic<uint32_t> references_{1};
    mutable CallFaults faults_;
    std::atomic<double> sampleRate_;
    bool initialised_ = false;
    void* sysHandle_ = nullptr;
    ASIOCallbacks callbacks_{};
    bool useTimeInfo_ = false;
    // The callbacks of the last successful createBuffers, kept after disposeBuffers.
    ASIOCallbacks handedCallbacks_{};
    bool handedTimeInfo_ = false;
    int32_t handedFrames_ = 0;
    std::atomic<int32_t> currentClockSource_;
    // The contract faults' state (ContractFaults).
    const unsigned objectsBefore_; // objects the module made before this one
    const bool silent_;            // made after another object was released
    bool stalled_ = false;         // "started" without a stream
    bool disposedWhileRunning_ = false;
    bool startedSinceCreate_ = false;
    uint32_t streamStarts_ = 0; // of this object, for the faults of every Kth start
    std::atomic<bool> holdRequested_{false}, held_{false}; // StopInsideCallback
    std::chrono::steady_clock::time_point buffersCreatedAt_{};
    BufferSet buffers_;
    CaptureRecorder recorder_;
    WireLoop wire_;
    StreamEngine engine_;
};

} // namespace refdrv
