// The four events through which a driver object reports callbacks it did not hand to a
// processor. Each is a method pointer: a code pointer and the receiving object.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"
#include "core/telTypes.h"

class telAsioDriver;

struct bufferSwitchEvent {
    void (*code)(void* receiver, telAsioDriver* sender, int32_t index, telBool processNow) = nullptr;
    void* receiver = nullptr;
    explicit operator bool() const { return code != nullptr; }
};

struct sampleRateChangedEvent {
    void (*code)(void* receiver, telAsioDriver* sender, double rate) = nullptr;
    void* receiver = nullptr;
    explicit operator bool() const { return code != nullptr; }
};

struct asioMessageEvent {
    // `result` holds the answer computed so far; the handler may replace it.
    void (*code)(void* receiver, telAsioDriver* sender, int32_t selector, int32_t value, void* message,
                 double* opt, int32_t& result) = nullptr;
    void* receiver = nullptr;
    explicit operator bool() const { return code != nullptr; }
};

struct bufferSwitchTimeInfoEvent {
    void (*code)(void* receiver, telAsioDriver* sender, pASIOTime timeInfo, int32_t index, telBool processNow,
                 pASIOTime time) = nullptr;
    void* receiver = nullptr;
    explicit operator bool() const { return code != nullptr; }
};
