#include "tricks.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace hostile {

namespace {

constexpr const char* trickNames[] = {
    "rate-ignored",     "shared-buffer",      "short-buffers",          "restart-once",     "start-pumps",
    "time-info-anyway", "system-time-micros", "callback-after-dispose", "clock-count-huge", "type-changes",
    "odd-names",        "slow-calls",         "rate-change-storm"};
static_assert(std::size(trickNames) == static_cast<size_t>(Trick::count));

bool readText(plat::RegKey key, const char* name, std::string& text) {
    uint8_t buffer[1024];
    uint32_t size = sizeof buffer;
    if (plat::regQueryValueExA(key, name, buffer, size) != plat::errorSuccess) return false;
    text.assign(reinterpret_cast<const char*>(buffer), size < sizeof buffer ? size : sizeof buffer);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return true;
}

void readNumber(plat::RegKey key, const char* name, int32_t& value) {
    uint8_t bytes[4];
    uint32_t size = sizeof bytes;
    if (plat::regQueryValueExA(key, name, bytes, size) == plat::errorSuccess && size == 4)
        value = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24);
}

// The comma-separated words of `text`, without spaces.
std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> list(1);
    for (char c : text) {
        if (c == ',')
            list.emplace_back();
        else if (c != ' ')
            list.back() += c;
    }
    return list;
}

} // namespace

std::string classText(const plat::Guid& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2],
                  id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
    return text;
}

Tricks loadTricks(const plat::Guid& clsid) {
    Tricks tricks;
    plat::RegKey key = 0;
    if (plat::regOpenKeyA(plat::regClassesRoot(), "CLSID\\" + classText(clsid), key) != plat::errorSuccess)
        return tricks;
    std::string text;
    if (readText(key, "Tricks", text))
        for (const std::string& word : words(text))
            for (size_t k = 0; k < std::size(trickNames); ++k)
                if (word == trickNames[k]) tricks.on[k] = true;
    if (readText(key, "Rates", text)) {
        tricks.rates.clear();
        for (const std::string& word : words(text))
            if (!word.empty()) tricks.rates.push_back(std::atof(word.c_str()));
    }
    int32_t rate = static_cast<int32_t>(tricks.rate), timeInfo = 0;
    readNumber(key, "Inputs", tricks.inputs);
    readNumber(key, "Outputs", tricks.outputs);
    readNumber(key, "Rate", rate);
    readNumber(key, "BufferMin", tricks.bufferMin);
    readNumber(key, "BufferMax", tricks.bufferMax);
    readNumber(key, "BufferPreferred", tricks.bufferPreferred);
    readNumber(key, "Granularity", tricks.granularity);
    readNumber(key, "TimeInfo", timeInfo);
    readNumber(key, "SlowMs", tricks.slowMs);
    tricks.rate = rate;
    tricks.timeInfo = timeInfo != 0;
    plat::regCloseKey(key);
    return tricks;
}

} // namespace hostile
