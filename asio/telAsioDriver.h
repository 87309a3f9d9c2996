// telAsioDriver: one opened driver, walked through its four states, with a copy of the
// figures the tool reports and the per-channel buffer and channel entries the audio
// path needs. Callbacks reach it through a callback slot and go first to an attached
// buffer processor, then to the object's own defaults and events.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "asio/asioDriverInterface.h"
#include "asio/asioEvents.h"
#include "asio/driverCall.h"
#include "asio/sampleAccess.h"
#include "core/telClasses.h"

class telAsioBufferProcessor;

enum telASIODriverState : int32_t { dsLoaded = 0, dsInitialized = 1, dsPrepared = 2, dsRunning = 3 };

// Most channels of each direction the object handles; the arrays hold both directions.
inline constexpr int32_t telMaxChannelsPerDirection = 256;
inline constexpr int32_t telMaxChannels = 2 * telMaxChannelsPerDirection;

// The layer's status for a driver call that threw instead of answering.
inline constexpr ASIOError telDriverThrew = -6;
// The layer's status for buffers left undisposed because a callback of the driver was
// still inside the driver object after the wait.
inline constexpr ASIOError telCallbackInside = -7;

class telAsioDriver : public telObject {
  public:
    // Takes its own counted reference to `asio`; starts in dsLoaded. Nothing is called
    // on the driver. Create with telCreate<telAsioDriver>(asio).
    explicit telAsioDriver(IASIO* asio);
    ~telAsioDriver() override; // Destroy: stop, release, base destruction, drop the interface last

    // ------------------------------------------------------------ lifecycle
    ASIOError init(int32_t sysref, telBool createBuffers, int32_t bufSize);
    telBool release();
    ASIOError start(telBool createBuffers, int32_t bufSize);
    ASIOError stop(telBool releaseBuffers);

    // ------------------------------------------------------------ pass-through
    telBool canSampleRate(double sampleRate);
    ASIOError setSampleRate(double sampleRate);
    // Swaps the driver's high-word-first halves into native 64-bit values.
    ASIOError getSamplePosition(int64_t& sPos, int64_t& tStamp);
    ASIOError controlPanel();
    ASIOError future(int32_t selector, void* opt);
    ASIOError outputReady();
    // hardCall: ask the driver now; otherwise the stored driverInfo.errorMessage.
    telAnsiText getDriverError(telBool hardCall);
    // The driver's clock sources: `numSources` gives the room in `clocks` and comes back
    // as the number the driver filled (never more than the room).
    ASIOError getClockSources(pASIOClockSources clocks, int32_t& numSources);
    ASIOError setClockSource(int32_t reference);
    // The driver's channel counts, asked now (the object's own are limited to 256 a
    // direction).
    ASIOError getChannels(int32_t& inputs, int32_t& outputs);
    // The driver's buffer-size figures, asked now (they are also read, and kept, when
    // buffers are prepared).
    ASIOError getBufferSize(int32_t& minSize, int32_t& maxSize, int32_t& preferredSize, int32_t& granularity);

    // Entry `index` of the channel arrays (inputs first, then outputs), or nullptr
    // for an index outside 0 .. inputs + outputs - 1.
    pASIOBufferInfo getBufferInfoByIndex(int32_t index);
    pASIOChannelInfo getChannelInfoByIndex(int32_t index);

    // ------------------------------------------------------------ sample access
    // Bytes of one buffer half of the channel, or -1 for a bad index.
    int32_t getBufferSizeInBytes(int32_t chIndex);
    // Writes one sample in the channel's own format: ASE_OK, ASE_InvalidParameter or
    // ASE_NotPresent.
    ASIOError setSample(int32_t channelIndex, int32_t bufIndex, int32_t sampleIndex, double value,
                        telASIOSampleOp op);
    // Writes samples firstSample .. firstSample + count - 1 of a buffer half from
    // `values`, with the same conversion and statuses as setSample but one format
    // dispatch for the whole run.
    ASIOError setSamples(int32_t channelIndex, int32_t bufIndex, int32_t firstSample, const double* values,
                         int32_t count, telASIOSampleOp op);

