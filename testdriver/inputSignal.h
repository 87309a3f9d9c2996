// The known signal on the reference driver's inputs, and the sentinel on its outputs.
//
// Input channel c carries a sine of half full scale whose period is 256 / (c % 16 + 1)
// samples, taken at the absolute sample position, so every run of the same
// configuration produces the same bytes. It is written in the channel's own format;
// formats without a sample value (DSD, unknown codes) get the byte ramp of the sine's
// table index instead.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"

namespace refdrv {

// Writes `frames` samples of channel `channel`'s signal, starting at `position`, into
// `target` in `type`'s format. Allocates nothing.
void fillInputSignal(uint8_t* target, ASIOSampleType type, int32_t channel, int64_t position, int32_t frames);

// The signal's value (-0.5 to 0.5) at a sample position.
double inputSignalValue(int32_t channel, int64_t position);

} // namespace refdrv
