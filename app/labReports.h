// The outputs a lab reads (/metrics=FILE for Prometheus, /junit=FILE for a CI server):
// checked before the run like the JSON report, and written at its end from the run's
// JSON document, on every path, each to a file beside its target that is then renamed
// into place (a collector reading the folder never sees half a file).
#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "app/options.h"
#include "core/telTypes.h"
#include "lab/runMode.h"
#include "util/reportFile.h"

// The kind of run the options ask for, as a lab's outputs name it.
lab::RunMode labModeOf(const programOptions& options);

// Now, in seconds since 1970.
double unixSecondsNow();

class labReports {
  public:
    // Without a path, that output is not written.
    labReports(const std::optional<telText>& metricsPath, const std::optional<telText>& junitPath,
               lab::RunMode mode);

    // Whether both can be written; otherwise the line that says why.
    bool writable(telText* why);
    // Writes both from the document; false, and the line of the first that could not be
    // written, when one could not.
    bool write(const nlohmann::json& document, telText* why);
    // A run refused before it began: the metrics say so, and a JUnit report of an earlier
    // run is removed (there are no results).
    void writeRefusal(const nlohmann::json& document);

  private:
    reportFile f_metrics, f_junit;
    lab::RunMode f_mode;
};
