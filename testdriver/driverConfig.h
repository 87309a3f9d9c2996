// The reference driver's configuration: one set of values per registered class
// identifier, read once when an object of that class is created. Every value and its
// default is documented in testdriver/README.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asio/asioTypes.h"
#include "platform/com.h"
#include "testdriver/callFaults.h"

namespace refdrv {

// The one operation a configuration can make fail (or throw).
enum class FailPoint {
    none,
    init,
    getChannels,
    getBufferSize,
    createBuffers,
    getChannelInfo,
    getLatencies,
    start,
    stop,
    getSamplePosition,
    setSampleRate,
    create,
    getClassObject,
};

// When the module goes on calling a host's callbacks after the host let go of them.
enum class CallbackAfter { never, disposeBuffers, release };

// One entry of getClockSources.
struct ClockSourceEntry {
    std::string name;
    int32_t group = -1;
};

// The buffer sizes a rate of BufferSizesByRate allows.
struct RateBufferSizes {
    double rate = 0.0;
    int32_t min = 0;
    int32_t max = 0;
};

// What getBufferSize reports at a given rate.
struct BufferLimits {
    int32_t min;
    int32_t max;
    int32_t preferred;
    int32_t granularity;
};

// The buffer size the configured latencies are those of.
inline constexpr int32_t latencyReferenceSize = 300;

// Faults of the stream's schedule. Switch numbers count the schedule's slots from 0 at
// start; a negative switch number is off.
struct StreamFaults {
    uint32_t seed = 1;
    int32_t jitterMicros = 0;  // 0: off
    int32_t dropEvery = 0;     // off below 2
    int32_t repeatHalfAt = -1; // off below 1
    int32_t badHalfAt = -1;
    int32_t badHalf = 2;
    int32_t jumpAt = -1;
    int32_t jumpBy = 0;
    int32_t rateErrorPpm = 0;
    int32_t messageAt = -1;
    std::vector<int32_t> messageSelectors; // the i-th goes at messageAt + i
    int32_t rateChangeAt = -1;
    int32_t stallAt = -1;  // from this switch on nothing is delivered for stallMs
    int32_t stallMs = 0;   // 0 or less: until the stream is stopped
    bool stallLosesTime = false; // after the stall the schedule goes on from then, not caught up
    int32_t crashAt = -1;  // the stream's thread crashes before this switch
    int32_t callbackCostMicros = 0; // the driver's own work after every switch
    std::vector<int32_t> holdAt;    // switches the stream's thread holds back for holdMs
    int32_t holdMs = 0;
    bool holdBusy = false; // hold by busy-waiting on its processor instead of sleeping
    // Faults of some starts only, counted from 1 over the object's stream starts; off below 1.
    int32_t startExtraBufferEvery = 0;  // every Kth start the wire's delay is one buffer longer
    std::optional<double> startExtraDelay; // samples those starts add instead of one buffer
    int32_t firstCallbackMissEvery = 0; // every Kth start nothing comes for firstMissMs at first
};

// How long a start of FirstCallbackMissEvery delivers nothing.
inline constexpr int32_t firstMissMs = 1500;

// One path of a channel map (WireMap); what it leaves unset is the single wire's.
struct WirePath {
    int32_t from = 0, to = 0; // 1-based output and input
    std::optional<double> delay, gainDb, drift;
    bool invert = false; // inverts (on top of WireInvert)
};

// The loopback cable from one output to one input, or a map of such paths.
struct WireConfig {
    int32_t from = 0;  // 1-based output channel; 0: off
    int32_t to = 0;    // 1-based input channel; 0: off
    double delay = 0;  // samples beyond the two buffers of the driver's own path
    double gainDb = 0.0;
    bool invert = false;
    std::optional<double> noiseDb; // RMS relative to full scale
    std::vector<int32_t> dropoutAt;
    double drift = 0.0;          // samples the delay grows by per minute of stream
    std::vector<WirePath> map;   // WireMap: replaces from and to when given
    bool mapGiven = false;       // a WireMap was set (a malformed one leaves `map` empty)
};

// Faults of the host-driver contract: each breaks one promise hosts rely on, so that a
// conformance check has a driver to fail. Off by default.
struct ContractFaults {
    bool versionCountsObjects = false;  // getDriverVersion adds the objects the module made before
    bool answerMissingChannels = false; // getChannelInfo answers 0 for channels that do not exist
    bool acceptBadRates = false;        // canSampleRate answers 0 for a rate not finite or not above 0
    bool rateNotApplied = false;        // setSampleRate answers 0 and leaves the rate as it was
    bool sizeClampedSilently = false;   // createBuffers runs a refused size at the nearest legal one
    bool subsetStalls = false;          // a stream on fewer buffers than channels delivers no switch
    bool createTwiceAccepted = false;   // a second createBuffers answers 0 and hands back null buffers
    bool acceptNoChannels = false;      // createBuffers for 0 channels answers 0
    int32_t stopLateSwitches = 0;       // stop returns at once; this many switches still follow
    bool startWithoutBuffers = false;   // start without buffers answers 0
    bool disposeLeavesStream = false;   // disposeBuffers while running answers 0 and the stream goes on
    bool releaseRunningCrashes = false; // the last Release while running writes through a null pointer
    bool positionBeforeStart = false;   // the position runs between createBuffers and start
    uint32_t timeInfoFlags = 3;         // the flags of the time-info records
    bool stopWaitsForOutputReady = false; // stop waits for an outputReady that never comes
    int32_t needsHostSupport = 0;       // createBuffers refuses a host that does not support this selector
    bool silentAfterRecreate = false;   // objects made after one was released deliver no switch

