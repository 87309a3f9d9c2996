#include "app/inventory/probe.h"

#include <nlohmann/json.hpp>

#include "app/report.h"
#include "measure/bufferSizes.h"
#include "measure/runDocument.h"
#include "measure/sweepPlan.h"
#include "util/telUtils.h"

namespace {

struct futureQuery {
    int32_t selector;
    const char* name;
};
constexpr futureQuery futureQueries[] = {
    {kAsioCanInputMonitor, "canInputMonitor"}, {kAsioCanTimeInfo, "canTimeInfo"},
    {kAsioCanTimeCode, "canTimeCode"},         {kAsioCanTransport, "canTransport"},
    {kAsioCanInputGain, "canInputGain"},       {kAsioCanInputMeter, "canInputMeter"},
    {kAsioCanOutputGain, "canOutputGain"},     {kAsioCanOutputMeter, "canOutputMeter"},
    {kAsioCanReportOverload, "canReportOverload"},
};

// How many legal sizes the document lists before it gives the rule instead.
constexpr size_t listedSizes = 64;

telText joined(const std::vector<telText>& parts) {
    telText text;
    for (const telText& part : parts) text += (text.empty() ? u"" : u", ") + part;
    return text.empty() ? telText(u"none") : text;
}

void line(const char16_t* label, const telText& figures) {
    telText padded = label;
    padded.resize(10, u' ');
    printMessage(padded + u": " + figures);
}

nlohmann::json probeRates(telAsioDriver& driver) {
    nlohmann::json rates = nlohmann::json::object();
    std::vector<telText> can, cannot;
    for (double rate : measure::standardSampleRates()) {
        const bool possible = driver.canSampleRate(rate) != 0;
        rates[rateText(rate)] = possible;
        (possible ? can : cannot).push_back(decimalText(static_cast<int64_t>(rate)));
    }
    if (can.empty())
        line(u"Rates", u"can run at none of the standard rates");
    else if (cannot.empty())
        line(u"Rates", u"can run at every standard rate");
    else
        line(u"Rates", u"can run at " + joined(can) + u" Hz; not at " + joined(cannot) + u" Hz");
    return rates;
}

nlohmann::json probeClocks(telAsioDriver& driver) {
    static ASIOClockSources clocks; // main thread only; too large for the stack of every platform
    int32_t count = static_cast<int32_t>(std::size(clocks));
    const ASIOError status = driver.getClockSources(clocks, count);
    nlohmann::json list = nlohmann::json::array();
    std::vector<telText> texts;
    for (int32_t i = 0; status == ASE_OK && i < count; ++i) {
        const ASIOClockSource& clock = clocks[i];
        const telText name = driverFieldText(clock.name, sizeof clock.name);
        list.push_back({{"index", clock.index},
                        {"name", utf8Text(name)},
                        {"channel", clock.associatedChannel},
                        {"group", clock.associatedGroup},
                        {"current", clock.isCurrentSource != 0}});
        texts.push_back(decimalText(clock.index) + u" [" + name + u"]" +
                        (clock.associatedGroup >= 0 ? u" group " + decimalText(clock.associatedGroup) : telText()) +
                        (clock.isCurrentSource != 0 ? telText(u" current") : telText()));
    }
    line(u"Clocks", status == ASE_OK ? joined(texts) : u"the driver does not say, error code=" + hexCodeText(status));
    return list;
}

// Frees the buffers and creates them again at `size`; true when the driver took it.
bool createsBuffersOf(telAsioDriver& driver, int32_t size) {
    driver.stop(telTrue);
    const bool created = driver.init(0, telTrue, size) == ASE_OK && driver.bufActualSize() == size;
    driver.stop(telTrue);
    return created;
}

nlohmann::json probeBufferSizes(telAsioDriver& driver) {
    measure::BufferSizeRule rule{};
    const ASIOError status = driver.getBufferSize(rule.min, rule.max, rule.preferred, rule.granularity);
    if (status != ASE_OK) {
        line(u"Buffers", u"the driver does not say, error code=" + hexCodeText(status));
        return nullptr;
    }
    const std::vector<int32_t> legal = measure::legalBufferSizes(rule, listedSizes);
    const uint64_t count = measure::legalBufferSizeCount(rule);
    const std::string ruleText = measure::legalBufferSizesText(rule);
    line(u"Buffers", u"min=" + decimalText(rule.min) + u", max=" + decimalText(rule.max) + u", preferred=" +
                         decimalText(rule.preferred) + u", granularity=" + decimalText(rule.granularity) +
                         u"; legal: " + plat::fromNarrow(ruleText));
    nlohmann::json sizes = {{"min", rule.min},
                            {"max", rule.max},
                            {"preferred", rule.preferred},
                            {"granularity", rule.granularity},
                            {"legal", count <= listedSizes ? nlohmann::json(legal) : nlohmann::json(ruleText)},
                            {"legalCount", count}};
    if (legal.empty()) {
        sizes["createdMin"] = nullptr;
        sizes["createdMax"] = nullptr;
        return sizes;
    }
    const int32_t smallest = legal.front();
    const int32_t largest = measure::nearestLegalBufferSize(rule, rule.max).value_or(smallest);
    const bool createdMin = createsBuffersOf(driver, smallest);
    const bool createdMax = createsBuffersOf(driver, largest);
    sizes["createdMin"] = createdMin;
    sizes["createdMax"] = createdMax;
    line(u"Buffers", u"createBuffers takes the smallest (" + decimalText(smallest) + u"): " +
                         (createdMin ? u"yes" : u"no") + u", the largest (" + decimalText(largest) + u"): " +
                         (createdMax ? u"yes" : u"no"));
    return sizes;
}

void printChannelGroups(telAsioDriver& driver) {
    printMessage(u"Channel groups:");
    const int32_t inputs = driver.inputChannels();
    for (int32_t k = 0; k < inputs + driver.outputChannels(); ++k) {
        const pASIOChannelInfo info = driver.getChannelInfoByIndex(k);
        printMessage(telText(k < inputs ? u" -> [" : u" <- [") + driverFieldText(info->name, sizeof info->name) +
                     u"]. group=" + decimalText(info->channelGroup));
    }
}

nlohmann::json probeFeatures(telAsioDriver& driver, const switchProbe& probe) {
    nlohmann::json future = nlohmann::json::object();
    std::vector<telText> answered, not_answered;
    for (const futureQuery& query : futureQueries) {
        const ASIOError status = driver.future(query.selector, nullptr);
        const bool has = status == ASE_OK || status == ASE_SUCCESS;
        future[query.name] = has;
        (has ? answered : not_answered).push_back(plat::fromNarrow(query.name));
    }
    line(u"Future", u"answers " + joined(answered) + u"; not " + joined(not_answered));

    nlohmann::json asked = nlohmann::json::object();
    std::vector<telText> texts;
    for (const auto& [selector, count] : probe.messages()) {
        asked[measure::messageName(selector)] = count;
        texts.push_back(plat::fromNarrow(measure::messageName(selector)) + u" (" + decimalText(int64_t(count)) +
                        u")");
    }
    line(u"Messages", u"the driver asked the host: " + joined(texts));
    const bool outputReady = driver.postOutput() != 0;
    line(u"Notice", outputReady ? u"outputReady wanted" : u"outputReady not wanted");
    return {{"future", future}, {"messagesAsked", asked}, {"outputReady", outputReady}};
}

} // namespace

void probeDriver(telAsioDriver& driver, measuringBP& processor, switchProbe& probe, runJson& json) {
    processor.watchSwitches(&probe);
    printMessage(u"Probe of what the driver supports:");
    nlohmann::json section = nlohmann::json::object();
    section["rates"] = probeRates(driver);
    section["clockSources"] = probeClocks(driver);
    printChannelGroups(driver);
    section["bufferSizes"] = probeBufferSizes(driver);
    section["features"] = probeFeatures(driver, probe);
    printMessage(u"");
    json.document().setSection("probe", section);
}
