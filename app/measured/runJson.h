// The JSON report of a run (/json=FILE): the document, filled as the run gets to each
// part, and the file it is written to when the run ends, on every path.
#pragma once

#include <optional>

#include "app/measured/measuredRun.h"
#include "asio/telAsioDriver.h"
#include "asio/telAsioDriverList.h"
#include "core/telTypes.h"
#include "measure/runDocument.h"

class runJson {
  public:
    // Without a path nothing is written. With one, the file is created at once, so a
    // path that cannot be written is found before the run: one line says so, and the
    // run goes on without a JSON report.
    explicit runJson(const std::optional<telText>& path);

    bool active() const { return f_active; }
    measure::RunDocument& document() { return f_document; }

    // The selected list entry, before the driver is initialised.
    void describeEntry(telAsioDriverList& list, int32_t selectedIndex);
    // The figures and channels of an initialised driver, and its own name and version.
    void describeDriver(telAsioDriver& driver);
    void failure(const telText& line);
    void findings(const runFindings& findings);

    // Writes the document; one line when that fails.
    void write();

  private:
    telText f_path;
    bool f_active = false;
    measure::RunDocument f_document;
    measure::DriverFacts f_driver;
};
