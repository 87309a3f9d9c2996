// A run's figures as metrics a lab's Prometheus scrapes from the node exporter's
// textfile collector, from the run's JSON document (the same on every path: a run that
// could not be made or was interrupted gives what it knew).
//
// Every sample carries `mode` and the driver's labels: `driver` (the list's name),
// `index`, `driver_version`; a measured run's figures also `rate` and `buffer`, a
// loopback's `pair` ("OUT-IN", channels from 1), a check's `check`. Units are Prometheus'
// base units (seconds, hertz, ratios; samples and frames as counted), counters end in
// `_total`. The verdict is a gauge per verdict word, 1 for the run's:
//   echoprobe_verdict{mode="measured",driver="...",verdict="pass"} 1
// and a check's result one per result word:
//   echoprobe_check_result{mode="conformance",driver="...",check="start-stop",result="fail"} 1
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lab/runMode.h"

namespace lab {

// The metrics text of `document`, a run of the kind `mode`; `unixSeconds` is when it is
// written (echoprobe_run_timestamp_seconds).
std::string metricsText(const nlohmann::json& document, RunMode mode, double unixSeconds);

} // namespace lab
