// Checks a WAV recording of the driver's inputs, made by the host in the run that wrote
// the capture: the same channels and rate, the format the inputs' sample type asks for
// (measure/wavFile.h), and for every captured switch n of buffer size B the frames
// n×B … n×B+B-1 holding that switch's input halves converted as the host converts them.
// Frames of switches missing between captured ones must be silence (zero bytes); frames
// past the last captured switch are not checked (the capture stops at its limit while
// the recording goes on).
#pragma once

#include "captureFile.h"
#include "checker.h"
#include "measure/wavFile.h"

namespace capcheck {

// The summary ("wav 2 channels 24-bit, 412 switches ok"), or the first difference with
// its frame and channel.
CheckResult checkWavRecording(const Capture& capture, const measure::WavContents& wav);

// Checks a recording without a capture (a run whose driver died takes its capture with
// it): between `minFrames` and `maxFrames` frames, and every frame f of channel c the
// reference driver's input signal at sample position f, in the format the WAV has.
CheckResult checkWavSignal(const measure::WavContents& wav, uint64_t minFrames, uint64_t maxFrames);

} // namespace capcheck
