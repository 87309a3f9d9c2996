#include "tests/hostile/run/settings.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace hostile {

namespace {

std::string keyOf(const plat::Guid& g) {
    char text[64];
    std::snprintf(text, sizeof text, "CLSID\\{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                  g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

bool readText(plat::RegKey key, const char* name, std::string& value) {
    char buffer[256];
    uint32_t size = sizeof buffer;
    if (plat::regQueryValueExA(key, name, reinterpret_cast<uint8_t*>(buffer), size) != plat::errorSuccess ||
        size > sizeof buffer)
        return false;
    value.assign(buffer, size);
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return true;
}

// A DWORD, read as a signed number.
void readNumber(plat::RegKey key, const char* name, int32_t& value) {
    uint8_t bytes[4];
    uint32_t size = sizeof bytes;
    if (plat::regQueryValueExA(key, name, bytes, size) != plat::errorSuccess || size != 4) return;
    value = static_cast<int32_t>(uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                                 uint32_t{bytes[3]} << 24);
}

// A decimal string, for the numbers a DWORD cannot hold.
void readLong(plat::RegKey key, const char* name, int64_t& value) {
    std::string text;
    if (readText(key, name, text) && !text.empty()) value = std::strtoll(text.c_str(), nullptr, 0);
}

} // namespace

Settings loadSettings(const plat::Guid& clsid) {
    Settings s;
    plat::RegKey key = 0;
    if (plat::regOpenKeyA(plat::regClassesRoot(), keyOf(clsid), key) != plat::errorSuccess) return s;
    readText(key, "Name", s.name);
    readNumber(key, "Inputs", s.inputs);
    readNumber(key, "Outputs", s.outputs);
    readNumber(key, "Buffer", s.buffer);
    int32_t number = 0;
    readNumber(key, "Rate", number);
    if (number > 0) s.rate = number;
    number = 0;
    readNumber(key, "TimeInfo", number);
    s.timeInfo = number != 0;
    readNumber(key, "CreepPermille", s.creepPermille);
    readNumber(key, "CatchUpBuffers", s.catchUpBuffers);
    readNumber(key, "PaceFrom", s.paceFrom);
    number = 0;
    readNumber(key, "PaceRate", number);
    s.paceRate = number;
    readNumber(key, "TickUs", s.tickUs);
    readNumber(key, "Threads", s.threads);
    readNumber(key, "OutputReadyHoldUs", s.outputReadyHoldUs);
    readNumber(key, "PositionCallUs", s.positionCallUs);
    readNumber(key, "SwitchesAfterStop", s.switchesAfterStop);
    readLong(key, "FirstPosition", s.firstPosition);
    readNumber(key, "PositionBits", s.positionBits);
    readNumber(key, "StaleEvery", s.staleEvery);
    readNumber(key, "FailCreateAt", s.failCreateAt);
    number = 0;
    readNumber(key, "Silent", number);
    s.silent = number != 0;
    plat::regCloseKey(key);

    if (s.inputs < 0 || s.inputs > 64) s.inputs = 2;
    if (s.outputs < 0 || s.outputs > 64) s.outputs = 2;
    if (s.buffer < 16 || s.buffer > 8192) s.buffer = 256;
    if (s.threads < 1 || s.threads > 8) s.threads = 1;
    if (s.catchUpBuffers < 1) s.catchUpBuffers = 1;
    if (s.positionBits < 8 || s.positionBits > 64) s.positionBits = 64;
    return s;
}

} // namespace hostile
