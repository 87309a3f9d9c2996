// /baseline=FILE: the earlier run's document is read before the run (a file that cannot be
// used stops it there) and this run's document is judged against it at the end.
#pragma once

#include <optional>

#include "baseline/baselineFile.h"
#include "core/telTypes.h"
#include "measure/runDocument.h"
#include "measure/verdict.h"

class baselineRun {
  public:
    // Without a path there is no baseline, and judge() does nothing.
    explicit baselineRun(const std::optional<telText>& path);

    // Reads the file; false, and the line that says why, when it cannot be used.
    bool readable(telText* why);
    // Prints the "Compared with" block, puts `baseline` in the document and gives the
    // verdict a `regressed` reason per change for the worse; a baseline of another driver
    // or mode is an error with its line. The document's verdict is set again after.
    void judge(measure::RunDocument& document, measure::Verdict& verdict);
    // The baseline's document as read (null without one).
    const nlohmann::json& document() const { return f_file.document; }

  private:
    std::optional<telText> f_path;
    baseline::BaselineFile f_file;
};
