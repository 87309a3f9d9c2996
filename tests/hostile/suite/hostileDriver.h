// The hostile driver object: a plain 2-in 2-out device (figures per tricks.h) that does
// the tricks its class is configured with. Reference counted; deletes itself at 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "stream.h"
#include "tricks.h"

namespace hostile {

class HostileDriver final : public IASIO {
  public:
    HostileDriver(const plat::Guid& clsid, Tricks tricks);
    HostileDriver(const HostileDriver&) = delete;
    HostileDriver& operator=(const HostileDriver&) = delete;

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
    ~HostileDriver();
    // Every call begins here: slow-calls waits.
    void enter() const;
    bool legalSize(int32_t size) const;
    StreamSetup setup() const;
    // Collects the late switch of callback-after-dispose, if one is pending.
    void joinLate();

    const plat::Guid clsid_;
    const Tricks tricks_;
    std::atomic<uint32_t> references_{1};
    bool initialised_ = false;
    double clockRate_;                 // what the stream runs at
    std::atomic<double> reportedRate_; // what getSampleRate says
    int32_t frames_ = 0;               // 0: no buffers
    ASIOCallbacks callbacks_{};
    bool useTimeInfo_ = false;
    bool startedOnBuffers_ = false; // a start was made on these buffers
    bool silent_ = false;           // restart-once: "running" without a stream
    std::vector<uint8_t> memory_;
    Stream stream_;
    std::thread late_;
};

} // namespace hostile
