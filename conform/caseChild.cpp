#include "conform/caseChild.h"

#include <cstdio>

#include "asio/callBeacon.h"
#include "asio/telAsioDriverList.h"
#include "conform/caseResult.h"
#include "conform/checkList.h"
#include "platform/childProcess.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace conform {

namespace {

constexpr int noCase = 3;

// The driver's class at `index` of the installed drivers' list.
bool classAt(telAsioDriverList& list, int32_t index, plat::Guid& clsid) {
    const int32_t id = list.asioGetDrvID(index);
    return id >= 0 && list.asioGetDriverCLSID(id, clsid) == plat::hrOk;
}

// The calls of "start+stop"; names that are no call are left out.
std::vector<telDriverCall> callsNamed(const std::string& text) {
    std::vector<telDriverCall> calls;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('+', begin);
        if (end == std::string::npos) end = text.size();
        const std::string name = text.substr(begin, end - begin);
        for (int32_t value = 1; std::string(driverCallName(static_cast<telDriverCall>(value))) != "none";
             ++value)
            if (name == driverCallName(static_cast<telDriverCall>(value)))
                calls.push_back(static_cast<telDriverCall>(value));
        begin = end + 1;
    }
    return calls;
}

} // namespace

bool caseChildRequested() {
    return switchPresent(caseSwitch, telFalse) != 0 && plat::startedByParent();
}

std::vector<std::u16string> caseArguments(int32_t index, const std::string& id, bool skipControlPanel,
                                          const std::vector<telDriverCall>& barred) {
    std::string value = std::to_string(index) + "," + id;
    for (size_t k = 0; k < barred.size(); ++k)
        value += (k == 0 ? "," : "+") + std::string(driverCallName(barred[k]));
    std::vector<std::u16string> arguments{u"/" + std::u16string(caseSwitch) + u"=" + plat::fromNarrow(value)};
    if (skipControlPanel) arguments.push_back(u"/skipcp");
    return arguments;
}

int runCaseChild() {
    plat::ParentLink link;
    if (!plat::connectToParent(link)) return noCase;
    telText value;
    switchArgument(caseSwitch, telFalse, u"", value);
    const std::string text = plat::toNarrow(value);
    const size_t comma = text.find(',');
    const size_t second = comma == std::string::npos ? std::string::npos : text.find(',', comma + 1);
    int index = -1;
    const CheckEntry* check =
        comma == std::string::npos ? nullptr : findCheck(text.substr(comma + 1, second - comma - 1));
    if (check == nullptr || std::sscanf(text.c_str(), "%d", &index) != 1) return noCase;

    if (link.shared != nullptr && link.sharedBytes >= callBeaconBytes) installCallBeacon(link.shared);
    int status = noCase;
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    CheckContext context;
    context.skipControlPanel = switchPresent(u"skipcp", telFalse) != 0;
    if (second != std::string::npos) context.tally.barred = callsNamed(text.substr(second + 1));
    context.tellStage = [](const std::string& stage) { plat::sendToParent(caseStageLine(stage)); };
    if (list && classAt(*list, index, context.clsid)) {
        const CheckReport report = runCheck(*check, context);
        status = plat::sendToParent(caseResultLine(caseResultOf(report, context))) ? 0 : noCase;
    }
    telFree(list);
    installCallBeacon(nullptr);
    return status;
}

} // namespace conform
