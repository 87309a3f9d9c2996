// The report of a run as one self-contained HTML page: inline CSS and SVG, no script,
// nothing fetched from anywhere, so it opens offline in any browser and prints well.
// Each plot and section appears only when its data is there.
#pragma once

#include <string>

#include "report/reportData.h"

namespace report {

// The page as UTF-8 text; the caller writes it to a file.
std::string renderHtmlReport(const ReportData& data);

} // namespace report
