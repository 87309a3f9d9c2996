// The JSON report of a run (/json=FILE): the document, filled as the run gets to each
// part, and the file it is written to when the run ends, on every path (see
// util/reportFile.h: checked before the run, written whole at its end).
#pragma once

#include <optional>

#include "app/measured/measuredRun.h"
#include "asio/telAsioDriver.h"
#include "asio/telAsioDriverList.h"
#include "core/telTypes.h"
#include "measure/runDocument.h"
#include "util/reportFile.h"

class runJson {
  public:
    // Without a path nothing is written.
    explicit runJson(const std::optional<telText>& path);

    bool active() const { return f_file.active(); }
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
    // The rows of a sweep as far as it has gone.
    void sweep(const nlohmann::json& rows);
    // The starts of /starts as far as they have gone, and what they add up to.
    void starts(const nlohmann::json& rows, const nlohmann::json& summary);

    // Writes the document; false (and `why`) when it could not be.
    bool write(telText* why);

  private:
    void changed();

    reportFile f_file;
    measure::RunDocument f_document;
    measure::DriverFacts f_driver;
};
