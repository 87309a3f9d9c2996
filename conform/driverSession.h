// One driver object as a check holds it: created through COM, every call made through
// the driver-call observer (so a supervisor knows which call the check is in), with the
// check's own callbacks and buffers, and the host's full reaction to the driver's reset
// requests while the check waits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "conform/callbackLog.h"
#include "measure/bufferSizes.h"
#include "platform/com.h"

namespace conform {

struct ChannelPick {
    bool input = true;
    int32_t channel = 0;
};

// What a check's buffers were created with, to create them again after a reset.
struct BufferRequest {
    std::vector<ChannelPick> channels;
    int32_t size = 0;
    CallbackSettings callbacks;
};

// What sessions learnt, added up as each one ends, and what they must not do.
struct SessionTally {
    int resetsHonoured = 0;
    std::string thrown; // the first exception a driver call threw
    // Calls that hung in an earlier check: not made again. The first one a session needed
    // ends the check there (every later call fails as one that threw).
    std::vector<telDriverCall> barred;
    telDriverCall barredNeeded = telDriverCall::none;
};

class DriverSession {
  public:
    // `tally`, when given, receives the session's resets and exceptions as it ends.
    explicit DriverSession(const plat::Guid& clsid, SessionTally* tally = nullptr);
    // A careful host's tear-down of whatever is left: stop, disposeBuffers, Release.
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // ------------------------------------------------------------ the object
    // CoCreateInstance of the driver's class: 0 (S_OK) when created.
    int32_t create();
    bool created() const { return f_asio != nullptr; }
    // The host's Release of its reference (the last one); the live callbacks retire.
    void release();
    // init with no system reference; true when the driver answered non-zero.
    bool init();

    // ------------------------------------------------------------ pass-through
    std::string driverName();   // into 256 bytes, up to the first zero
    std::string errorMessage(); // likewise
    int32_t driverVersion();
    ASIOError getChannels(int32_t& inputs, int32_t& outputs);
    ASIOError getBufferSize(measure::BufferSizeRule& rule);
    ASIOError getLatencies(int32_t& input, int32_t& output);
    ASIOError canSampleRate(double rate);
    ASIOError getSampleRate(double& rate);
    ASIOError setSampleRate(double rate);
    ASIOError getClockSources(ASIOClockSource* sources, int32_t& count);
    ASIOError setClockSource(int32_t index);
    ASIOError getSamplePosition(int64_t& position, int64_t& systemTime);
    ASIOError getChannelInfo(ASIOChannelInfo& info);
    ASIOError controlPanel();
    ASIOError future(int32_t selector, void* argument);
    ASIOError outputReady();

    // ------------------------------------------------------------ buffers and the stream
    // Every channel getChannels reports (no more than 4096 a direction).
    std::vector<ChannelPick> allChannels();
    // The size runs use: the preferred size, or the legal size nearest to it.
    int32_t runSize();
    // Whether outputReady answered 0 when asked (once, before the first createBuffers).
    bool wantsOutputReady();
    // createBuffers with the next set of callbacks (outputReady after every switch when
    // the driver wants it, unless the settings say otherwise).
    ASIOError createBuffers(const std::vector<ChannelPick>& channels, int32_t size);
    ASIOError createBuffers(const BufferRequest& request);
    // createBuffers with the caller's own records, for requests that must be refused.
    ASIOError createBuffersRaw(ASIOBufferInfo* infos, int32_t count, int32_t size);
    // True when the last createBuffers succeeded with a null pointer in some record.
    bool nullBuffer() const;
    // The records of the last createBuffers made from picks, as the driver filled them.
    const std::vector<ASIOBufferInfo>& bufferInfos() const { return f_infos; }
    ASIOError disposeBuffers(); // retires the callbacks when it succeeds
    ASIOError start();
    ASIOError stop();
    int liveSet() const { return f_set; }

    // ------------------------------------------------------------ waiting
    // Seconds since the session began: now, and at a note's steady-clock stamp.
    double now() const;
    double secondsAt(int64_t steadyNanos) const;
    // Waits until `count` switches came through the live set and were noted, or `limit`
    // seconds passed; the driver's reset requests are honoured meanwhile. True when they came.
    bool waitForSwitches(uint32_t count, double limit);
    // Waits `seconds`, honouring reset requests.
    void pause(double seconds);
    // Switches that began through the live set so far, and those of them that were noted.
    uint32_t liveSwitches() const;
    uint32_t notedSwitches() const;
    // The notes taken since `from` (a noteCount() taken earlier).
    std::vector<SwitchNote> notesSince(uint32_t from) const;
    uint32_t noteMark() const;

    // ------------------------------------------------------------ resets
    // The host's full reaction to a reset request: stop, disposeBuffers, Release, create,
    // init, createBuffers and start, as far as the session had got. "" when every step
    // worked, else the step that failed ("init") with its status in `status`.
    std::string resetCycle(ASIOError& status);
    int resetsHonoured() const { return f_resetsHonoured; }

    // The first exception a driver call threw ("std::bad_alloc thrown by the driver's
    // getChannels"); "" when none did.
    const std::string& thrown() const { return f_thrown; }

  private:
    // Calls the driver as `which` through the observer; a throw (or no driver) answers `onThrow`.
    template <class Result, class Call> Result call(telDriverCall which, Result onThrow, Call&& body);
    void honourResetRequests();

    plat::Guid f_clsid;
    SessionTally* f_tally;
    IASIO* f_asio = nullptr;
    bool f_initialised = false;
    bool f_running = false;
    bool f_haveBuffers = false;
    int f_set = -1;
    int f_wantsOutputReady = -1; // not asked yet
    BufferRequest f_request;
    std::vector<ASIOBufferInfo> f_infos;
    int f_resetsHonoured = 0;
    bool f_inReset = false;
    std::string f_thrown;
    int64_t f_begin = 0;
};

} // namespace conform
