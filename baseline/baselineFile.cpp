#include "baseline/baselineFile.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "baseline/documentKind.h"

namespace baseline {

namespace {

std::string dateText(std::filesystem::file_time_type time) {
    const auto since = std::chrono::file_clock::to_sys(time);
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(since);
    const std::chrono::year_month_day date(day);
    const std::chrono::hh_mm_ss clock(std::chrono::floor<std::chrono::minutes>(since - day));
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()));
    return text;
}

} // namespace

BaselineFile readBaselineFile(const std::filesystem::path& path) {
    BaselineFile file;
    std::error_code failure;
    if (!std::filesystem::is_regular_file(path, failure)) {
        file.error = "cannot be read: it is no file";
        return file;
    }
    std::ifstream stream(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (!stream.good() && !stream.eof()) {
        file.error = "cannot be read";
        return file;
    }
    const auto time = std::filesystem::last_write_time(path, failure);
    if (!failure) file.date = dateText(time);
    file.document = nlohmann::json::parse(text, nullptr, false);
    if (file.document.is_discarded()) {
        file.document = nullptr;
        file.error = "is not JSON";
        return file;
    }
    if (!file.document.is_object() || !file.document.contains("tool") || !file.document["tool"].is_object() ||
        file.document["tool"].value("name", "") != "echoprobe") {
        file.error = "is not an echoprobe JSON document";
        return file;
    }
    const int version = schemaVersionOf(file.document);
    if (version == 0)
        file.error = "has a schemaVersion that is no version number";
    else if (version > kSchemaVersion)
        file.error = "was written by a newer echoprobe (schema version " + std::to_string(version) +
                     "; this one reads up to " + std::to_string(kSchemaVersion) + ")";
    return file;
}

} // namespace baseline
