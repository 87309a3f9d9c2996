#include "conform/judge/supervision.h"

namespace conform {

namespace {

std::string otherThread(const CallBeaconReading& beacon, telDriverCall hostCall) {
    if (hostCall == telDriverCall::none || beacon.otherCall == telDriverCall::none) return {};
    if (beacon.otherCall == hostCall) return "; another thread was in it as well";
    return std::string("; another thread was in ") + driverCallName(beacon.otherCall);
}

} // namespace

telDriverCall callOf(const CallBeaconReading& beacon) {
    return beacon.hostCall != telDriverCall::none ? beacon.hostCall : beacon.otherCall;
}

telDriverCall hungCallOf(const CallBeaconReading& beacon) {
    return beacon.hostOuterCall != telDriverCall::none ? beacon.hostOuterCall : beacon.otherCall;
}

std::string crashDetail(const CallBeaconReading& beacon, const std::string& howItEnded) {
    const telDriverCall call = callOf(beacon);
    if (call == telDriverCall::none) return "crashed outside any driver call (" + howItEnded + ")";
    return std::string("crashed in ") + driverCallName(call) + " (" + howItEnded + ")" +
           otherThread(beacon, beacon.hostCall);
}

std::string hangDetail(const CallBeaconReading& beacon, int32_t seconds) {
    const std::string limit = " within " + std::to_string(seconds) + " s";
    const telDriverCall call = hungCallOf(beacon);
    if (call == telDriverCall::none) return "no answer" + limit + ", outside any driver call";
    return std::string("no answer from ") + driverCallName(call) + limit +
           otherThread(beacon, beacon.hostOuterCall);
}

} // namespace conform
