#include "testdriver/driverConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "testdriver/configLists.h"

namespace refdrv {

namespace {

// Reads a value's raw bytes; false when the value is missing or unreadable.
bool readRaw(plat::RegKey key, const char* name, std::string& bytes) {
    uint8_t small[512];
    uint32_t size = sizeof small;
    int32_t status = plat::regQueryValueExA(key, name, small, size);
    if (status == plat::errorSuccess) {
        bytes.assign(reinterpret_cast<const char*>(small), size <= sizeof small ? size : sizeof small);
        return true;
    }
    if (status != plat::errorMoreData || size == 0) return false;
    std::vector<uint8_t> large(size);
    status = plat::regQueryValueExA(key, name, large.data(), size);
    if (status != plat::errorSuccess) return false;
    bytes.assign(reinterpret_cast<const char*>(large.data()), size <= large.size() ? size : large.size());
    return true;
}

// A string value without its terminating zero(s).
void readString(plat::RegKey key, const char* name, std::string& target) {
    std::string bytes;
    if (!readRaw(key, name, bytes)) return;
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    target = bytes;
}

// A DWORD value read as a signed 32-bit number; anything that is not 4 bytes is ignored.
bool readInt(plat::RegKey key, const char* name, int32_t& target) {
    std::string bytes;
    if (!readRaw(key, name, bytes) || bytes.size() != 4) return false;
    uint32_t raw = 0;
    for (int i = 3; i >= 0; --i)
        raw = (raw << 8) | static_cast<uint8_t>(bytes[i]);
    target = static_cast<int32_t>(raw);
    return true;
}

int32_t clampChannels(int32_t count) {
    return count < 0 ? 0 : (count > maxChannels ? maxChannels : count);
}

// A string value read as a list of integers; untouched when the value is missing or empty.
void readIntegerList(plat::RegKey key, const char* name, std::vector<int32_t>& target) {
    std::string text;
    readString(key, name, text);
    if (!text.empty()) target = parseIntegerList(text);
}

void readDecimal(plat::RegKey key, const char* name, double& target) {
    std::string text;
    readString(key, name, text);
    if (const std::optional<double> value = parseDecimal(text)) target = *value;
}

// Faults of the object's operations that a host must survive.
void readHostFaults(plat::RegKey key, DriverConfig& config) {
    std::string text;
    readString(key, "Throw", text);
    config.throwAt = failPointFromText(text);
    text.clear();
    readString(key, "CallbackAfter", text);
    if (text == "disposeBuffers") config.callbackAfter = CallbackAfter::disposeBuffers;
    if (text == "release") config.callbackAfter = CallbackAfter::release;
    readInt(key, "CallbackAfterMs", config.callbackAfterMs);
    readInt(key, "InitMs", config.initMs);
    text.clear();
    readString(key, "CrashIn", text);
    config.callFaults.crashIn = driverCallFromText(text);
    text.clear();
    readString(key, "HangIn", text);
    config.callFaults.hangIn = driverCallFromText(text);
    text.clear();
    readString(key, "HangAfter", text);
    config.callFaults.hangAfter = driverCallFromText(text);
    readInt(key, "HangMs", config.callFaults.hangMs);
    readInt(key, "ControlPanelMs", config.controlPanelMs);
    int32_t flag = 0;
    if (readInt(key, "NullBuffers", flag)) config.nullBuffers = flag != 0;
    if (readInt(key, "UnterminatedNames", flag)) config.unterminatedNames = flag != 0;
    int32_t count = 0;
    if (readInt(key, "ReportInputs", count)) config.reportInputs = count;
    if (readInt(key, "ReportOutputs", count)) config.reportOutputs = count;
}

// The faults of the host-driver contract.
void readContractFaults(plat::RegKey key, ContractFaults& contract) {
    const struct {
        const char* name;
        bool ContractFaults::*flag;
    } flags[] = {
        {"VersionCountsObjects", &ContractFaults::versionCountsObjects},
        {"AnswerMissingChannels", &ContractFaults::answerMissingChannels},
        {"AcceptBadRates", &ContractFaults::acceptBadRates},
        {"RateNotApplied", &ContractFaults::rateNotApplied},
        {"SizeClampedSilently", &ContractFaults::sizeClampedSilently},
        {"SubsetStalls", &ContractFaults::subsetStalls},
        {"CreateTwiceAccepted", &ContractFaults::createTwiceAccepted},
        {"AcceptNoChannels", &ContractFaults::acceptNoChannels},
        {"StartWithoutBuffers", &ContractFaults::startWithoutBuffers},
        {"DisposeLeavesStream", &ContractFaults::disposeLeavesStream},
        {"ReleaseRunningCrashes", &ContractFaults::releaseRunningCrashes},
        {"PositionBeforeStart", &ContractFaults::positionBeforeStart},
        {"StopWaitsForOutputReady", &ContractFaults::stopWaitsForOutputReady},
        {"SilentAfterRecreate", &ContractFaults::silentAfterRecreate},
    };
    int32_t value = 0;
    for (const auto& flag : flags)
        if (readInt(key, flag.name, value)) contract.*flag.flag = value != 0;
    readInt(key, "StopLateSwitches", contract.stopLateSwitches);
    if (readInt(key, "TimeInfoFlags", value)) contract.timeInfoFlags = static_cast<uint32_t>(value);
    if (readInt(key, "TimeInfoRate", value)) contract.timeInfoRate = static_cast<double>(value);
    readInt(key, "StopInsideCallback", contract.stopInsideCallbackMs);
    readInt(key, "NeedsHostSupport", contract.needsHostSupport);
}

// What a host's capability probe finds.
void readProbeTruths(plat::RegKey key, DriverConfig& config) {
    readIntegerList(key, "InputTypes", config.inputTypes);
    readIntegerList(key, "OutputTypes", config.outputTypes);
    readInt(key, "ChannelGroupSize", config.channelGroupSize);
    std::string text;
    readString(key, "ClockSources", text);
    if (!text.empty()) config.clockSources = parseClockSources(text);
    readInt(key, "ClockSourceCurrent", config.clockSourceCurrent);
    text.clear();
    readString(key, "BufferSizesByRate", text);
    config.bufferSizesByRate = parseBufferSizesByRate(text);
    readIntegerList(key, "FutureSelectors", config.futureSelectors);
}

void readStreamFaults(plat::RegKey key, StreamFaults& faults) {
    int32_t seed = 0;
    if (readInt(key, "Seed", seed)) faults.seed = static_cast<uint32_t>(seed);
    readInt(key, "JitterUs", faults.jitterMicros);
    readInt(key, "DropEvery", faults.dropEvery);
    readInt(key, "RepeatHalfAt", faults.repeatHalfAt);
    readInt(key, "BadHalfAt", faults.badHalfAt);
    readInt(key, "BadHalf", faults.badHalf);
    readInt(key, "JumpAt", faults.jumpAt);
    readInt(key, "JumpBy", faults.jumpBy);
    readInt(key, "RateErrorPpm", faults.rateErrorPpm);
    readInt(key, "MessageAt", faults.messageAt);
    readInt(key, "RateChangeAt", faults.rateChangeAt);
    readInt(key, "StallAt", faults.stallAt);
    readInt(key, "StallMs", faults.stallMs);
    int32_t losesTime = 0;
    if (readInt(key, "StallLosesTime", losesTime)) faults.stallLosesTime = losesTime != 0;
    readInt(key, "CrashAt", faults.crashAt);
    readInt(key, "CallbackCostUs", faults.callbackCostMicros);
    readIntegerList(key, "HoldAt", faults.holdAt);
    readInt(key, "HoldMs", faults.holdMs);
    readInt(key, "StartExtraBufferEvery", faults.startExtraBufferEvery);
    double extraDelay = -1;
    readDecimal(key, "StartExtraDelay", extraDelay);
    if (extraDelay >= 0 && extraDelay <= maxWireDelay) faults.startExtraDelay = extraDelay;
    readInt(key, "FirstCallbackMissEvery", faults.firstCallbackMissEvery);
    int32_t busy = 0;
    if (readInt(key, "HoldBusy", busy)) faults.holdBusy = busy == 1;
    // A dword, or a string of selectors (a three-character string is as long as a dword).
    std::string bytes;
    if (readRaw(key, "MessageSelector", bytes)) {
        if (!rawValueIsText(bytes)) {
            int32_t selector = 0;
            readInt(key, "MessageSelector", selector);
            faults.messageSelectors = {selector};
        } else {
            readIntegerList(key, "MessageSelector", faults.messageSelectors);
        }
    }
}

void readWire(plat::RegKey key, WireConfig& wire) {
    readInt(key, "WireFrom", wire.from);
    readInt(key, "WireTo", wire.to);
    // A dword of whole samples, or a decimal number such as "96.5".
    std::string bytes;
    if (readRaw(key, "WireDelay", bytes)) {
        int32_t whole = 0;
        if (bytes.size() == 4 && !rawValueIsText(bytes) && readInt(key, "WireDelay", whole))
            wire.delay = whole;
        else
            readDecimal(key, "WireDelay", wire.delay);
        wire.delay =
            wire.delay < 0 || !(wire.delay == wire.delay) ? 0 : std::min<double>(wire.delay, maxWireDelay);
    }
    readDecimal(key, "WireGainDb", wire.gainDb);
    std::string text;
    readString(key, "WireNoiseDb", text);
    wire.noiseDb = parseDecimal(text);
    int32_t flag = 0;
    if (readInt(key, "WireInvert", flag)) wire.invert = flag != 0;
    readIntegerList(key, "WireDropoutAt", wire.dropoutAt);
    // A dword of whole samples per minute, or a decimal number such as "-0.5".
    if (readRaw(key, "WireDriftSamples", bytes)) {
        int32_t whole = 0;
        if (bytes.size() == 4 && !rawValueIsText(bytes) && readInt(key, "WireDriftSamples", whole))
            wire.drift = whole;
        else
            readDecimal(key, "WireDriftSamples", wire.drift);
        if (!std::isfinite(wire.drift)) wire.drift = 0.0;
    }
    text.clear();
    readString(key, "WireMap", text);
    if (!text.empty()) {
        wire.mapGiven = true;
        if (const auto map = parseWireMap(text)) wire.map = *map;
    }
}

} // namespace

bool DriverConfig::acceptsRate(double rate) const {
    for (double accepted : sampleRates)
        if (accepted == rate) return true;
    return false;
}

BufferLimits DriverConfig::bufferLimits(double rate) const {
    BufferLimits limits{bufferMin, bufferMax, bufferPreferred, granularity};
    for (const RateBufferSizes& sizes : bufferSizesByRate) {
        if (sizes.rate != rate) continue;
        limits.min = sizes.min;
        limits.max = sizes.max;
        limits.preferred = bufferPreferred < sizes.min
                               ? sizes.min
                               : (bufferPreferred > sizes.max ? sizes.max : bufferPreferred);
        break;
    }
    return limits;
}

bool DriverConfig::acceptsBufferSize(int32_t frames, double rate) const {
    const BufferLimits limits = bufferLimits(rate);
    if (frames < 1 || frames < limits.min || frames > limits.max) return false;
    if (limits.granularity == -1) return (frames & (frames - 1)) == 0;
    if (limits.granularity > 1) return (frames - limits.min) % limits.granularity == 0;
    return true;
}

int32_t DriverConfig::nearestBufferSize(int32_t frames, double rate) const {
    const BufferLimits limits = bufferLimits(rate);
    const int64_t low = limits.min < 1 ? 1 : limits.min;
    const int64_t high = limits.max < low ? low : limits.max;
    int64_t size = frames < low ? low : (frames > high ? high : frames);
    if (limits.granularity == -1) {
        int64_t best = -1;
        for (int64_t power = 1; power <= high; power *= 2)
            if (power >= low && (best < 0 || std::llabs(power - size) < std::llabs(best - size)))
                best = power;
        if (best > 0) size = best;
    } else if (limits.granularity > 1) {
        size = low + (size - low + limits.granularity / 2) / limits.granularity * limits.granularity;
        if (size > high) size -= limits.granularity;
    }
    return static_cast<int32_t>(size);
}

int32_t DriverConfig::reportedLatency(int32_t configured, int32_t frames) const {
    if (staleLatencies || configured < 0) return configured;
    const int64_t followed = int64_t{configured} + frames - latencyReferenceSize;
    return static_cast<int32_t>(std::clamp<int64_t>(followed, 0, INT32_MAX));
}

ASIOSampleType DriverConfig::sampleType(bool isInput, int32_t channel) const {
    const std::vector<ASIOSampleType>& types = isInput ? inputTypes : outputTypes;
    if (channel >= 0 && channel < static_cast<int32_t>(types.size())) return types[channel];
    return isInput ? inputType : outputType;
}

int32_t DriverConfig::channelGroup(int32_t channel) const {
    return channelGroupSize > 0 ? channel / channelGroupSize : 0;
}

std::string guidToText(const plat::Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

FailPoint failPointFromText(const std::string& text) {
    static const struct {
        const char* name;
        FailPoint point;
    } names[] = {
        {"init", FailPoint::init},
        {"getChannels", FailPoint::getChannels},
        {"getBufferSize", FailPoint::getBufferSize},
        {"createBuffers", FailPoint::createBuffers},
        {"getChannelInfo", FailPoint::getChannelInfo},
        {"getLatencies", FailPoint::getLatencies},
        {"start", FailPoint::start},
        {"stop", FailPoint::stop},
        {"getSamplePosition", FailPoint::getSamplePosition},
        {"setSampleRate", FailPoint::setSampleRate},
        {"create", FailPoint::create},
        {"getClassObject", FailPoint::getClassObject},
    };
    for (const auto& entry : names)
        if (text == entry.name) return entry.point;
    return FailPoint::none;
}

std::vector<double> parseRateList(const std::string& text) {
    std::vector<double> rates;
    const char* cursor = text.c_str();
    while (*cursor) {
        char* end = nullptr;
        double rate = std::strtod(cursor, &end);
        if (end == cursor) {
            ++cursor; // skip separators and stray characters
            continue;
        }
        if (rate > 0.0) rates.push_back(rate);
        cursor = end;
    }
    return rates;
}

DriverConfig loadDriverConfig(const plat::Guid& clsid) {
    DriverConfig config;
    plat::RegKey key = 0;
    if (plat::regOpenKeyA(plat::regClassesRoot(), "CLSID\\" + guidToText(clsid), key) != plat::errorSuccess)
        return config;

    readString(key, "DriverName", config.driverName);
    readInt(key, "DriverVersion", config.driverVersion);
    if (readInt(key, "Inputs", config.inputs)) config.inputs = clampChannels(config.inputs);
    if (readInt(key, "Outputs", config.outputs)) config.outputs = clampChannels(config.outputs);
    readInt(key, "InputType", config.inputType);
    readInt(key, "OutputType", config.outputType);
    readInt(key, "BufferMin", config.bufferMin);
    readInt(key, "BufferMax", config.bufferMax);
    readInt(key, "BufferPreferred", config.bufferPreferred);
    readInt(key, "Granularity", config.granularity);

    std::string rates;
    readString(key, "SampleRates", rates);
    if (!rates.empty()) config.sampleRates = parseRateList(rates);
    int32_t rate = 0;
    if (readInt(key, "SampleRate", rate) && rate > 0) config.sampleRate = rate;

    readInt(key, "InputLatency", config.inputLatency);
    readInt(key, "OutputLatency", config.outputLatency);
    int32_t flag = 0;
    if (readInt(key, "StaleLatencies", flag)) config.staleLatencies = flag != 0;
    flag = 0;
    if (readInt(key, "OutputReady", flag)) config.wantsOutputReady = flag != 0;

    std::string text;
    readString(key, "CallbackMode", text);
    config.timeInfoMode = text == "timeInfo";

    text.clear();
    readString(key, "Fail", text);
    config.fail = failPointFromText(text);
    if (config.fail == FailPoint::create) config.failCode = plat::hrFail;
    readInt(key, "FailCode", config.failCode);

    readString(key, "ErrorText", config.errorText);
    readString(key, "Capture", config.capturePath);
    int32_t limit = 0;
    if (readInt(key, "CaptureLimit", limit))
        config.captureLimit = limit < 0 ? 0 : static_cast<uint32_t>(limit);
    readString(key, "ChannelNamePrefix", config.channelNamePrefix);

    readHostFaults(key, config);
    readProbeTruths(key, config);
    readStreamFaults(key, config.faults);
    readWire(key, config.wire);
    readContractFaults(key, config.contract);
    readString(key, "Journal", config.journalPath);

    plat::regCloseKey(key);
    return config;
}

} // namespace refdrv
