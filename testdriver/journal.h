// The Journal value: one text line per event of a driver object, appended to a file
// that is opened and closed for each line, so a test can read it at any moment. Never
// written from the stream thread.
#pragma once

#include <string>

namespace refdrv {

// Appends `line` and a line break to the file at `path`; nothing for an empty path.
// Lines of objects on different threads do not interleave. False when the file cannot
// be written.
bool appendJournal(const std::string& path, const std::string& line);

} // namespace refdrv
