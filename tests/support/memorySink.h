// A recording's bytes kept in memory, with room for only so many of them (a disk that
// fills up), for tests of what writes recordings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "measure/wavFile.h"

namespace teltest {

class MemorySink : public measure::WavSink {
  public:
    explicit MemorySink(std::vector<uint8_t>& bytes, size_t room = SIZE_MAX) : bytes_(bytes), room_(room) {}
    size_t append(const void* data, size_t bytes) override {
        const size_t taken = std::min(bytes, room_ - std::min(room_, bytes_.size()));
        const auto* begin = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), begin, begin + taken);
        return taken;
    }
    bool overwrite(uint64_t offset, const void* data, size_t bytes) override {
        if (offset + bytes > bytes_.size()) return false;
        std::memcpy(bytes_.data() + offset, data, bytes);
        return true;
    }
    bool truncate(uint64_t size) override {
        bytes_.resize(static_cast<size_t>(size));
        return true;
    }
    bool close() override { return true; }
    std::string lastError() const override { return "No space left on device"; }

  private:
    std::vector<uint8_t>& bytes_;
    size_t room_;
};

} // namespace teltest
