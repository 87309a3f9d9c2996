// IASIO: the driver interface as the host calls it.
//
// Slots 0 to 2 are COM's base operations (stdcall on 32-bit Windows). Slots 3 to 23
// use the member-call convention of the 32-bit Microsoft compiler (thiscall) on 32-bit
// Windows and the platform's only convention elsewhere. The declaration order below is
// the slot order; do not reorder, and never add a virtual destructor.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"
#include "platform/com.h"

struct IASIO : plat::ComUnknown {
    /* 3 */ virtual ASIOBool TEL_THISCALL init(void* sysHandle) = 0;
    /* 4 */ virtual void TEL_THISCALL getDriverName(char* name) = 0;
    /* 5 */ virtual int32_t TEL_THISCALL getDriverVersion() = 0;
    /* 6 */ virtual void TEL_THISCALL getErrorMessage(char* string) = 0;
    /* 7 */ virtual ASIOError TEL_THISCALL start() = 0;
    /* 8 */ virtual ASIOError TEL_THISCALL stop() = 0;
    /* 9 */ virtual ASIOError TEL_THISCALL getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
    /* 10 */ virtual ASIOError TEL_THISCALL getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
    /* 11 */ virtual ASIOError TEL_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize,
                                                          int32_t* preferredSize, int32_t* granularity) = 0;
    /* 12 */ virtual ASIOError TEL_THISCALL canSampleRate(ASIOSampleRate sampleRate) = 0;
    /* 13 */ virtual ASIOError TEL_THISCALL getSampleRate(ASIOSampleRate* sampleRate) = 0;
    /* 14 */ virtual ASIOError TEL_THISCALL setSampleRate(ASIOSampleRate sampleRate) = 0;
    /* 15 */ virtual ASIOError TEL_THISCALL getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
    /* 16 */ virtual ASIOError TEL_THISCALL setClockSource(int32_t reference) = 0;
    /* 17 */ virtual ASIOError TEL_THISCALL getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    /* 18 */ virtual ASIOError TEL_THISCALL getChannelInfo(ASIOChannelInfo* info) = 0;
    /* 19 */ virtual ASIOError TEL_THISCALL createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                                          int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
    /* 20 */ virtual ASIOError TEL_THISCALL disposeBuffers() = 0;
    /* 21 */ virtual ASIOError TEL_THISCALL controlPanel() = 0;
    /* 22 */ virtual ASIOError TEL_THISCALL future(int32_t selector, void* opt) = 0;
    /* 23 */ virtual ASIOError TEL_THISCALL outputReady() = 0;
};
