// Judging a check whose process did not end by itself: how the supervisor words a crash
// or a hang, from the call beacon and the way the process ended.
#pragma once

#include <cstdint>
#include <string>

#include "asio/callBeacon.h"

namespace conform {

// "crashed in getChannelInfo (signal 11)", "crashed in stop (access violation
// 0xC0000005); another thread was in outputReady", "crashed outside any driver call
// (signal 6)".
std::string crashDetail(const CallBeaconReading& beacon, const std::string& howItEnded);

// "no answer from stop within 20 s", with the other thread's call when there is one.
std::string hangDetail(const CallBeaconReading& beacon, int32_t seconds);

// The call the check's own thread was in, else the call another thread was in.
telDriverCall callOf(const CallBeaconReading& beacon);

} // namespace conform
