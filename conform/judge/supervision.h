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
// The call named is the host thread's outermost: the call the host made that did not
// return, whatever the driver called back into meanwhile.
std::string hangDetail(const CallBeaconReading& beacon, int32_t seconds);

// The call the check's own thread was in (the innermost), else the call another thread was in.
telDriverCall callOf(const CallBeaconReading& beacon);
// The call the check's own thread made that did not return (its outermost), else the
// call another thread was in.
telDriverCall hungCallOf(const CallBeaconReading& beacon);

} // namespace conform
