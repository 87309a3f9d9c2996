// The kind of run a JSON document comes from, read from the document itself.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "measure/schemaVersion.h"

namespace baseline {

// Documents of this version are written now; one without `schemaVersion` is version 1.
inline constexpr int kSchemaVersion = measure::schemaVersion;

enum class DocumentKind { measured, starts, sweep, conformance, everyDriver };

DocumentKind kindOf(const nlohmann::json& document);
// The switch that makes a run of that kind, as a line names it ("/sweep").
const char* kindName(DocumentKind kind);
// The document's `schemaVersion`, 1 where it has none; 0 for a value that is no version.
int schemaVersionOf(const nlohmann::json& document);

// Why the baseline cannot be compared with this run's document (not an echoprobe
// document, a newer version, another kind of run, another driver); empty when it can.
std::string incompatibility(const nlohmann::json& baselineDocument, const nlohmann::json& current);

} // namespace baseline