    // The rate the time-info records carry (empty: the current rate).
    std::optional<double> timeInfoRate;
    // stop returns while a callback is held inside this many milliseconds (0: off).
    int32_t stopInsideCallbackMs = 0;
};

// Most samples WireDelay may add.
inline constexpr int32_t maxWireDelay = 1 << 20;

// Most channels a configuration may ask for in either direction.
inline constexpr int32_t maxChannels = 1024;

struct DriverConfig {
    std::string driverName = "Echoprobe Reference";
    int32_t driverVersion = 1;
    int32_t inputs = 2;
    int32_t outputs = 2;
    ASIOSampleType inputType = ASIOSTFloat32LSB;
    ASIOSampleType outputType = ASIOSTFloat32LSB;
    int32_t bufferMin = 64;
    int32_t bufferMax = 2048;
    int32_t bufferPreferred = 256;
    int32_t granularity = 1;
    std::vector<double> sampleRates{44100.0, 48000.0};
    double sampleRate = 44100.0;
    // What getLatencies reports at buffers of latencyReferenceSize samples (by default one
    // buffer in and two out, a report that holds its buffers at every size); each follows
    // the buffer size unless staleLatencies keeps it as it is at every size.
    int32_t inputLatency = 300;
    int32_t outputLatency = 600;
    bool staleLatencies = false;
    bool wantsOutputReady = true;
    bool timeInfoMode = false;
    FailPoint fail = FailPoint::none;
    int32_t failCode = ASE_NotPresent;
    std::string errorText;
    std::string capturePath;
    uint32_t captureLimit = 4000;
    std::string channelNamePrefix;

    FailPoint throwAt = FailPoint::none;
    CallFaultConfig callFaults;
    CallbackAfter callbackAfter = CallbackAfter::never;
    int32_t callbackAfterMs = 200;
    int32_t initMs = 0;
    int32_t controlPanelMs = 0;
    bool nullBuffers = false;
    bool unterminatedNames = false;
    std::optional<int32_t> reportInputs;
    std::optional<int32_t> reportOutputs;
    std::vector<ASIOSampleType> inputTypes; // per channel from the first; the rest inputType
    std::vector<ASIOSampleType> outputTypes;
    int32_t channelGroupSize = 0; // 0: every channel in group 0
    std::vector<ClockSourceEntry> clockSources{{"Internal", -1}};
    int32_t clockSourceCurrent = 0;
    std::vector<RateBufferSizes> bufferSizesByRate;
    std::vector<int32_t> futureSelectors;
    std::string journalPath;
    StreamFaults faults;
    WireConfig wire;
    ContractFaults contract;

    bool fails(FailPoint point) const { return fail == point; }
    bool throwsAt(FailPoint point) const { return throwAt == point; }
    bool acceptsRate(double rate) const;
    // The configured sizes, or BufferSizesByRate's minimum and maximum while `rate` is
    // one of its rates (the preferred size clamped into them).
    BufferLimits bufferLimits(double rate) const;
    // True when a buffer of `frames` samples fits between the minimum and the maximum at
    // `rate` and the granularity's rule (step from the minimum, or powers of two for -1).
    bool acceptsBufferSize(int32_t frames, double rate) const;
    // The size from 1 up that the rules at `rate` accept nearest to `frames`.
    int32_t nearestBufferSize(int32_t frames, double rate) const;
    // A configured latency as reported with buffers of `frames` samples: larger or smaller
    // by what the buffers are larger or smaller than latencyReferenceSize (never below 0),
    // as a latency that holds one buffer; the configured value itself when the latencies
    // are stale or the value is negative (a report broken at every size).
    int32_t reportedLatency(int32_t configured, int32_t frames) const;
    ASIOSampleType sampleType(bool isInput, int32_t channel) const;
    int32_t channelGroup(int32_t channel) const;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string guidToText(const plat::Guid& guid);

// The values under HKEY_CLASSES_ROOT\CLSID\{clsid}; defaults for whatever is missing.
DriverConfig loadDriverConfig(const plat::Guid& clsid);

// Helpers of the loader.
FailPoint failPointFromText(const std::string& text);
std::vector<double> parseRateList(const std::string& text);

} // namespace refdrv
