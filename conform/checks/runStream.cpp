#include "conform/checks/runStream.h"

#include <cmath>

namespace conform {

double switchWait(DriverSession& session, int32_t size, uint32_t switches) {
    double rate = 0;
    if (session.getSampleRate(rate) != ASE_OK || !std::isfinite(rate) || rate < 1000) rate = 44100;
    return 1.0 + switches * static_cast<double>(size) / rate;
}

void startAndCollect(DriverSession& session, RunTrace& trace, uint32_t wanted) {
    const uint32_t mark = session.noteMark();
    const double began = session.now();
    trace.startStatus = session.start();
    if (trace.startStatus == ASE_OK) session.waitForSwitches(wanted, switchWait(session, trace.size, wanted));
    trace.waited = session.now() - began;
    trace.notes = session.notesSince(mark);
}

RunTrace runStream(DriverSession& session, const BufferRequest& request, uint32_t wanted, bool keepBuffers) {
    RunTrace trace;
    trace.size = request.size;
    trace.createStatus = session.createBuffers(request);
    if (trace.createStatus != ASE_OK) return trace;
    trace.nullBuffer = session.nullBuffer();
    if (trace.nullBuffer) {
        session.disposeBuffers();
        return trace;
    }
    startAndCollect(session, trace, wanted);
    if (trace.startStatus == ASE_OK) session.stop();
    if (!keepBuffers) session.disposeBuffers();
    return trace;
}

RunTrace runStream(DriverSession& session, const std::vector<ChannelPick>& channels, int32_t size,
                   uint32_t wanted, bool keepBuffers) {
    BufferRequest request{channels, size, {}};
    request.callbacks.callOutputReady = session.wantsOutputReady();
    return runStream(session, request, wanted, keepBuffers);
}

} // namespace conform
