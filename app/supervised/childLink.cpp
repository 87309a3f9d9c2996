#include "app/supervised/childLink.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>

#include <nlohmann/json.hpp>

#include "asio/callBeacon.h"
#include "platform/childProcess.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// The parent's stop request sits right after the call beacon.
struct stopRequest {
    std::atomic<int32_t> signal;
};

bool connected = false;
bool tried = false;
void* sharedBlock = nullptr;
uintptr_t hostThread = 0;
std::terminate_handler formerTerminate = nullptr;

std::atomic<int32_t>* stopSlot(void* shared) {
    return shared == nullptr
               ? nullptr
               : &reinterpret_cast<stopRequest*>(static_cast<uint8_t*>(shared) + callBeaconBytes)->signal;
}

void send(const nlohmann::json& message) {
    if (connected)
        plat::sendToParent(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

// What escaped: the exception's own text where there is one.
std::string escapedWhat() {
    const std::exception_ptr escaped = std::current_exception();
    if (!escaped) return "the program was ended (std::terminate)";
    try {
        std::rethrow_exception(escaped);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
    }
    return "an exception of unknown kind";
}

// On the host thread outside any driver call, an exception that ends the program is this
// program's own failure: the parent hears it before the process aborts. Anywhere else
// (a driver's own thread, a driver call) it may be the driver's, and the parent judges
// the crash as it would any.
[[noreturn]] void onTerminate() {
    const CallBeaconReading beacon = readCallBeacon(sharedBlock);
    if (plat::threadKey() == hostThread && beacon.hostCall == telDriverCall::none) {
        try {
            send({{"toolFailure", toolFailureLine(escapedWhat())}});
        } catch (...) {
        }
    }
    if (formerTerminate != nullptr) formerTerminate();
    std::abort();
}

} // namespace

std::string toolFailureLine(const std::string& what) {
    return "echoprobe failed: " + what;
}

size_t supervisedSharedBytes() {
    return callBeaconBytes + 64;
}

bool connectSupervisedChild() {
    if (tried) return connected;
    tried = true;
    if (switchPresent(supervisedSwitch, telFalse) == 0 || !plat::startedByParent()) return false;
    plat::ParentLink link;
    if (!plat::connectToParent(link)) return false;
    connected = true;
    if (link.shared != nullptr && link.sharedBytes >= supervisedSharedBytes()) {
        sharedBlock = link.shared;
        installCallBeacon(sharedBlock);
    }
    hostThread = plat::threadKey();
    formerTerminate = std::set_terminate(onTerminate);
    return true;
}

bool isSupervisedChild() {
    return connected;
}

bool supervisedWithoutBanner() {
    telText value;
    switchArgument(supervisedSwitch, telFalse, u"", value);
    return connected && upperCaseText(value) == u"BARE";
}

void tellParentDocument(const std::string& documentText) {
    if (!connected) return;
    send({{"document", nlohmann::json::parse(documentText, nullptr, false)}});
}

void tellParentStarted() {
    send({{"started", true}});
}

void tellParentRecording(const std::string& pathUtf8, const measure::WavPlan& plan) {
    send({{"recording",
           {{"path", pathUtf8},
            {"channels", plan.channels},
            {"rate", plan.sampleRate},
            {"bits", plan.bitsPerSample},
            {"validBits", plan.validBits},
            {"float", plan.isFloat}}}});
}

void tellParentEnding() {
    if (!connected) return;
    send({{"ending", true}});
    if (const telDriverCallObserver observer = driverCallObserver()) observer(telDriverCall::unload, true);
}

void tellParentMeasured(const nlohmann::json& progress) {
    send(progress);
}

void tellParentSetting(double rate, int32_t buffer, size_t number, size_t count) {
    send({{"setting", {{"rate", rate}, {"buffer", buffer}, {"number", number}, {"count", count}}}});
}

int parentStopSignal() {
    std::atomic<int32_t>* slot = stopSlot(sharedBlock);
    return slot != nullptr ? slot->load(std::memory_order_acquire) : 0;
}

int runStopSignal() {
    const int own = plat::interruptSignal();
    return own != 0 ? own : parentStopSignal();
}

void askChildToStop(void* shared, int signal) {
    if (std::atomic<int32_t>* slot = stopSlot(shared)) slot->store(signal, std::memory_order_release);
}
