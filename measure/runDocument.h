// The JSON document of a run: everything the report and the summary show, in one
// object that a standard JSON reader loads. The document has the same keys on every
// path, whatever the run got to: what is not known is null (a section that was not
// asked for, such as `latency` without a loopback measurement, is null as a whole).
// Texts are UTF-8; bytes that are not valid UTF-8 are replaced, never refused. Numbers
// that are not finite are written as null, never as a number.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure/channelMap/mapFacts.h"
#include "measure/latencyAnalysis.h"
#include "measure/switchTiming.h"
#include "measure/verdict.h"

namespace measure {

struct DriverFacts {
    std::optional<int32_t> index;    // the list position of the driver that was opened
    int32_t requestedIndex = 0;      // what /index asked for
    std::optional<std::string> description; // the list's name of the driver
    std::optional<std::string> clsid;       // class identifier text
    std::optional<std::string> name;        // the driver's own name (after initialisation)
    std::optional<int32_t> version;
    std::optional<std::string> errorText;
};

struct FigureFacts {
    int32_t asioVersion = 0;
    int32_t inputs = 0, outputs = 0;
    int32_t reportedInputs = 0, reportedOutputs = 0; // before the limit of 256 a direction
    int32_t bufferMin = 0, bufferMax = 0, bufferPreferred = 0, bufferActual = 0, granularity = 0;
    double sampleRate = 0;
    int32_t inputLatency = 0, outputLatency = 0;
};

struct ChannelFacts {
    int32_t index = 0;       // the driver object's channel index: inputs first, then outputs
    bool input = true;
    int32_t channel = 0;     // number within its direction
    std::string name;
    int32_t type = 0;
    std::string typeText;
    bool active = false;
    int32_t group = 0;
};

struct MessageFacts {
    std::map<int32_t, uint64_t> bySelector; // every selector that came, with its count
    uint64_t rateChanges = 0;
    bool outputReadyWanted = false;
    uint64_t outputReadyCalls = 0;
};

struct LatencyFacts {
    LatencyResult result;
    int32_t output = 0, input = 0; // 1-based channel numbers
    int64_t reportedSamples = 0;   // the driver's input + output latency
    int32_t bufferSize = 0;        // the buffers it was reported for
    double sampleRate = 0;
};

struct RecordingFacts {
    std::string path;
    uint64_t frames = 0, driverGapFrames = 0, lostFrames = 0, overlapFrames = 0;
    uint64_t rebases = 0;       // position jumps the recording went on through in arrival order
    uint64_t framesNotWritten = 0; // frames that could not be written (a write error)
    bool rf64 = false;          // the data passed 4 GiB and the file is RF64
    bool full = false;          // stopped at the largest size the format holds
    bool written = false;       // completed and closed without a write error
    uint16_t channels = 0;
    int32_t channelsLeftOut = 0; // inputs beyond what the driver object handles
    std::string error;
};

struct RunFigures {
    double seconds = 0;
    std::string stoppedBy;
    int signal = 0; // the signal that stopped it, 0 for none
    CallTimes calls;
    uint64_t switchesAfterStop = 0; // switches that came after the driver's stop returned
};

class RunDocument {
  public:
    RunDocument(); // every key present, unknown values null

    void setTool(const std::string& version, int bits);
    void setDriver(const DriverFacts& driver);
    void setFigures(const FigureFacts& figures);
    void setChannels(const std::vector<ChannelFacts>& channels);
    void addNotice(const std::string& notice);
    void setRun(const RunFigures& run);
    void setStats(const SwitchSummary& stats, const MessageFacts& messages);
    void setMachine(const MachineFacts& machine);
    void setHost(const HostFacts& host, uint64_t lostSwitchRecords);
    void setLatency(const LatencyFacts& latency);
    // A channel map (/latency=all) in `latency`: its pairs and the map.
    void setChannelMap(const ChannelMapFacts& map);
    void setRecording(const RecordingFacts& recording);
    void setVerdict(const Verdict& verdict);
    // The failure line the console showed; the run could not happen.
    void setFailure(const std::string& line);
    // Any further section (the driver list, a probe, the conformance suite), given as JSON.
    void setSection(const std::string& key, nlohmann::json value);

    const nlohmann::json& document() const { return f_json; }
    // The document, indented, with a final line end.
    std::string text() const;

  private:
    nlohmann::json f_json;
};

// A figure rounded to `decimals`, or null when it is not a number.
nlohmann::json jsonNumber(double value, int decimals);

// The round trip to a fraction of a sample as `latency.precise` holds it: the mean, its
// 95 % interval, spread and change, and the band it was measured in.
nlohmann::json preciseRoundTripJson(const RoundTripFigures& figures, double sampleRate);

// The names the summary and the document give the messages a driver sends.
std::string messageName(int32_t selector);

} // namespace measure
