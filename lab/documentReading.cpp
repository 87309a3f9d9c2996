#include "lab/documentReading.h"

#include "lab/metricSet.h"
#include "lab/runMode.h"

namespace lab {

namespace {
const nlohmann::json nullNode;
}

const char* modeName(RunMode mode) {
    switch (mode) {
    case RunMode::measured:
        return "measured";
    case RunMode::sweep:
        return "sweep";
    case RunMode::conformance:
        return "conformance";
    case RunMode::everyDriver:
        return "every-driver";
    }
    return "measured";
}

const nlohmann::json& nodeAt(const nlohmann::json& node, std::initializer_list<const char*> path) {
    const nlohmann::json* at = &node;
    for (const char* key : path) {
        if (!at->is_object()) return nullNode;
        const auto found = at->find(key);
        if (found == at->end()) return nullNode;
        at = &*found;
    }
    return *at;
}

std::optional<double> numberAt(const nlohmann::json& node, std::initializer_list<const char*> path) {
    const nlohmann::json& value = nodeAt(node, path);
    if (value.is_number()) return value.get<double>();
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    return std::nullopt;
}

std::string textAt(const nlohmann::json& node, std::initializer_list<const char*> path) {
    const nlohmann::json& value = nodeAt(node, path);
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return metricNumber(value.get<double>());
    return {};
}

} // namespace lab
