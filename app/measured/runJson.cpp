#include "app/measured/runJson.h"

#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

std::string utf8FromDriver(const char* field, size_t size) { return utf8Text(driverFieldText(field, size)); }

std::string clsidText(const plat::Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

// Creates (or empties) the file and writes `text` into it; false when it cannot.
bool writeWholeFile(const telText& path, const std::string& text) {
    const plat::Handle file = plat::createFile(path, false, true,
                                               plat::pathExists(path) ? plat::Disposition::truncateExisting
                                                                      : plat::Disposition::createNew,
                                               plat::fileAttributeNormal);
    if (file == plat::invalidHandle) return false;
    uint32_t written = 0;
    const bool ok = text.empty() || (plat::writeFile(file, text.data(), static_cast<uint32_t>(text.size()), written) &&
                                     written == text.size());
    return plat::closeHandle(file) && ok;
}

} // namespace

runJson::runJson(const std::optional<telText>& path) {
    if (!path) return;
    f_path = *path;
    f_active = writeWholeFile(f_path, std::string());
    if (!f_active)
        printMessage(u"Cannot write the JSON report to " + f_path + u"; the run goes on without it.");
    f_document.setTool("1.0", static_cast<int>(sizeof(void*) * 8));
}

void runJson::describeEntry(telAsioDriverList& list, int32_t selectedIndex) {
    f_driver.index = selectedIndex;
    const int32_t id = list.asioGetDrvID(selectedIndex);
    f_driver.description = utf8Text(plat::fromNarrow(list.asioGetDriverName(id)));
    plat::Guid clsid{};
    if (list.asioGetDriverCLSID(id, clsid) == plat::hrOk) f_driver.clsid = clsidText(clsid);
    f_document.setDriver(f_driver);
}

void runJson::describeDriver(telAsioDriver& driver) {
    const pASIODriverInfo info = driver.driverInfo();
    f_driver.name = utf8FromDriver(info->name, sizeof info->name);
    f_driver.version = info->driverVersion;
    f_driver.errorText = utf8FromDriver(info->errorMessage, sizeof info->errorMessage);
    f_document.setDriver(f_driver);

    measure::FigureFacts figures;
    figures.asioVersion = info->asioVersion;
    figures.inputs = driver.inputChannels();
    figures.outputs = driver.outputChannels();
    figures.bufferMin = driver.bufMinSize();
    figures.bufferMax = driver.bufMaxSize();
    figures.bufferPreferred = driver.bufPreferredSize();
    figures.bufferActual = driver.bufActualSize();
    figures.granularity = driver.bufGranularity();
    figures.sampleRate = driver.sampleRate();
    figures.inputLatency = driver.inputLatency();
    figures.outputLatency = driver.outputLatency();
    f_document.setFigures(figures);

    std::vector<measure::ChannelFacts> channels;
    const int32_t total = driver.inputChannels() + driver.outputChannels();
    for (int32_t index = 0; index < total; ++index) {
        const pASIOChannelInfo channel = driver.getChannelInfoByIndex(index);
        measure::ChannelFacts facts;
        facts.index = index;
        facts.input = index < driver.inputChannels();
        facts.channel = channel->channel;
        facts.name = utf8FromDriver(channel->name, sizeof channel->name);
        facts.type = channel->_type;
        facts.typeText = utf8Text(sampleTypeText(channel->_type));
        facts.active = channel->isActive != 0;
        facts.group = channel->channelGroup;
        channels.push_back(facts);
    }
    f_document.setChannels(channels);
}

void runJson::failure(const telText& line) { f_document.setFailure(utf8Text(line)); }

void runJson::findings(const runFindings& findings) {
    f_document.setRun(findings.seconds, stopCauseName(findings.cause));
    f_document.setStats(findings.stats, findings.messages);
    if (findings.latency) f_document.setLatency(*findings.latency);
    if (findings.recording) f_document.setRecording(*findings.recording);
    f_document.setVerdict(findings.verdict);
}

void runJson::write() {
    if (!f_active) return;
    if (!writeWholeFile(f_path, f_document.text()))
        printMessage(u"Cannot write the JSON report to " + f_path + u".");
}
