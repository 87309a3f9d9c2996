#include "asio/leftInMemory.h"

#include <atomic>
#include <cstddef>

namespace {

// A fixed table: the owner thread adds to it only on a path that is already failing,
// and a process leaves very few objects behind. Beyond the table they are simply not
// freed.
constexpr size_t keptObjects = 64;
const void* kept[keptObjects] = {};
std::atomic<size_t> keptCount{0};

} // namespace

void leaveInMemory(const void* object) {
    if (object == nullptr) return;
    const size_t slot = keptCount.fetch_add(1);
    if (slot < keptObjects) kept[slot] = object;
}
