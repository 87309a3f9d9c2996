#include "sampleCodec.h"

#include <cmath>
#include <cstring>

namespace capcheck {

namespace {

constexpr int32_t int16Msb = 0, int32Msb = 2, int16Lsb = 16, int32Lsb = 18, float32Lsb = 19, float64Lsb = 20;

uint64_t loadBytes(const uint8_t* at, int width, bool msb) {
    uint64_t bits = 0;
    for (int i = 0; i < width; ++i)
        bits |= static_cast<uint64_t>(at[msb ? width - 1 - i : i]) << (8 * i);
    return bits;
}

} // namespace

bool toneWritable(int32_t type) {
    return type == int16Msb || type == int32Msb || type == int16Lsb || type == int32Lsb ||
           type == float32Lsb || type == float64Lsb;
}

double decodeSample(const uint8_t* at, int32_t type) {
    switch (type) {
    case int16Msb:
    case int16Lsb:
        return static_cast<int16_t>(loadBytes(at, 2, type == int16Msb));
    case int32Msb:
    case int32Lsb:
        return static_cast<int32_t>(loadBytes(at, 4, type == int32Msb));
    case float32Lsb: {
        float value;
        std::memcpy(&value, at, 4);
        return value;
    }
    case float64Lsb: {
        double value;
        std::memcpy(&value, at, 8);
        return value;
    }
    default:
        return 0.0;
    }
}

double toneResult(int32_t type, double stored, double value, bool add) {
    const double base = add ? stored : 0.0;
    switch (type) {
    case int16Msb:
    case int16Lsb: {
        const double sum = std::nearbyint(base + value * 32767.0); // ties to even
        return sum > 32767.0 ? 32767.0 : (sum < -32768.0 ? -32768.0 : sum);
    }
    case int32Msb:
    case int32Lsb: {
        const double sum = base + value * 2147483647.0;
        if (sum > 2147483647.0) return 2147483647.0;
        if (sum < -2147483648.0) return -2147483648.0;
        return std::trunc(sum);
    }
    case float32Lsb:
        return static_cast<float>(base + value);
    default:
        return base + value;
    }
}

bool withinOneUnit(int32_t type, double expected, double actual) {
    if (std::isnan(expected) || std::isnan(actual)) return std::isnan(expected) && std::isnan(actual);
    if (std::isinf(expected) || std::isinf(actual)) return expected == actual;
    const double difference = std::fabs(expected - actual);
    switch (type) {
    case float32Lsb:
        return difference <= 1e-6 + 1e-6 * std::fabs(expected);
    case float64Lsb:
        return difference <= 1e-12 + 1e-12 * std::fabs(expected);
    default:
        return difference <= 1.0;
    }
}

std::string typeName(int32_t type) {
    static const struct {
        int32_t type;
        const char* name;
    } names[] = {
        {0, "int16msb"},    {1, "int24msb"},    {2, "int32msb"},    {3, "float32msb"},  {4, "float64msb"},
        {8, "int32msb16"},  {9, "int32msb18"},  {10, "int32msb20"}, {11, "int32msb24"}, {16, "int16"},
        {17, "int24"},      {18, "int32"},      {19, "float32"},    {20, "float64"},    {24, "int32lsb16"},
        {25, "int32lsb18"}, {26, "int32lsb20"}, {27, "int32lsb24"}, {32, "dsd1lsb"},    {33, "dsd1msb"},
        {40, "dsd8"},
    };
    for (const auto& entry : names)
        if (entry.type == type) return entry.name;
    return "type " + std::to_string(type);
}

} // namespace capcheck
