// The checks of buffer creation: buffer-sizes, latency-report, channel-subsets,
// create-twice and bad-create.
#include "conform/checks/checks.h"
#include "conform/checks/runStream.h"
#include "conform/judge/buffers.h"
#include "conform/judge/latencies.h"
#include "conform/texts.h"

namespace conform {

Outcome checkBufferSizes(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    BufferSizesObservation seen;
    seen.ruleStatus = session.getBufferSize(seen.rule);
    if (seen.ruleStatus != ASE_OK) return judgeBufferSizes(seen);
    const std::vector<ChannelPick> channels = session.allChannels();
    for (int32_t size : sizesToTry(seen.rule))
        seen.legal.push_back(runStream(session, channels, size, 3));
    if (const std::optional<int32_t> size = illegalSize(seen.rule)) {
        seen.illegal = runStream(session, channels, *size, 3);
        seen.afterwards = runStream(session, channels, session.runSize(), 3);
    }
    return judgeBufferSizes(seen);
}

// The latencies after createBuffers at each size buffer-sizes runs at.
Outcome checkLatencyReport(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    measure::BufferSizeRule rule{};
    if (const ASIOError status = session.getBufferSize(rule); status != ASE_OK)
        return failed("getBufferSize answered " + statusText(status));
    const std::vector<ChannelPick> channels = session.allChannels();
    std::vector<LatenciesAtSize> seen;
    for (int32_t size : sizesToTry(rule)) {
        LatenciesAtSize at;
        at.size = size;
        at.createStatus = session.createBuffers(channels, size);
        if (at.createStatus != ASE_OK) {
            seen.push_back(at);
            continue;
        }
        at.latenciesStatus = session.getLatencies(at.input, at.output);
        session.disposeBuffers();
        seen.push_back(at);
    }
    return judgeLatencyReport(seen);
}

Outcome checkChannelSubsets(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    int32_t inputs = 0, outputs = 0;
    if (session.getChannels(inputs, outputs) != ASE_OK) return failed("getChannels failed");
    const int32_t size = session.runSize();
    std::vector<ChannelPick> allOutputs;
    for (int32_t k = 0; k < outputs; ++k)
        allOutputs.push_back({false, k});
    const struct {
        const char* what;
        bool possible;
        std::vector<ChannelPick> channels;
    } subsets[] = {
        {"one input only", inputs > 0, {{true, 0}}},
        {"one output only", outputs > 0, {{false, 0}}},
        {"the last input with the last output",
         inputs > 0 && outputs > 0,
         {{true, inputs - 1}, {false, outputs - 1}}},
        {"outputs only", outputs > 0, allOutputs},
    };
    std::vector<SubsetRun> runs;
    for (const auto& subset : subsets) {
        SubsetRun run{subset.what, subset.possible, {}};
        if (subset.possible) run.run = runStream(session, subset.channels, size, 3);
        runs.push_back(run);
        // A subset that does not run tells the fault; waiting for the others would only
        // spend the check's time limit.
        if (subset.possible && !runFault(run.run, 3, false).empty()) break;
    }
    return judgeChannelSubsets(runs);
}

Outcome checkCreateTwice(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const std::vector<ChannelPick> channels = session.allChannels();
    const int32_t size = session.runSize();
    CreateTwiceObservation seen;
    seen.first = session.createBuffers(channels, size);
    if (seen.first != ASE_OK) return judgeCreateTwice(seen);
    seen.second = session.createBuffers(channels, size);
    if (seen.second == ASE_OK) {
        seen.secondNullBuffer = session.nullBuffer();
        if (!seen.secondNullBuffer) {
            RunTrace run;
            run.size = size;
            startAndCollect(session, run, 3);
            if (run.startStatus == ASE_OK) session.stop();
            seen.secondRun = run;
        }
    }
    seen.dispose = session.disposeBuffers();
    seen.again = runStream(session, channels, size, 3);
    return judgeCreateTwice(seen);
}

Outcome checkBadCreate(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    int32_t inputs = 0, outputs = 0;
    if (session.getChannels(inputs, outputs) != ASE_OK) return failed("getChannels failed");
    const int32_t size = session.runSize();
    const std::vector<ChannelPick> all = session.allChannels();
    auto infosOf = [](const std::vector<ChannelPick>& picks) {
        std::vector<ASIOBufferInfo> infos(picks.size() + 1, ASIOBufferInfo{});
        for (size_t k = 0; k < picks.size(); ++k) {
            infos[k].isInput = picks[k].input ? 1 : 0;
            infos[k].channelNum = picks[k].channel;
        }
        return infos;
    };
    std::vector<ChannelPick> twice = all;
    if (!all.empty()) twice.push_back(all.front());
    const std::string total = std::to_string(all.size());
    const struct {
        std::string what;
        std::vector<ChannelPick> picks;
    } requests[] = {
        {"0 channels", {}},
        {"input " + std::to_string(inputs) + " of " + std::to_string(inputs), {{true, inputs}}},
        {"output -1", {{false, -1}}},
        {std::to_string(twice.size()) + " channels of " + total + " (the first one twice)", twice},
    };
    const double settle = switchWait(session, size, 3) - 1.0 + 0.03;
    BadCreateObservation seen;
    for (const auto& request : requests) {
        std::vector<ASIOBufferInfo> infos = infosOf(request.picks);
        BadRequest bad{
            request.what,
            session.createBuffersRaw(infos.data(), static_cast<int32_t>(request.picks.size()), size), 0};
        const int set = session.liveSet();
        session.pause(settle);
        const SetCounts counts = callbackLog().counts(set);
        bad.switchesAfter = counts.switches + counts.switchesRetired;
        if (bad.status == ASE_OK) session.disposeBuffers();
        seen.requests.push_back(bad);
    }
    seen.goodAfter = session.createBuffers(all, size);
    return judgeBadCreate(seen);
}

} // namespace conform
