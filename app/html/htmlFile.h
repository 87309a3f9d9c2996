// The HTML report of a run (/html=FILE): checked before the run like the JSON report,
// written whole at its end from the run's JSON document (what was found, on every path)
// and, for a measured run, its summary lines and the data of its plots.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/telTypes.h"
#include "report/reportData.h"
#include "util/reportFile.h"

struct runFindings;

class htmlFile {
  public:
    explicit htmlFile(const std::optional<telText>& path);

    bool active() const { return f_file.active(); }
    bool writable(telText* why) { return f_file.writable(why); }
    // Keeps what a measured run's plots and summary need.
    void findings(const runFindings& findings);
    // Keeps the baseline's document (/baseline), whose series the plots draw under this run's.
    void baseline(const nlohmann::json& document);
    // Renders the report from the document and what was kept, and writes it.
    bool write(const nlohmann::json& document, telText* why);

  private:
    reportFile f_file;
    std::vector<std::string> f_summary;
    std::shared_ptr<const report::TimingData> f_timing;
    std::optional<report::LatencyData> f_latencyPlots;
    nlohmann::json f_baseline;
};

// The page for a document alone (the suite, a run that ended without its plots).
std::string htmlOfDocument(const nlohmann::json& document);
// The same with the timing plots' data a run that crashed or hung passed on as it went
// (none: nullptr, or no timeline).
std::string htmlOfDocumentAndTiming(const nlohmann::json& document, const report::TimingData* timing);
