// The baseline as the run reads it: the file's JSON document and when it was written.
#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace baseline {

struct BaselineFile {
    nlohmann::json document;
    std::string date;  // the file's modification time, "2026-12-08 09:58 UTC"
    std::string error; // why it cannot be used; empty when it can
};

// Reads FILE: a file that cannot be read, that is no JSON or no echoprobe document, or of
// a newer schema version gets the line that says so in `error`.
BaselineFile readBaselineFile(const std::filesystem::path& path);

} // namespace baseline
