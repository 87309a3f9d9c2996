// Initialising, starting, watching and stopping the selected driver.
#pragma once

#include <cstdint>

#include "asio/telAsioDriver.h"
#include "core/telTypes.h"

// Buffer size asked of every driver, in samples.
inline constexpr int32_t requestedBufferSize = 300;

// Initialises the driver with buffers for every channel; prints the failure line and
// returns false when it fails.
bool initialiseDriver(telAsioDriver& driver);

// 48000 Hz when the driver can do it, else 44100 Hz.
void chooseSampleRate(telAsioDriver& driver);

// Starts the driver and prints the two start lines; prints the failure line and returns
// false when it fails.
bool startDriver(telAsioDriver& driver);

// "<system ms> ms / <sample position> samples\r", both grouped by thousands.
telText statusText(uint32_t systemMs, int64_t samplePosition);

// What the status loop asks of the outside world, replaceable in tests.
struct statusLoopPorts {
    uint32_t (*systemClockMs)();
    void (*sleepMs)(uint32_t);
    bool (*stopRequested)();              // SPACE down, or Ctrl+C
    void (*writeStatus)(const telText&); // straight to standard output, flushed
};
statusLoopPorts platformStatusLoopPorts();

// Rewrites the status line every 100 ms until SPACE (or Ctrl+C).
void runStatusLoop(telAsioDriver& driver, const statusLoopPorts& ports);
