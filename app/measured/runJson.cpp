#include "app/measured/runJson.h"

#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "app/supervised/childLink.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

std::string utf8FromDriver(const char* field, size_t size) {
    return utf8Text(driverFieldText(field, size));
}

} // namespace

runJson::runJson(const std::optional<telText>& path) : f_file(path, u"JSON") {
    f_document.setTool("1.0", static_cast<int>(sizeof(void*) * 8));
}

bool runJson::writable(telText* why) {
    return f_file.writable(why);
}

void runJson::describeEntry(telAsioDriverList& list, int32_t requestedIndex, int32_t selectedIndex) {
    f_driver.requestedIndex = requestedIndex;
    // A negative index opens the first driver; one past the end, the last.
    const int32_t used = selectedIndex < 0 ? 0 : selectedIndex;
    f_driver.index = used;
    const int32_t id = list.asioGetDrvID(used);
    f_driver.description = utf8Text(plat::fromNarrow(list.asioGetDriverName(id)));
    plat::Guid clsid{};
    if (list.asioGetDriverCLSID(id, clsid) == plat::hrOk) f_driver.clsid = guidText(clsid);
    f_document.setDriver(f_driver);
    changed();
}

void runJson::describeRefusal(telAsioDriver& driver) {
    const telAnsiText said = driver.getDriverError(telFalse);
    f_driver.errorText = utf8Text(plat::fromNarrow(said));
    f_document.setDriver(f_driver);
    changed();
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
    figures.reportedInputs = figures.inputs;
    figures.reportedOutputs = figures.outputs;
    int32_t inputs = 0, outputs = 0;
    if (driver.getChannels(inputs, outputs) == ASE_OK) {
        figures.reportedInputs = inputs;
        figures.reportedOutputs = outputs;
    }
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
    changed();
}

void runJson::failure(const telText& line) {
    f_document.setFailure(utf8Text(line));
    changed();
}

void runJson::notice(const telText& line) {
    f_document.addNotice(utf8Text(line));
    changed();
}

// A supervising parent keeps the document as far as it goes, for a run that dies.
void runJson::changed() {
    if (isSupervisedChild()) tellParentDocument(f_document.text());
}

void runJson::findings(const runFindings& findings) {
    f_document.setRun({findings.seconds, stopCauseName(findings.cause), findings.signal, findings.calls,
                       findings.switchesAfterStop});
    f_document.setStats(findings.stats, findings.messages);
    f_document.setMachine(findings.machine);
    f_document.setHost(findings.host, findings.stats.hostLostRecords);
    if (findings.toneShortages > 0)
        f_document.addNotice("the tone made ahead ran short " + std::to_string(findings.toneShortages) +
                             " times: the callback computed it itself");
    if (findings.latency) f_document.setLatency(*findings.latency);
    if (findings.channelMap) f_document.setChannelMap(*findings.channelMap);
    if (findings.recording) f_document.setRecording(*findings.recording);
    changed();
}

void runJson::sweep(const nlohmann::json& rows) {
    f_document.setSection("sweep", rows);
    changed();
}

void runJson::starts(const nlohmann::json& rows, const nlohmann::json& summary) {
    f_document.setSection("starts", rows);
    f_document.setSection("startsSummary", summary);
    changed();
}

void runJson::verdict(const measure::Verdict& verdict) {
    f_document.setVerdict(verdict);
    changed();
}

bool runJson::write(telText* why) {
    return f_file.write(f_document.text(), why);
}
