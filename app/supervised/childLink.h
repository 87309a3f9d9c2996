// The measured run's side of its supervision: when this program was started by its own
// supervising parent (with /supervised), it tells the parent, line by line on the
// channel the platform gave it, what the parent needs should the run die or hang:
// the JSON document as far as it is known, that the driver was started, the shape of the
// recording being written, how far the measured run got (with its timing plots' data for
// an HTML report) and which setting of a sweep is running. The parent may ask it to stop
// (a signal the parent received) through the shared block. Nothing here runs on the
// callback path.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "measure/wavFile.h"

// The internal switch that makes a run the supervised child of its parent.
inline constexpr const char16_t* supervisedSwitch = u"supervised";

// Bytes of the shared block: the call beacon, then the parent's stop request.
size_t supervisedSharedBytes();

// True when this process is a supervised child; connects to the parent and installs the
// call beacon on the first call. An exception that ends the program on the host thread
// outside any driver call (std::terminate) is then told to the parent as this
// program's own failure before the process aborts.
bool connectSupervisedChild();
bool isSupervisedChild();
// A child of a run of every driver (/supervised=bare): the parent printed the banner.
bool supervisedWithoutBanner();

// What the child tells the parent. No-ops in a process that is not a supervised child.
void tellParentDocument(const std::string& documentText);
void tellParentStarted();
void tellParentRecording(const std::string& pathUtf8, const measure::WavPlan& plan);
// How far a measured run got, told ten times a second (see runProgress.h).
void tellParentMeasured(const nlohmann::json& progress);
// The setting of a sweep that is about to run: the `number`-th of `count`.
void tellParentSetting(double rate, int32_t buffer, size_t number, size_t count);
// The program is done and its process ends: what remains is the exit, where a driver
// module's own tear-down runs. It counts as the host thread's call `unload`, so the
// parent times it as any driver call; it never returns in the beacon's eyes.
void tellParentEnding();

// The line a failure of this program's own code is said with: "echoprobe failed: " and
// what failed. Never a driver's fault.
std::string toolFailureLine(const std::string& what);

// A signal the parent received and asks the child to stop for; 0 for none.
int parentStopSignal();
// The signal that stops the run: this process's own, or the one the parent passed on.
int runStopSignal();

// ---------------------------------------------------------------- the parent's side

// Asks the child to stop as for `signal`, through the shared block.
void askChildToStop(void* shared, int signal);