    // ------------------------------------------------------------ properties
    pASIODriverInfo driverInfo() { return &f_driverInfo; }
    telASIODriverState driverState() const { return f_driverState; }
    telBool postOutput() const { return f_postOutput; }
    int32_t inputChannels() const { return f_inputChannels; }
    int32_t outputChannels() const { return f_outputChannels; }
    int32_t bufMinSize() const { return f_minBufSize; }
    int32_t bufMaxSize() const { return f_maxBufSize; }
    int32_t bufPreferredSize() const { return f_preferredBufSize; }
    int32_t bufGranularity() const { return f_granularity; }
    int32_t bufActualSize() const { return f_actualBufSize; }
    // The latencies the driver reported once its buffers were made (see readLatencies).
    int32_t inputLatency() const { return f_inputLatency; }
    int32_t outputLatency() const { return f_outputLatency; }
    // Asks the driver for its latencies again and keeps them (a change of rate once the
    // buffers exist may change them); the kept ones stay when the driver fails to answer.
    ASIOError readLatencies();
    // Asked of the driver at every read.
    double sampleRate();
    telAsioBufferProcessor* bufferProcessor() const;
    // Attach: stores the new processor and points it at this object, then waits until no
    // callback is inside the driver object any more and clears the former processor's
    // driver reference. False when a callback was still inside after the wait: the
    // former processor may then still be in use and must not be freed.
    bool setBufferProcessor(telAsioBufferProcessor* processor);
    // The rate buffers are made at. By default the buffers' set-up keeps to rates from 1 to
    // 96000 Hz and sets 44100 Hz for any other, as the plain run always did; a run that
    // chose its rate itself (any measuring run) keeps the rate the driver runs at, so a
    // driver without 44100 Hz runs at 192000 Hz.
    void keepRateForBuffers(bool keep) { f_keepRate = keep; }
    // True while the buffers exist and buffer switches are passed on to the handlers.
    bool buffersLive() const { return f_buffersLive.load(); }
    // True when the last wait for the driver's callbacks to leave this object gave up
    // (the driver never left a callback within the wait): the object, its buffers and
    // whatever its processor uses must then stay as they are, in memory.
    bool callbackStillInside() const { return f_callbackStillInside; }
    int32_t callbackSlot() const { return f_di; }
    telBool shouldReset() const { return f_shouldReset; }
    telBool looksLike24() const { return f_looksLike24; }
    IASIO* asio() const { return f_asio; }
    // The first exception a driver call threw instead of answering ("std::bad_alloc
    // thrown by the driver's init"); empty when none did. The call itself then failed
    // with telDriverThrew (init: as refused).
    std::string driverThrow() const;

    bufferSwitchEvent onBufferSwitch() const { return f_onBS; }
    sampleRateChangedEvent onSampleRateChanged() const { return f_onSRC; }
    asioMessageEvent onAsioMessage() const { return f_onAM; }
    bufferSwitchTimeInfoEvent onBufferSwitchTimeInfo() const { return f_onBSTI; }
    void setOnBufferSwitch(bufferSwitchEvent e) { f_onBS = e; }
    void setOnSampleRateChanged(sampleRateChangedEvent e) { f_onSRC = e; }
    void setOnAsioMessage(asioMessageEvent e) { f_onAM = e; }
    void setOnBufferSwitchTimeInfo(bufferSwitchTimeInfoEvent e) { f_onBSTI = e; }

    // ------------------------------------------------------------ callback handlers
    // Called only by the callback dispatch, on the driver's thread.
    virtual void handleBufferSwitch(int32_t index, telBool processNow);
    virtual pASIOTime handleBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow);
    virtual void handleSampleRateChanged(double rate);
    virtual int32_t handleAsioMessage(int32_t selector, int32_t value, void* message, double* opt);

  private:
    IASIO* f_asio = nullptr;
    int32_t f_handle = 0;
    ASIODriverInfo f_driverInfo{};
    telASIODriverState f_driverState = dsLoaded;
    ASIOCallbacks f_callbacks{};
    int32_t f_di = -1;
    telAsioBufferProcessor* f_bp = nullptr;
    int32_t f_maxBufSize = 0;
    int32_t f_minBufSize = 0;
    int32_t f_actualBufSize = 0;
    int32_t f_preferredBufSize = 0;
    int32_t f_outputChannels = 0;
    int32_t f_inputChannels = 0;
    telBool f_postOutput = telFalse;
    int32_t f_outputLatency = 0;
    int32_t f_inputLatency = 0;
    int32_t f_granularity = 0;
    telBool f_looksLike24 = telFalse;
    bool f_keepRate = false;
    telBool f_shouldReset = telFalse;
    ASIOBufferInfo f_bufferInfo[telMaxChannels]{};
    ASIOChannelInfo f_channelInfo[telMaxChannels]{};
    bufferSwitchEvent f_onBS{};
    sampleRateChangedEvent f_onSRC{};
    bufferSwitchTimeInfoEvent f_onBSTI{};
    asioMessageEvent f_onAM{};

    // Buffer switches reach the handlers only while this is set: from the end of buffer
    // preparation until just before the buffers are disposed.
    std::atomic<bool> f_buffersLive{false};
    bool f_callbackStillInside = false;
    // The callback slot given back while a callback was still inside; -1 once none is.
    int32_t f_vacatedSlot = -1;

    // The first exception a driver call threw: claimed once, then published.
    std::atomic<bool> f_throwClaimed{false};
    std::atomic<bool> f_throwNoted{false};
    telDriverCall f_throwCall = telDriverCall::none;
    char f_throwText[120] = {};
    void noteThrow(telDriverCall call, const char* what) noexcept;
    // Calls the driver as `which`, telling the call observer and catching what it throws.
    template <class Result, class Call> Result guarded(telDriverCall which, Result onThrow, Call&& call) noexcept {
        return callDriver(
            which, onThrow, [this](telDriverCall thrower, const char* what) noexcept { noteThrow(thrower, what); },
            call);
    }

    ASIOError readDriverFigures();
    // Waits until no callback is inside this object (through its slot, or the slot it
    // gave back while one was); false, and callbackStillInside, when one still is.
    bool waitForCallbacksToLeave();
    // Stops passing buffer switches on and waits until none is inside any more.
    bool closeBufferGate();
    ASIOError prepareBuffers(int32_t bufSize);
    ASIOError freeBuffers();
    bool validIndex(int32_t index) const;
};
