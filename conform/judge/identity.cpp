#include "conform/judge/identity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#include "conform/texts.h"

namespace conform {

namespace {

std::string sizesText(const measure::BufferSizeRule& sizes) {
    return "buffers " + std::to_string(sizes.min) + " to " + std::to_string(sizes.max) + ", preferred " +
           std::to_string(sizes.preferred) + ", granularity " + std::to_string(sizes.granularity);
}

std::string channelsText(int32_t inputs, int32_t outputs) {
    return std::to_string(inputs) + " in, " + std::to_string(outputs) + " out";
}

bool sameSizes(const measure::BufferSizeRule& a, const measure::BufferSizeRule& b) {
    return a.min == b.min && a.max == b.max && a.preferred == b.preferred && a.granularity == b.granularity;
}

bool powerOfTwo(int64_t size) {
    return size > 0 && (size & (size - 1)) == 0;
}

// How creation `later` (numbered from 1) differs from creation 1, or "".
std::string difference(const DriverIdentity& first, const DriverIdentity& later, size_t number) {
    const std::string which = "creation " + std::to_string(number) + " reported ";
    if (later.name != first.name)
        return which + "the name \"" + later.name + "\", creation 1 \"" + first.name + "\"";
    if (later.version != first.version)
        return which + "version " + std::to_string(later.version) + ", creation 1 version " +
               std::to_string(first.version);
    if (later.channelsStatus != first.channelsStatus || later.inputs != first.inputs ||
        later.outputs != first.outputs)
        return which + channelsText(later.inputs, later.outputs) + ", creation 1 " +
               channelsText(first.inputs, first.outputs);
    if (later.sizesStatus != first.sizesStatus || !sameSizes(later.sizes, first.sizes))
        return which + sizesText(later.sizes) + ", creation 1 " + sizesText(first.sizes);
    const bool sameRate = later.rate == first.rate || (std::isnan(later.rate) && std::isnan(first.rate));
    if (later.rateStatus != first.rateStatus || !sameRate)
        return which + rateText(later.rate) + " Hz, creation 1 " + rateText(first.rate) + " Hz";
    return {};
}

} // namespace

Outcome judgeCreateRelease(const CreateReleaseObservation& seen) {
    Findings findings;
    const DriverIdentity* first = nullptr;
    for (size_t i = 0; i < seen.creations.size(); ++i) {
        const DriverIdentity& creation = seen.creations[i];
        const std::string number = std::to_string(i + 1);
        if (creation.createStatus != 0) {
            findings.fault("creation " + number + " failed with " +
                           hexText(static_cast<uint32_t>(creation.createStatus)));
            continue;
        }
        if (!creation.initialised) {
            findings.fault("init " + number + " refused" +
                           (creation.errorText.empty() ? std::string() : ": " + creation.errorText));
            continue;
        }
        if (first == nullptr) {
            first = &creation;
            continue;
        }
        const std::string differs = difference(*first, creation, i + 1);
        if (!differs.empty()) findings.fault(differs);
    }
    if (seen.bareCreateStatus != 0)
        findings.fault("creation without init failed with " +
                       hexText(static_cast<uint32_t>(seen.bareCreateStatus)));
    if (first == nullptr) return findings.outcome("");
    return findings.outcome(std::to_string(seen.creations.size()) + " creations alike: \"" + first->name +
                            "\" version " + std::to_string(first->version) + ", " +
                            channelsText(first->inputs, first->outputs) + ", " + sizesText(first->sizes) +
                            ", " + rateText(first->rate) + " Hz; created and released once without init");
}

std::optional<measure::FigureFacts> figureFacts(const FiguresObservation& seen) {
    if (seen.channelsStatus != ASE_OK || seen.sizesStatus != ASE_OK || seen.rateStatus != ASE_OK ||
        seen.createStatus != ASE_OK || seen.latenciesStatus != ASE_OK)
        return std::nullopt;
    measure::FigureFacts facts;
    facts.asioVersion = 2; // the interface the host speaks
    facts.reportedInputs = seen.inputs;
    facts.reportedOutputs = seen.outputs;
    facts.inputs = seen.inputs > 0 ? seen.inputs : 0;
    facts.outputs = seen.outputs > 0 ? seen.outputs : 0;
    facts.bufferMin = seen.sizes.min;
    facts.bufferMax = seen.sizes.max;
    facts.bufferPreferred = seen.sizes.preferred;
    facts.granularity = seen.sizes.granularity;
    facts.bufferActual = seen.createdSize;
    facts.sampleRate = seen.rate;
    facts.inputLatency = seen.inputLatency;
    facts.outputLatency = seen.outputLatency;
    return facts;
}

Outcome judgeFigures(const FiguresObservation& seen) {
    Findings findings;
    if (seen.channelsStatus != ASE_OK)
        findings.fault("getChannels answered " + statusText(seen.channelsStatus));
    else if (seen.inputs < 0 || seen.outputs < 0)
        findings.fault("negative channel counts: " + channelsText(seen.inputs, seen.outputs));
    else if (seen.inputs + seen.outputs < 1)
        findings.fault("no channel at all");

    const measure::BufferSizeRule& s = seen.sizes;
    const std::string sizes = "min " + std::to_string(s.min) + ", preferred " + std::to_string(s.preferred) +
                              ", max " + std::to_string(s.max);
    if (seen.sizesStatus != ASE_OK) {
        findings.fault("getBufferSize answered " + statusText(seen.sizesStatus));
    } else if (s.min < 1 || s.min > s.preferred || s.preferred > s.max) {
        findings.fault("buffer sizes out of order: " + sizes);
    } else if (s.granularity == -1) {
        for (int32_t size : {s.min, s.preferred, s.max})
            if (!powerOfTwo(size)) {
                findings.fault("granularity -1 (powers of two), but " + sizes);
                break;
            }
    } else if (s.granularity > 0) {
        for (int32_t size : {s.preferred, s.max})
            if ((static_cast<int64_t>(size) - s.min) % s.granularity != 0) {
                findings.fault("granularity " + std::to_string(s.granularity) + ", but " + sizes +
                               " are not whole steps above min");
                break;
            }
    } else if (s.granularity < -1) {
        findings.fault("granularity " + std::to_string(s.granularity) + " has no meaning");
    } else if (s.min != s.max) {
        findings.warning("granularity 0 with min " + std::to_string(s.min) + " and max " +
                         std::to_string(s.max) + ": hosts read it differently");
    }

    if (seen.rateStatus != ASE_OK)
        findings.fault("getSampleRate answered " + statusText(seen.rateStatus));
    else if (!std::isfinite(seen.rate) || seen.rate <= 0)
        findings.fault("sample rate " + rateText(seen.rate));

    if (seen.createStatus != ASE_OK)
        findings.fault("createBuffers for every channel at " + std::to_string(seen.createdSize) +
                       " answered " + statusText(seen.createStatus));
    else if (seen.latenciesStatus != ASE_OK)
        findings.fault("getLatencies after createBuffers answered " + statusText(seen.latenciesStatus));
    else if (seen.inputLatency < 0 || seen.outputLatency < 0)
        findings.fault("negative latency after createBuffers: input " + std::to_string(seen.inputLatency) +
                       ", output " + std::to_string(seen.outputLatency));

    return findings.outcome(channelsText(seen.inputs, seen.outputs) + "; " + sizesText(s) + "; " +
                            rateText(seen.rate) + " Hz; latencies " + std::to_string(seen.inputLatency) +
                            " in, " + std::to_string(seen.outputLatency) + " out at " +
                            std::to_string(seen.createdSize));
}

int64_t bufferHalfBytes(ASIOSampleType type, int32_t size) {
    if (!knownSampleType(type)) return 0;
    if (type == ASIOSTDSDInt8LSB1 || type == ASIOSTDSDInt8MSB1) return (static_cast<int64_t>(size) + 7) / 8;
    return static_cast<int64_t>(size) * sampleTypeBytes(type);
}

namespace {

std::string channelName(bool input, int32_t channel) {
    return std::string(input ? "input " : "output ") + std::to_string(channel);
}

// Faults of the buffers createBuffers handed out: null halves, and halves whose memory
// (as long as the channel's type needs) overlaps another's, each pair once.
void judgeBuffers(const ChannelInfoObservation& seen, Findings& findings) {
    struct Span {
        std::string what;
        uintptr_t begin = 0, end = 0;
    };
    std::vector<Span> spans;
    for (size_t k = 0; k < seen.buffers.size(); ++k) {
        const ChannelBuffers& buffers = seen.buffers[k];
        const ASIOSampleType type = k < seen.channels.size() ? seen.channels[k].type : 0;
        const int64_t bytes = bufferHalfBytes(type, seen.size);
        for (int half = 0; half < 2; ++half) {
            const std::string what =
                channelName(buffers.input, buffers.channel) + " half " + std::to_string(half);
            const auto begin = reinterpret_cast<uintptr_t>(buffers.halves[half]);
            if (begin == 0) {
                findings.fault("createBuffers answered 0 but left " + what + " null");
                continue;
            }
            // A type of no known width is only told apart by its address.
            spans.push_back({what, begin, begin + static_cast<uintptr_t>(bytes > 0 ? bytes : 1)});
        }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t k = 1; k < spans.size(); ++k)
        for (size_t j = k; j-- > 0;)
            if (spans[j].end > spans[k].begin) {
                findings.fault(spans[j].what + " and " + spans[k].what + " share memory: " +
                               (spans[j].begin == spans[k].begin
                                    ? std::string("the same buffer")
                                    : std::to_string(spans[j].end - spans[k].begin) + " bytes of " +
                                          std::to_string(spans[j].end - spans[j].begin)));
                break;
            }
}

// A channel that answers otherwise once buffers exist (isActive aside).
void judgeAnswersWithBuffers(const ChannelInfoObservation& seen, Findings& findings) {
    for (size_t k = 0; k < seen.withBuffers.size() && k < seen.channels.size(); ++k) {
        const ChannelAnswer& before = seen.channels[k];
        const ChannelAnswer& after = seen.withBuffers[k];
        if (before.status != ASE_OK) continue;
        const std::string which = channelName(before.input, before.asked) + " with buffers ";
        if (after.status != ASE_OK)
            findings.fault(which + "answered " + statusText(after.status));
        else if (after.type != before.type)
            findings.fault(which + "answered the sample type " + std::to_string(after.type) +
                           ", before them " + std::to_string(before.type));
        else if (after.name != before.name || after.nameTerminated != before.nameTerminated)
            findings.fault(which + "answered the name \"" + after.name + "\", before them \"" + before.name +
                           "\"");
        else if (after.group != before.group)
            findings.fault(which + "answered the group " + std::to_string(after.group) + ", before them " +
                           std::to_string(before.group));
    }
}

} // namespace

bool knownSampleType(ASIOSampleType type) {
    return (type >= ASIOSTInt16MSB && type <= ASIOSTFloat64MSB) ||
           (type >= ASIOSTInt32MSB16 && type <= ASIOSTInt32MSB24) ||
           (type >= ASIOSTInt16LSB && type <= ASIOSTFloat64LSB) ||
           (type >= ASIOSTInt32LSB16 && type <= ASIOSTInt32LSB24) || type == ASIOSTDSDInt8LSB1 ||
           type == ASIOSTDSDInt8MSB1 || type == ASIOSTDSDInt8NER8;
}

Outcome judgeChannelInfo(const ChannelInfoObservation& seen) {
    Findings findings;
    std::set<ASIOSampleType> types;
    for (const ChannelAnswer& answer : seen.channels) {
        const std::string which =
            std::string(answer.input ? "input " : "output ") + std::to_string(answer.asked);
        if (answer.status != ASE_OK) {
            findings.fault(which + " answered " + statusText(answer.status));
            continue;
        }
        types.insert(answer.type);
        if (!knownSampleType(answer.type))
            findings.fault(which + " has the unknown sample type " + std::to_string(answer.type));
        if (!answer.nameTerminated) findings.fault(which + " has a name without its terminating zero");
        if (answer.channel != answer.asked)
            findings.fault(which + " answered as channel " + std::to_string(answer.channel));
        if (answer.isInput != answer.input)
            findings.fault(which + " answered as " + (answer.isInput ? "an input" : "an output"));
    }
    for (const ChannelAnswer& answer : seen.outOfRange)
        if (answer.status == ASE_OK)
            findings.fault(std::string(answer.input ? "input " : "output ") + std::to_string(answer.asked) +
                           " (of " + std::to_string(answer.input ? seen.inputs : seen.outputs) +
                           ", out of range) answered with success");
    if (seen.afterStatus != ASE_OK)
        findings.fault("after the out-of-range questions a channel that exists answered " +
                       statusText(seen.afterStatus));
    std::string buffers = "; createBuffers for every channel answered " + statusText(seen.createStatus);
    if (seen.createStatus == ASE_OK) {
        judgeBuffers(seen, findings);
        judgeAnswersWithBuffers(seen, findings);
        buffers = "; with buffers of " + std::to_string(seen.size) +
                  " each half its own, every channel answered alike";
    }

    std::vector<std::string> typeNames;
    for (ASIOSampleType type : types)
        typeNames.push_back(std::to_string(type));
    return findings.outcome(std::to_string(seen.inputs) + " inputs and " + std::to_string(seen.outputs) +
                            " outputs answered (sample type " + joined(typeNames) +
                            "); out-of-range channels refused" + buffers);
}

} // namespace conform
