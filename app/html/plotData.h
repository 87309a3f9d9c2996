// What a measured run's plots are drawn from, taken from what the run gathered once the
// driver has stopped: the switch timeline, the intervals, the events and the machine's
// stalls for the timing plots; the correlation, the bursts and the glitches' waveforms
// for the round trip's plots.
#pragma once

#include <cstdint>
#include <vector>

#include "measure/machineStalls.h"
#include "measure/runDocument.h"
#include "measure/switchTiming.h"
#include "report/reportData.h"

// The timing plots of a run whose driver started at `originNs` (steady clock). Of the
// machine's stalls, those of half a buffer or longer are marked: shorter ones cannot
// make a switch late.
report::TimingData timingPlotData(const measure::SwitchTiming& timing, const measure::SwitchSummary& summary,
                                  int64_t originNs, const std::vector<measure::Stall>& stalls);

// Adds the round trip's plot data to what the report read from the document.
void addLatencyPlotData(report::LatencyData& data, const measure::LatencyFacts& facts);
