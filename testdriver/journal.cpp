#include "testdriver/journal.h"

#include <cstdio>
#include <mutex>

namespace refdrv {

namespace {

std::mutex journalMutex;

} // namespace

bool appendJournal(const std::string& path, const std::string& line) {
    if (path.empty()) return true;
    std::lock_guard lock(journalMutex);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return false;
    bool ok = std::fwrite(line.data(), 1, line.size(), file) == line.size() && std::fputc('\n', file) != EOF;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

} // namespace refdrv
