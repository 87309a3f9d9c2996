// The binary vocabulary shared with drivers: records, callback procedures, codes.
//
// The records are a format shared with drivers built by other compilers, so the layout
// is fixed byte for byte: 4-byte packing, little-endian, 32-bit integers, 8-byte doubles,
// and pointers of the target's width (4 bytes on 32-bit Windows, 8 elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/callconv.h"

using ASIOBool = int32_t;
using ASIOError = int32_t;
using ASIOSampleRate = double;
using ASIOSampleType = int32_t;

// ---------------------------------------------------------------- error codes
inline constexpr ASIOError ASE_OK = 0;
inline constexpr ASIOError ASE_NotPresent = -1000;
inline constexpr ASIOError ASE_InvalidParameter = -998;
inline constexpr ASIOError ASE_InvalidMode = -997;
inline constexpr ASIOError ASE_NoMemory = -994;

// ---------------------------------------------------------------- message selectors
inline constexpr int32_t kAsioSelectorSupported = 1;
inline constexpr int32_t kAsioEngineVersion = 2;
inline constexpr int32_t kAsioResetRequest = 3;
inline constexpr int32_t kAsioBufferSizeChange = 4;
inline constexpr int32_t kAsioResyncRequest = 5;
inline constexpr int32_t kAsioLatenciesChanged = 6;
inline constexpr int32_t kAsioSupportsTimeInfo = 7;
inline constexpr int32_t kAsioSupportsTimeCode = 8;
inline constexpr int32_t kAsioSupportsInputMonitor = 10;

// A driver's message that it was overloaded (could not keep up).
inline constexpr int32_t kAsioOverload = 15;

// Selectors of the driver's `future` operation. The "can" queries take no argument and
// ask whether the driver has a feature: it answers ASE_SUCCESS (or 0) when it does.
inline constexpr int32_t kAsioEnableTimeCodeRead = 1;
inline constexpr int32_t kAsioCanInputMonitor = 9;
inline constexpr int32_t kAsioCanTimeInfo = 10;
inline constexpr int32_t kAsioCanTimeCode = 11;
inline constexpr int32_t kAsioCanTransport = 12;
inline constexpr int32_t kAsioCanInputGain = 13;
inline constexpr int32_t kAsioCanInputMeter = 14;
inline constexpr int32_t kAsioCanOutputGain = 15;
inline constexpr int32_t kAsioCanOutputMeter = 16;
inline constexpr int32_t kAsioCanReportOverload = 0x24042012;
// What `future` answers for a selector it carries out.
inline constexpr ASIOError ASE_SUCCESS = 0x3F4847A0;

// Flags of AsioTimeInfo.flags: which of its fields hold a value, and what changed.
inline constexpr uint32_t kSystemTimeValid = 1;
inline constexpr uint32_t kSamplePositionValid = 2;
inline constexpr uint32_t kSampleRateValid = 4;
inline constexpr uint32_t kSpeedValid = 8;
inline constexpr uint32_t kSampleRateChanged = 16;
inline constexpr uint32_t kClockSourceChanged = 32;

// ---------------------------------------------------------------- sample types
inline constexpr ASIOSampleType ASIOSTInt16MSB = 0;
inline constexpr ASIOSampleType ASIOSTInt24MSB = 1;
inline constexpr ASIOSampleType ASIOSTInt32MSB = 2;
inline constexpr ASIOSampleType ASIOSTFloat32MSB = 3;
inline constexpr ASIOSampleType ASIOSTFloat64MSB = 4;
inline constexpr ASIOSampleType ASIOSTInt32MSB16 = 8;
inline constexpr ASIOSampleType ASIOSTInt32MSB18 = 9;
inline constexpr ASIOSampleType ASIOSTInt32MSB20 = 10;
inline constexpr ASIOSampleType ASIOSTInt32MSB24 = 11;
inline constexpr ASIOSampleType ASIOSTInt16LSB = 16;
inline constexpr ASIOSampleType ASIOSTInt24LSB = 17;
inline constexpr ASIOSampleType ASIOSTInt32LSB = 18;
inline constexpr ASIOSampleType ASIOSTFloat32LSB = 19;
inline constexpr ASIOSampleType ASIOSTFloat64LSB = 20;
inline constexpr ASIOSampleType ASIOSTInt32LSB16 = 24;
inline constexpr ASIOSampleType ASIOSTInt32LSB18 = 25;
inline constexpr ASIOSampleType ASIOSTInt32LSB20 = 26;
inline constexpr ASIOSampleType ASIOSTInt32LSB24 = 27;
inline constexpr ASIOSampleType ASIOSTDSDInt8LSB1 = 32;
inline constexpr ASIOSampleType ASIOSTDSDInt8MSB1 = 33;
inline constexpr ASIOSampleType ASIOSTDSDInt8NER8 = 40;

// Bytes one sample of the type takes in a driver's buffer; 1 for DSD and unknown types.
inline constexpr int32_t sampleTypeBytes(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
        return 2;
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
        return 3;
    case ASIOSTInt32MSB:
    case ASIOSTFloat32MSB:
    case ASIOSTInt32MSB16:
    case ASIOSTInt32MSB18:
    case ASIOSTInt32MSB20:
    case ASIOSTInt32MSB24:
    case ASIOSTInt32LSB:
    case ASIOSTFloat32LSB:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32LSB18:
    case ASIOSTInt32LSB20:
    case ASIOSTInt32LSB24:
        return 4;
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
        return 8;
    default:
        return 1;
    }
}

// ---------------------------------------------------------------- records
#pragma pack(push, 4)

struct ASIODriverInfo {
    int32_t asioVersion;
    int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};
