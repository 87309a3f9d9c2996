// The reference driver's configuration: one set of values per registered class
// identifier, read once when an object of that class is created. Every value and its
// default is documented in testdriver/README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio/asioTypes.h"
#include "platform/com.h"

namespace refdrv {

// The one operation a configuration can make fail.
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
};

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
    int32_t inputLatency = 256;
    int32_t outputLatency = 512;
    bool wantsOutputReady = true;
    bool timeInfoMode = false;
    FailPoint fail = FailPoint::none;
    int32_t failCode = ASE_NotPresent;
    std::string errorText;
    std::string capturePath;
    uint32_t captureLimit = 4000;
    std::string channelNamePrefix;

    bool fails(FailPoint point) const { return fail == point; }
    bool acceptsRate(double rate) const;
    // True when a buffer of `frames` samples fits between the minimum and the maximum and
    // the granularity's rule (step from the minimum, or powers of two for -1).
    bool acceptsBufferSize(int32_t frames) const;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string guidToText(const plat::Guid& guid);

// The values under HKEY_CLASSES_ROOT\CLSID\{clsid}; defaults for whatever is missing.
DriverConfig loadDriverConfig(const plat::Guid& clsid);

// Helpers of the loader.
FailPoint failPointFromText(const std::string& text);
std::vector<double> parseRateList(const std::string& text);

} // namespace refdrv
