// The JSON report of a run (/json=FILE): the document, filled as the run gets to each
// part, and the file it is written to when the run ends, on every path.
//
// Before the run the tool makes sure the file can be written: a name in a missing
// folder, or a folder, stops the run. The document is written whole at the end, to a
// file beside the target that is then renamed into place, so a reader never sees half a
// document and a run that fails leaves no older report of the same name behind. A
// target that is not a plain file (a device, a pipe) is written to directly.
#pragma once

#include <optional>

#include "app/measured/measuredRun.h"
#include "asio/telAsioDriver.h"
#include "asio/telAsioDriverList.h"
#include "core/telTypes.h"
#include "measure/runDocument.h"

class runJson {
  public:
    // Without a path nothing is written.
    explicit runJson(const std::optional<telText>& path);

    bool active() const { return f_active; }
    // Whether the file can be written; otherwise the line that says why.
    bool writable(telText* why);
    measure::RunDocument& document() { return f_document; }

    // The selected list entry, before the driver is initialised.
    void describeEntry(telAsioDriverList& list, int32_t requestedIndex, int32_t selectedIndex);
    // What the driver said when it could not be initialised.
    void describeRefusal(telAsioDriver& driver);
    // The figures and channels of an initialised driver, and its own name and version.
    void describeDriver(telAsioDriver& driver);
    void failure(const telText& line);
    void notice(const telText& line);
    void findings(const runFindings& findings);
    void verdict(const measure::Verdict& verdict);

    // Writes the document; false (and `why`) when it could not be.
    bool write(telText* why);

  private:
    telText f_path;
    telText f_partialPath;
    bool f_direct = false; // the target is no plain file: written to in place
    bool f_active = false;
    measure::RunDocument f_document;
    measure::DriverFacts f_driver;
};