using pASIODriverInfo = ASIODriverInfo*;

struct ASIOChannelInfo {
    int32_t channel;
    ASIOBool isInput;
    ASIOBool isActive;
    int32_t channelGroup;
    ASIOSampleType _type;
    char name[32];
};
using pASIOChannelInfo = ASIOChannelInfo*;

struct ASIOBufferInfo {
    ASIOBool isInput;
    int32_t channelNum;
    void* buffers[2];
};
using pASIOBufferInfo = ASIOBufferInfo*;

struct AsioTimeInfo {
    double speed;
    int64_t systemTime;
    int64_t samplePosition;
    ASIOSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    int64_t timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct ASIOTime {
    int32_t reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};
using pASIOTime = ASIOTime*;

struct ASIOClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};
using ASIOClockSources = ASIOClockSource[256];
using pASIOClockSources = ASIOClockSource*;

// A 64-bit quantity as the driver's getSamplePosition writes it: high word first.
struct ASIOSamples {
    uint32_t hi;
    uint32_t lo;
};
using ASIOTimeStamp = ASIOSamples;

// The host's callbacks, plain caller-cleans procedures.
using proc_bufferSwitch = void(TEL_CDECL*)(int32_t index, ASIOBool processNow);
using proc_sampleRateChanged = void(TEL_CDECL*)(ASIOSampleRate sRate);
using proc_asioMessage = int32_t(TEL_CDECL*)(int32_t selector, int32_t value, void* message, double* opt);
using proc_bufferSwitchTimeInfo = pASIOTime(TEL_CDECL*)(pASIOTime timeInfo, int32_t index, ASIOBool processNow);

struct ASIOCallbacks {
    proc_bufferSwitch bufferSwitch;
    proc_sampleRateChanged sampleRateChanged;
    proc_asioMessage asioMessage;
    proc_bufferSwitchTimeInfo bufferSwitchTimeInfo;
};
using pASIOCallbacks = ASIOCallbacks*;

#pragma pack(pop)

// ---------------------------------------------------------------- layout checks
// Records without pointers have one layout everywhere.
static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(offsetof(ASIOChannelInfo, channel) == 0);
static_assert(offsetof(ASIOChannelInfo, isInput) == 4);
static_assert(offsetof(ASIOChannelInfo, isActive) == 8);
static_assert(offsetof(ASIOChannelInfo, channelGroup) == 12);
static_assert(offsetof(ASIOChannelInfo, _type) == 16);
static_assert(offsetof(ASIOChannelInfo, name) == 20);

static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(offsetof(AsioTimeInfo, speed) == 0);
static_assert(offsetof(AsioTimeInfo, systemTime) == 8);
static_assert(offsetof(AsioTimeInfo, samplePosition) == 16);
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24);
static_assert(offsetof(AsioTimeInfo, flags) == 32);
static_assert(offsetof(AsioTimeInfo, reserved) == 36);

static_assert(sizeof(ASIOTimeCode) == 84);
static_assert(offsetof(ASIOTimeCode, speed) == 0);
static_assert(offsetof(ASIOTimeCode, timeCodeSamples) == 8);
static_assert(offsetof(ASIOTimeCode, flags) == 16);
static_assert(offsetof(ASIOTimeCode, future) == 20);

static_assert(sizeof(ASIOTime) == 148);
static_assert(offsetof(ASIOTime, reserved) == 0);
static_assert(offsetof(ASIOTime, timeInfo) == 16);
static_assert(offsetof(ASIOTime, timeCode) == 64);

static_assert(sizeof(ASIOClockSource) == 48);
static_assert(offsetof(ASIOClockSource, index) == 0);
static_assert(offsetof(ASIOClockSource, associatedChannel) == 4);
static_assert(offsetof(ASIOClockSource, associatedGroup) == 8);
static_assert(offsetof(ASIOClockSource, isCurrentSource) == 12);
static_assert(offsetof(ASIOClockSource, name) == 16);

static_assert(sizeof(ASIOSamples) == 8);

static_assert(offsetof(ASIODriverInfo, asioVersion) == 0);
static_assert(offsetof(ASIODriverInfo, driverVersion) == 4);
static_assert(offsetof(ASIODriverInfo, name) == 8);
static_assert(offsetof(ASIODriverInfo, errorMessage) == 40);
static_assert(offsetof(ASIODriverInfo, sysRef) == 164);
static_assert(offsetof(ASIOBufferInfo, isInput) == 0);
static_assert(offsetof(ASIOBufferInfo, channelNum) == 4);
static_assert(offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(offsetof(ASIOCallbacks, bufferSwitch) == 0);

#if UINTPTR_MAX == 0xFFFFFFFFu
// 32-bit Windows: the drivers' own layout.
static_assert(sizeof(void*) == 4);
static_assert(sizeof(ASIODriverInfo) == 168);
static_assert(sizeof(ASIOBufferInfo) == 16);
static_assert(sizeof(ASIOCallbacks) == 16);
static_assert(offsetof(ASIOCallbacks, sampleRateChanged) == 4);
static_assert(offsetof(ASIOCallbacks, asioMessage) == 8);
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 12);
#else
// 64-bit: the same packing with pointers widened to 8 bytes.
static_assert(sizeof(void*) == 8);
static_assert(sizeof(ASIODriverInfo) == 172);
static_assert(sizeof(ASIOBufferInfo) == 24);
static_assert(sizeof(ASIOCallbacks) == 32);
static_assert(offsetof(ASIOCallbacks, sampleRateChanged) == 8);
static_assert(offsetof(ASIOCallbacks, asioMessage) == 16);
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 24);
#endif
