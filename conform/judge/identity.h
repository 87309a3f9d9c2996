// Judging what a driver says about itself: its identity over repeated creations
// (create-release), its figures (figures) and its channels (channel-info).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asio/asioTypes.h"
#include "conform/outcome.h"
#include "measure/bufferSizes.h"
#include "measure/runDocument.h"

namespace conform {

// What one creation of the driver reported.
struct DriverIdentity {
    int32_t createStatus = 0; // CoCreateInstance's result
    bool initialised = false;
    std::string errorText; // getErrorMessage after a refused init
    std::string name;
    int32_t version = 0;
    ASIOError channelsStatus = ASE_OK;
    int32_t inputs = 0, outputs = 0;
    ASIOError sizesStatus = ASE_OK;
    measure::BufferSizeRule sizes{};
    ASIOError rateStatus = ASE_OK;
    double rate = 0;
};

struct CreateReleaseObservation {
    std::vector<DriverIdentity> creations; // create, init, release, each in turn
    int32_t bareCreateStatus = 0;          // create and release without init
};

// Every creation and init succeeds and reports the same name, version, channels, buffer
// sizes and rate.
Outcome judgeCreateRelease(const CreateReleaseObservation& seen);

struct FiguresObservation {
    ASIOError channelsStatus = ASE_OK;
    int32_t inputs = 0, outputs = 0;
    ASIOError sizesStatus = ASE_OK;
    measure::BufferSizeRule sizes{};
    ASIOError rateStatus = ASE_OK;
    double rate = 0;
    int32_t createdSize = 0; // createBuffers for every channel at this size
    ASIOError createStatus = ASE_OK;
    ASIOError latenciesStatus = ASE_OK; // getLatencies after createBuffers
    int32_t inputLatency = 0, outputLatency = 0;
};

// The figures as the run document holds them; none unless every call answered 0 (the
// document says null for what is not known, never 0).
std::optional<measure::FigureFacts> figureFacts(const FiguresObservation& seen);

// At least one channel; min ≤ preferred ≤ max with sizes that follow the granularity
// (-1: powers of two, above 0: steps above min; 0 with min ≠ max warns, as hosts read it
// differently); a finite rate above 0; latencies after createBuffers not negative.
Outcome judgeFigures(const FiguresObservation& seen);

// One getChannelInfo question and its answer. The record was filled with `asked` and the
// direction before the call and with 0xCC bytes elsewhere.
struct ChannelAnswer {
    bool input = true;
    int32_t asked = 0;
    ASIOError status = ASE_OK;
    int32_t channel = 0; // as the record holds them afterwards
    bool isInput = true;
    ASIOSampleType type = 0;
    bool nameTerminated = true;
    std::string name; // up to its zero, when terminated
    int32_t group = 0;
};

// The two halves createBuffers handed out for one channel.
struct ChannelBuffers {
    bool input = true;
    int32_t channel = 0;
    const void* halves[2] = {nullptr, nullptr};
};

struct ChannelInfoObservation {
    int32_t inputs = 0, outputs = 0;
    std::vector<ChannelAnswer> channels;   // every channel
    std::vector<ChannelAnswer> outOfRange; // channels that do not exist
    ASIOError afterStatus = ASE_OK;        // a channel that exists, asked after those
    // createBuffers for every channel at `size`, what it handed out, and every channel
    // asked again while the buffers exist (in the order of `channels`).
    int32_t size = 0;
    ASIOError createStatus = ASE_NotPresent;
    std::vector<ChannelBuffers> buffers;
    std::vector<ChannelAnswer> withBuffers;
};

bool knownSampleType(ASIOSampleType type);

// Bytes one buffer half of `size` samples of the type takes: 1-bit DSD packs 8 samples a
// byte; 0 for a type of no known width.
int64_t bufferHalfBytes(ASIOSampleType type, int32_t size);

// Every channel answers with a known type, a terminated name, its own number and
// direction; channels out of range are refused and do no harm. Once createBuffers
// succeeded for every channel, each half is memory of its own (not null, as long as its
// channel's type needs and overlapping no other: a host writes every output and reads
// every input whole), and every channel answers with the type, name and group it gave
// before.
Outcome judgeChannelInfo(const ChannelInfoObservation& seen);

} // namespace conform
