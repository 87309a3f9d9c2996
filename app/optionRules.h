// The rules a command line is held to once its switches are read: every switch does
// something in the run asked for, and every output has a file of its own. Each fault is a
// line of its own (printed and kept for the JSON report) and stops the run before
// anything is opened.
#pragma once

#include "app/options.h"
#include "core/telTypes.h"

// A switch given wrongly: its line, printed and kept for the JSON report.
void refuseSwitch(programOptions& options, const telText& line);

// A new switch that takes no value given one (/sweep=5).
void refuseValuesOfPlainSwitches(programOptions& options);

// A switch that the run asked for would leave out: /check without /conform, /junit or
// /metrics with /list or /probe,
// /timeout or /isolate where nothing runs in a process of its own, a switch of one kind
// of run with another kind, the control panel's check alone with /skipcp.
void refuseSwitchesWithoutEffect(programOptions& options);

// Two outputs (/json, /record, /html, /junit, /metrics) named to one file, in any spelling or
// through any link, or one named to the file another report is first written to.
void refuseSharedFiles(programOptions& options);
