#include "baseline/documentKind.h"

#include "lab/documentReading.h"

namespace baseline {

using nlohmann::json;

DocumentKind kindOf(const json& document) {
    if (lab::nodeAt(document, {"runs"}).is_array()) return DocumentKind::everyDriver;
    if (lab::nodeAt(document, {"conformance"}).is_object()) return DocumentKind::conformance;
    if (lab::nodeAt(document, {"sweep"}).is_array()) return DocumentKind::sweep;
    if (lab::nodeAt(document, {"starts"}).is_array()) return DocumentKind::starts;
    return DocumentKind::measured;
}

const char* kindName(DocumentKind kind) {
    switch (kind) {
    case DocumentKind::measured:
        return "a measured run";
    case DocumentKind::starts:
        return "a /starts run";
    case DocumentKind::sweep:
        return "a /sweep";
    case DocumentKind::conformance:
        return "a /conform suite";
    case DocumentKind::everyDriver:
        return "an /index=all run";
    }
    return "a measured run";
}

int schemaVersionOf(const json& document) {
    const json& version = lab::nodeAt(document, {"schemaVersion"});
    if (version.is_null()) return 1;
    if (!version.is_number_integer() || version.get<int64_t>() < 1 || version.get<int64_t>() > 1000000)
        return 0;
    return static_cast<int>(version.get<int64_t>());
}

namespace {
// The driver's own name, else its name in the list.
std::string driverOf(const json& document) {
    const std::string name = lab::textAt(document, {"driver", "name"});
    return name.empty() ? lab::textAt(document, {"driver", "description"}) : name;
}
} // namespace

std::string incompatibility(const json& baselineDocument, const json& current) {
    if (!baselineDocument.is_object() || lab::textAt(baselineDocument, {"tool", "name"}) != "echoprobe")
        return "is not an echoprobe JSON document";
    const int version = schemaVersionOf(baselineDocument);
    if (version == 0) return "has a schemaVersion that is no version number";
    if (version > kSchemaVersion)
        return "was written by a newer echoprobe (schema version " + std::to_string(version) +
               "; this one reads up to " + std::to_string(kSchemaVersion) + ")";
    const DocumentKind before = kindOf(baselineDocument), after = kindOf(current);
    if (before != after)
        return std::string("is of ") + kindName(before) + ", not of " + kindName(after) + " as this run is";
    if (after == DocumentKind::everyDriver) return {};
    const std::string driverBefore = driverOf(baselineDocument), driverAfter = driverOf(current);
    // A run of some driver is only compared with a run known to be of the same one.
    if (driverBefore.empty() && !driverAfter.empty())
        return "names no driver, so it cannot be told to be of this run's (" + driverAfter + ")";
    if (!driverBefore.empty() && !driverAfter.empty() && driverBefore != driverAfter)
        return "is of another driver (" + driverBefore + "; this run's is " + driverAfter + ")";
    return {};
}

} // namespace baseline
