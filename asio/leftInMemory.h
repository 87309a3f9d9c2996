// Objects that a driver's callback may still be inside when their owner lets go of
// them (a driver that never left a callback within the wait). They are kept here,
// reachable and never freed, rather than freed under the driver's thread.
#pragma once

#include <memory>

void leaveInMemory(const void* object);

template <class T, class Deleter> void leaveInMemory(std::unique_ptr<T, Deleter>& owner) {
    leaveInMemory(static_cast<const void*>(owner.release()));
}
