// The hostile run driver object: a 2-in 2-out (as configured) float device with one
// buffer size and one rate, whose stream misbehaves as its class's settings say.
// Reference counted; deletes itself when the last reference goes.
#pragma once

#include <atomic>
#include <memory>

#include "asio/asioDriverInterface.h"
#include "tests/hostile/run/pacer.h"
#include "tests/hostile/run/settings.h"

namespace hostile {

class HostileDriver final : public IASIO {
  public:
    HostileDriver(const plat::Guid& clsid, Settings settings);

    int32_t TEL_STDCALL QueryInterface(const plat::Guid& iid, void** object) override;
    uint32_t TEL_STDCALL AddRef() override;
    uint32_t TEL_STDCALL Release() override;

    ASIOBool TEL_THISCALL init(void* sysHandle) override;
    void TEL_THISCALL getDriverName(char* name) override;
    int32_t TEL_THISCALL getDriverVersion() override;
    void TEL_THISCALL getErrorMessage(char* string) override;
    ASIOError TEL_THISCALL start() override;
    ASIOError TEL_THISCALL stop() override;
    ASIOError TEL_THISCALL getChannels(int32_t* inputs, int32_t* outputs) override;
    ASIOError TEL_THISCALL getLatencies(int32_t* input, int32_t* output) override;
    ASIOError TEL_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                                         int32_t* granularity) override;
    ASIOError TEL_THISCALL canSampleRate(ASIOSampleRate rate) override;
    ASIOError TEL_THISCALL getSampleRate(ASIOSampleRate* rate) override;
    ASIOError TEL_THISCALL setSampleRate(ASIOSampleRate rate) override;
    ASIOError TEL_THISCALL getClockSources(ASIOClockSource* clocks, int32_t* count) override;
    ASIOError TEL_THISCALL setClockSource(int32_t reference) override;
    ASIOError TEL_THISCALL getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override;
    ASIOError TEL_THISCALL getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError TEL_THISCALL createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size,
                                         ASIOCallbacks* callbacks) override;
    ASIOError TEL_THISCALL disposeBuffers() override;
    ASIOError TEL_THISCALL controlPanel() override;
    ASIOError TEL_THISCALL future(int32_t selector, void* opt) override;
    ASIOError TEL_THISCALL outputReady() override;

  private:
    ~HostileDriver() = default;

    const plat::Guid f_clsid;
    const Settings f_settings;
    std::atomic<uint32_t> f_references{1};
    Buffers f_buffers;
    std::unique_ptr<Pacer> f_pacer; // while buffers exist
    bool f_running = false;
    int32_t f_creates = 0; // createBuffers calls so far
};

} // namespace hostile
