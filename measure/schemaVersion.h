// The version of the JSON document's keys (docs/echoprobe.schema.json). Every document
// the tool writes carries it as `schemaVersion`; a renamed, removed or retyped key means
// a new version and a line in the README's history of them. Documents written before
// the key existed are version 1.
#pragma once

namespace measure {

inline constexpr int schemaVersion = 2;

} // namespace measure
