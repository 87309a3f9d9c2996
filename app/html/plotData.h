// What a measured run's plots are drawn from, taken from what the run gathered once the
// driver has stopped: the switch timeline, the intervals, the events and the machine's
// stalls for the timing plots; the correlation, the bursts and the glitches' waveforms
// for the round trip's plots.
#pragma once

#include <array>
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

// The parts of that data, for a run's plots passed on while it goes (timingRelay.h): the
// period, the late threshold and the bin length; one bin of the timeline (`index`
// counted from the run's start); one event at its time from `originNs`; the count of
// each kind of event the switches showed (the machine's stalls are not theirs: 0).
report::TimingData timingPlotFrame(const measure::SwitchTiming& timing);
report::TimelineBin timelineBinOf(const measure::TimelineBin& bin, size_t index);
report::TimingEvent timingEventOf(const measure::SwitchEvent& event, int64_t originNs);
std::array<uint64_t, report::eventKindCount> eventTotalsOf(const measure::SwitchSummary& summary);

// Adds the round trip's plot data to what the report read from the document.
void addLatencyPlotData(report::LatencyData& data, const measure::LatencyFacts& facts);
