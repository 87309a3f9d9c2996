// The checks of what a driver says about itself: create-release, figures, channel-info,
// sample-rates, set-sample-rate and clock-sources.
#include <cstring>

#include "conform/checks/checks.h"
#include "conform/checks/runStream.h"
#include "conform/judge/identity.h"
#include "conform/judge/rates.h"
#include "conform/texts.h"

namespace conform {

namespace {

constexpr int32_t creations = 3;
// getClockSources gets room for this many sources.
constexpr int32_t clockSourceRoom = 64;
// getChannelInfo is asked of at most this many channels of a direction.
constexpr int32_t channelsAsked = 4096;

bool terminated(const char* field, size_t size) {
    return std::memchr(field, 0, size) != nullptr;
}

} // namespace

Outcome checkCreateRelease(CheckContext& context) {
    CreateReleaseObservation seen;
    for (int32_t i = 0; i < creations; ++i) {
        context.stage("creation " + std::to_string(i + 1) + " of " + std::to_string(creations) +
                      " (create, init, release)");
        DriverSession session(context.clsid, &context.tally);
        DriverIdentity identity;
        identity.createStatus = context.create(session);
        if (identity.createStatus == 0) {
            identity.initialised = context.init(session);
            if (!identity.initialised) {
                identity.errorText = driverText(session.errorMessage());
            } else {
                identity.name = driverText(session.driverName());
                identity.version = session.driverVersion();
                identity.channelsStatus = session.getChannels(identity.inputs, identity.outputs);
                identity.sizesStatus = session.getBufferSize(identity.sizes);
                identity.rateStatus = session.getSampleRate(identity.rate);
            }
        }
        seen.creations.push_back(identity);
        if (!identity.initialised) break; // the driver's own fault line says it; more would repeat it
    }
    {
        context.stage("the creation without init (create, release)");
        DriverSession bare(context.clsid, &context.tally);
        seen.bareCreateStatus = context.create(bare);
    }
    return judgeCreateRelease(seen);
}

Outcome checkFigures(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    FiguresObservation seen;
    seen.channelsStatus = session.getChannels(seen.inputs, seen.outputs);
    seen.sizesStatus = session.getBufferSize(seen.sizes);
    seen.rateStatus = session.getSampleRate(seen.rate);
    seen.createdSize = session.runSize();
    seen.createStatus = session.createBuffers(session.allChannels(), seen.createdSize);
    if (seen.createStatus == ASE_OK)
        seen.latenciesStatus = session.getLatencies(seen.inputLatency, seen.outputLatency);
    context.figures = figureFacts(seen);
    return judgeFigures(seen);
}

Outcome checkChannelInfo(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    ChannelInfoObservation seen;
    if (session.getChannels(seen.inputs, seen.outputs) != ASE_OK) return failed("getChannels failed");
    auto ask = [&](bool input, int32_t channel) {
        ASIOChannelInfo info;
        std::memset(&info, 0xCC, sizeof info);
        info.channel = channel;
        info.isInput = input ? 1 : 0;
        ChannelAnswer answer;
        answer.input = input;
        answer.asked = channel;
        answer.status = session.getChannelInfo(info);
        answer.channel = info.channel;
        answer.isInput = info.isInput != 0;
        answer.type = info._type;
        answer.nameTerminated = terminated(info.name, sizeof info.name);
        if (answer.nameTerminated) answer.name = driverText(info.name);
        answer.group = info.channelGroup;
        return answer;
    };
    for (int32_t k = 0; k < seen.inputs && k < channelsAsked; ++k)
        seen.channels.push_back(ask(true, k));
    for (int32_t k = 0; k < seen.outputs && k < channelsAsked; ++k)
        seen.channels.push_back(ask(false, k));
    for (bool input : {true, false}) {
        seen.outOfRange.push_back(ask(input, -1));
        seen.outOfRange.push_back(ask(input, input ? seen.inputs : seen.outputs));
    }
    if (seen.inputs > 0 || seen.outputs > 0) seen.afterStatus = ask(seen.inputs > 0, 0).status;
    // Buffers for every channel: what each half is, and every channel asked again.
    std::vector<ChannelPick> picks;
    for (const ChannelAnswer& answer : seen.channels)
        picks.push_back({answer.input, answer.asked});
    seen.size = session.runSize();
    if (!picks.empty()) seen.createStatus = session.createBuffers(picks, seen.size);
    if (seen.createStatus == ASE_OK) {
        for (const ASIOBufferInfo& info : session.bufferInfos())
            seen.buffers.push_back({info.isInput != 0, info.channelNum, {info.buffers[0], info.buffers[1]}});
        for (const ChannelAnswer& answer : seen.channels)
            seen.withBuffers.push_back(ask(answer.input, answer.asked));
    }
    return judgeChannelInfo(seen);
}

Outcome checkSampleRates(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    SampleRatesObservation seen;
    for (double rate : standardRates())
        seen.standard.push_back({rate, session.canSampleRate(rate)});
    seen.currentStatus = session.getSampleRate(seen.current);
    seen.currentAccepted = session.canSampleRate(seen.current);
    for (double rate : nonsenseRates())
        seen.nonsense.push_back({rate, session.canSampleRate(rate)});
    return judgeSampleRates(seen);
}

Outcome checkSetSampleRate(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    SetSampleRateObservation seen;
    if (session.getSampleRate(seen.original) != ASE_OK) return failed("getSampleRate failed");
    auto setting = [&](double rate) {
        RateSetting result;
        result.rate = rate;
        result.setStatus = session.setSampleRate(rate);
        result.readStatus = session.getSampleRate(result.readBack);
        return result;
    };
    // A rate set and read back runs a stream, at the size the driver's rules give at that
    // rate, whose positions show the pace it really runs at.
    auto runAt = [&](RateSetting& result) {
        if (result.setStatus != ASE_OK || result.readStatus != ASE_OK || result.readBack != result.rate)
            return;
        const int32_t size = session.runSize();
        result.run = runStream(session, session.allChannels(), size, paceSwitches(result.rate, size));
        if (runFault(*result.run, 4, false).empty() && !ranAtRate(*result.run, result.rate))
            result.again = runStream(session, session.allChannels(), size, paceSwitches(result.rate, size));
    };
    std::vector<double> refused;
    for (double rate : standardRates()) {
        if (session.canSampleRate(rate) == ASE_OK) {
            seen.accepted.push_back(setting(rate));
            runAt(seen.accepted.back());
        } else {
            refused.push_back(rate);
        }
    }
    if (seen.accepted.size() >= 2 && !refused.empty()) {
        session.getSampleRate(seen.beforeRefused);
        seen.refused = setting(refused.front());
    }
    seen.restored = setting(seen.original);
    return judgeSetSampleRate(seen);
}

Outcome checkClockSources(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    ClockSourcesObservation seen;
    ASIOClockSource sources[clockSourceRoom];
    std::memset(sources, 0xCC, sizeof sources);
    int32_t count = clockSourceRoom;
    seen.status = session.getClockSources(sources, count);
    if (count > clockSourceRoom) count = clockSourceRoom;
    int32_t current = -1, highest = -1;
    for (int32_t i = 0; i < count; ++i) {
        const ASIOClockSource& source = sources[i];
        const bool nameTerminated = terminated(source.name, sizeof source.name);
        seen.sources.push_back({source.index, source.isCurrentSource != 0, nameTerminated,
                                nameTerminated ? driverText(source.name) : std::string()});
        if (source.isCurrentSource != 0 && current < 0) current = source.index;
        if (source.index > highest) highest = source.index;
    }
    if (current >= 0) seen.setCurrentStatus = session.setClockSource(current);
    seen.outOfRangeIndex = (highest > count - 1 ? highest : count - 1) + 1;
    seen.setOutOfRangeStatus = session.setClockSource(seen.outOfRangeIndex);
    if (current >= 0) session.setClockSource(current); // leave the driver as it was
    return judgeClockSources(seen);
}

} // namespace conform
