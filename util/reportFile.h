// A report file named on the command line (a JSON document, a JUnit report): checked
// before anything runs, written whole when the run ends.
//
// The text goes to a file beside the target that is then renamed into place, so a
// reader never sees half a report, and a run that fails never leaves an older report
// of the same name behind. A target that is not a plain file (a device, a pipe) is
// written to directly.
#pragma once

#include <optional>
#include <string>

#include "core/telTypes.h"

// What a report's name is followed by while it is being written.
inline constexpr const char16_t* partialSuffix = u".partial";

// Removes an output file left from an earlier run where this run writes none (a refused
// run, a recording that never began), so no stale file reads as this run's. Only a plain
// file is removed: a folder, a device or a pipe is left as it is.
void removeStaleOutput(const std::optional<telText>& path);

class reportFile {
  public:
    // `what` names the report in messages: "JSON", "JUnit". Without a path nothing is
    // written and every operation succeeds.
    reportFile(const std::optional<telText>& path, const char16_t* what);

    bool active() const { return f_active; }
    // Whether the report can be written at its place; otherwise the line that says why
    // ("Cannot write the JSON report to x: No such file or directory.").
    bool writable(telText* why);
    // Writes the report; false, and the line that says why, when it cannot be.
    bool write(const std::string& text, telText* why);
    // Removes a report of an earlier run at the place, for a run that writes none.
    void discard();

  private:
    telText failureLine(const telText& reason) const;

    telText f_path;
    telText f_partialPath;
    telText f_what;
    bool f_direct = false; // the target is no plain file: written to in place
    bool f_active = false;
};
