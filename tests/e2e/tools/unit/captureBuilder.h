// Builds capture files in memory for the checker's tests, in the driver's layout.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "testdriver/captureFormat.h"

struct CaptureBuilder {
    uint32_t frames = 4;
    std::vector<int32_t> inputTypes;
    std::vector<int32_t> outputTypes;
    uint32_t lateSwitches = 0;
    uint32_t outputReadyCalls = 0;
    bool outputReadyWanted = false;
    // Per record: the input halves, then the output halves.
    std::vector<std::vector<std::vector<uint8_t>>> records;
    std::vector<uint32_t> switchNumbers; // defaults to 0, 1, 2, ...

    size_t halfBytes(int32_t type) const { return capture::sampleTypeBytes(type) * frames; }

    // A record with the given input halves and every output half still sentinel.
    std::vector<std::vector<uint8_t>>& addRecord(const std::vector<std::vector<uint8_t>>& inputs) {
        std::vector<std::vector<uint8_t>> halves = inputs;
        for (int32_t type : outputTypes)
            halves.emplace_back(halfBytes(type), capture::sentinelByte);
        records.push_back(halves);
        return records.back();
    }

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> file(capture::headerBytes);
        std::memcpy(file.data(), capture::magic, sizeof capture::magic);
        namespace at = capture::offset;
        capture::putU32(&file[at::version], capture::version);
        capture::putU32(&file[at::inputs], static_cast<uint32_t>(inputTypes.size()));
        capture::putU32(&file[at::outputs], static_cast<uint32_t>(outputTypes.size()));
        capture::putU32(&file[at::bufferSize], frames);
        capture::putF64(&file[at::sampleRate], 48000.0);
        capture::putU32(&file[at::records], static_cast<uint32_t>(records.size()));
        capture::putU32(&file[at::switches], static_cast<uint32_t>(records.size()));
        capture::putU32(&file[at::lateSwitches], lateSwitches);
        capture::putU32(&file[at::outputReadyCalls], outputReadyCalls);
        capture::putU32(&file[at::outputReadyWanted], outputReadyWanted ? 1 : 0);
        int32_t channel = 0;
        for (const auto* types : {&inputTypes, &outputTypes}) {
            channel = 0;
            for (int32_t type : *types) {
                uint8_t entry[8];
                capture::putU32(entry, static_cast<uint32_t>(channel++));
                capture::putU32(entry + 4, static_cast<uint32_t>(type));
                file.insert(file.end(), entry, entry + 8);
            }
        }
        for (size_t r = 0; r < records.size(); ++r) {
            uint8_t prefix[8];
            const uint32_t number = r < switchNumbers.size() ? switchNumbers[r] : static_cast<uint32_t>(r);
            capture::putU32(prefix, number);
            capture::putU32(prefix + 4, number & 1);
            file.insert(file.end(), prefix, prefix + 8);
            for (const auto& half : records[r])
                file.insert(file.end(), half.begin(), half.end());
        }
        return file;
    }
};

template <typename T> std::vector<uint8_t> samplesAsBytes(const std::vector<T>& samples) {
    std::vector<uint8_t> bytes(samples.size() * sizeof(T));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}
