// A recording's bytes into a file of the platform, so names outside the system's 8-bit
// code page work on Windows too.
#pragma once

#include <memory>

#include "core/telTypes.h"
#include "measure/wavFile.h"

// The file at `path`, created or emptied; nothing, with `error` set, when it cannot be.
std::unique_ptr<measure::WavSink> createFileSink(const telText& path, telText* error);
