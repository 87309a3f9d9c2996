// Initialising, starting, watching and stopping the selected driver.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "asio/telAsioDriver.h"
#include "core/telTypes.h"
#include "measure/bufferSizes.h"

// Buffer size asked of every driver, in samples, unless the user chose one.
inline constexpr int32_t requestedBufferSize = 300;

// Initialises the driver with buffers of `bufferSize` samples for every channel; prints
// the failure line (and hands it to `failure`, when given) and returns false when it
// fails.
bool initialiseDriver(telAsioDriver& driver, int32_t bufferSize = requestedBufferSize, telText* failure = nullptr);

// Initialises the driver without buffers and reads its buffer-size figures; prints the
// failure line and returns false when the driver cannot be initialised. The figures are
// empty when the driver does not give them (buffer preparation then fails as it would).
bool initialiseWithoutBuffers(telAsioDriver& driver, std::optional<measure::BufferSizeRule>& figures,
                              telText* failure = nullptr);

// The size to ask for by default: 300 samples when the driver takes them, else the
// legal size nearest to 300 (a driver whose sizes are powers of two, or steps above its
// minimum, would refuse 300 although it works). Without legal sizes, 300: the driver
// object then limits it as it always did.
int32_t defaultBufferSize(const std::optional<measure::BufferSizeRule>& figures);

// 48000 Hz when the driver can do it, else 44100 Hz.
void chooseSampleRate(telAsioDriver& driver);

// Starts the driver and prints the two start lines; prints the failure line (and hands
// it to `failure`) and returns false when it fails.
bool startDriver(telAsioDriver& driver, telText* failure = nullptr);

// "<system ms> ms / <sample position> samples\r", both grouped by thousands.
telText statusText(uint32_t systemMs, int64_t samplePosition);

// Why the status loop ended.
enum class stopCause { space, interrupt, endOfInput, timeLimit };
const char* stopCauseName(stopCause cause);

// What the status loop asks of the outside world, replaceable in tests.
struct statusLoopPorts {
    uint32_t (*systemClockMs)();
    void (*sleepMs)(uint32_t);
    // SPACE down, Ctrl+C, or the end of standard input (after which no SPACE can come).
    std::optional<stopCause> (*stopRequested)();
    void (*writeStatus)(const telText&); // straight to standard output, flushed
    uint64_t (*monotonicMs)();           // for the time limit
};
statusLoopPorts platformStatusLoopPorts();
// The same for the runs of the measuring switches: their live lines (the status line, a
// sweep's setting) are written only to a terminal, where they are rewritten in place; a
// file or a pipe gets none. (A plain run writes its status line wherever its output goes,
// as it always did.)
statusLoopPorts measuringStatusLoopPorts();
// A live line of a measuring run: written, ended with a lone carriage return, only to a
// terminal.
void writeLiveLine(const telText& text);

// What else bounds or accompanies the loop.
struct statusLoopLimits {
    // Stop by itself after this long; the end of standard input then does not stop it.
    std::optional<uint32_t> seconds;
    // Runs once per pass, after the status text (the summary's bookkeeping).
    std::function<void()> eachPass;
    // Written before each status text (a sweep's "[3/8] 48000 Hz, 128 samples: ").
    telText statusLead;
};

// Rewrites the status line every 100 ms until SPACE, Ctrl+C, the end of input or the
// time limit, and tells which.
stopCause runStatusLoop(telAsioDriver& driver, const statusLoopPorts& ports, const statusLoopLimits& limits = {});
