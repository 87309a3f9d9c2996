// Fuzz target: the program's options, the measuring switches' strict value readers
// included, over command lines from the input (through setArgumentsForTesting).
//
// Input: UTF-16LE text cut at U+000A into the arguments after the program path.
// Checked: a time limit, a buffer size and a rate that were taken are in range; a
// wrongly given switch stops the run before anything is opened; the readers never
// accept what does not read back.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/options.h"
#include "conform/checkList.h"
#include "util/telUtils.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "options: %s\n", what);
    std::abort();
}

bool silenced = false;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!silenced) {
        telUtilsStartup();
        configureLog(u"<none>", nullptr, 0, -1, 0, -1, -1, telFalse, -1);
        silenced = true;
    }
    std::vector<telText> arguments{u"fuzz", telText()};
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == u'\n')
            arguments.emplace_back();
        else
            arguments.back() += unit;
    }
    setArgumentsForTesting(arguments);
    const programOptions options = readOptions();
    setArgumentsForTesting({});

    if (options.seconds) require(*options.seconds >= 1, "a time limit below one second");
    if (options.bufferSize) require(*options.bufferSize >= 1, "a buffer of no samples");
    if (options.sampleRate) require(std::isfinite(*options.sampleRate) && *options.sampleRate > 0, "a bad rate");
    if (options.latency) require(options.latency->output >= 1 && options.latency->input >= 1, "channel 0");
    if (options.jsonPath) require(!options.jsonPath->empty(), "an empty JSON path");
    if (options.recordPath) require(!options.recordPath->empty(), "an empty recording path");
    require(options.stopsAfterOptions() == (options.usageError || options.help), "stops after the options");
    require(!options.seconds || options.stats, "a time limit without the summary");
    require(options.timeoutSeconds >= 1 && options.timeoutSeconds <= 86400, "a case time limit out of range");
    for (const std::string& id : options.checks)
        require(conform::findCheck(id) != nullptr, "a check that does not exist");
    if (options.junitPath) require(!options.junitPath->empty(), "an empty JUnit path");
    if (options.metricsPath) require(!options.metricsPath->empty(), "an empty metrics path");

    // The readers on the raw text as a whole.
    const telText text = arguments.back();
    if (const std::optional<int64_t> number = readWholeNumber(text)) {
        telText digits = text;
        digits.erase(0, std::min(digits.find_first_not_of(u'0'), digits.size() - 1));
        require(intToText(*number) == digits, "a whole number that does not read back");
    }
    if (const std::optional<double> rate = readRate(text)) require(*rate > 0 && std::isfinite(*rate), "a bad rate");
    return 0;
}
