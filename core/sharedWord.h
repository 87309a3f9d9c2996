// A plain word of the module's records that several threads read and write: every access
// goes through an atomic reference, so the records keep their plain layout.
#pragma once

#include <atomic>

template <typename Word> std::atomic_ref<Word> sharedWord(Word& value) {
    return std::atomic_ref<Word>(value);
}
