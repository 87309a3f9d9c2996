// Reading a run's JSON document where any part may be missing or null (a run that
// failed early, a document of an older version): a value that is not there is empty.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace lab {

// The node at `path` below `node`, or null.
const nlohmann::json& nodeAt(const nlohmann::json& node, std::initializer_list<const char*> path);
std::optional<double> numberAt(const nlohmann::json& node, std::initializer_list<const char*> path);
// A text as it is, or a number as the metrics write it; empty when neither.
std::string textAt(const nlohmann::json& node, std::initializer_list<const char*> path);

} // namespace lab
