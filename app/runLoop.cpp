#include "app/runLoop.h"

#include "app/report.h"
#include "app/supervised/childLink.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// The failure line, printed and handed to the caller.
void reportFailure(const telText& line, telText* failure) {
    printMessage(line);
    if (failure != nullptr) *failure = line;
}

telText initFailureLine(telAsioDriver& driver, ASIOError status) {
    return u"Could not initialize the driver, error=" + plat::fromNarrow(driver.getDriverError(telTrue)) +
           u"; error code=" + hexCodeText(status);
}

} // namespace

bool initialiseDriver(telAsioDriver& driver, int32_t bufferSize, telText* failure) {
    const ASIOError status = driver.init(0, telTrue, bufferSize);
    if (status == ASE_OK) return true;
    reportFailure(initFailureLine(driver, status), failure);
    return false;
}

bool initialiseWithoutBuffers(telAsioDriver& driver, std::optional<measure::BufferSizeRule>& figures,
                              telText* failure) {
    figures.reset();
    const ASIOError status = driver.init(0, telFalse, 0);
    if (status != ASE_OK) {
        reportFailure(initFailureLine(driver, status), failure);
        return false;
    }
    measure::BufferSizeRule rule{};
    if (driver.getBufferSize(rule.min, rule.max, rule.preferred, rule.granularity) == ASE_OK) figures = rule;
    return true;
}

int32_t defaultBufferSize(const std::optional<measure::BufferSizeRule>& figures) {
    if (!figures || measure::isLegalBufferSize(*figures, requestedBufferSize)) return requestedBufferSize;
    return measure::nearestLegalBufferSize(*figures, requestedBufferSize).value_or(requestedBufferSize);
}

void chooseSampleRate(telAsioDriver& driver) {
    if (driver.canSampleRate(48000.0))
        driver.setSampleRate(48000.0);
    else
        driver.setSampleRate(44100.0);
}

bool startDriver(telAsioDriver& driver, telText* failure) {
    const ASIOError status = driver.start(telFalse, -1);
    if (status != ASE_OK) {
        reportFailure(u"Unable to start the driver, error message: " + plat::fromNarrow(driver.getDriverError(telTrue)) +
                          u"; error code=" + hexCodeText(status),
                      failure);
        return false;
    }
    printMessage(u"ASIO Driver started succefully.");
    printMessage(u"Press SPACE to terminate the application...\r\n");
    return true;
}

telText statusText(uint32_t systemMs, int64_t samplePosition) {
    return intToText(systemMs, 10, 3, u' ') + u" ms / " + groupedText(samplePosition) + u" samples\r";
}

const char* stopCauseName(stopCause cause) {
    switch (cause) {
    case stopCause::space:
        return "space";
    case stopCause::interrupt:
        return "interrupt";
    case stopCause::endOfInput:
        return "end of input";
    case stopCause::timeLimit:
        return "time limit";
    }
    return "";
}

namespace {

std::optional<stopCause> platformStopRequested() {
    if (plat::spaceKeyDown()) return stopCause::space;
    if (plat::interruptRequested() || parentStopSignal() != 0) return stopCause::interrupt;
    if (plat::inputEnded()) return stopCause::endOfInput;
    return std::nullopt;
}

void platformWriteStatus(const telText& text) {
    const telAnsiText bytes = plat::toNarrow(text);
    uint32_t written = 0;
    const plat::Handle output = plat::stdOutput();
    if (output == 0 || output == plat::invalidHandle) return;
    plat::writeFile(output, bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    plat::flushStdOutput();
}

} // namespace

statusLoopPorts platformStatusLoopPorts() {
    return {plat::systemClockMs, plat::sleepMs, platformStopRequested, platformWriteStatus, timeMark};
}

statusLoopPorts measuringStatusLoopPorts() {
    statusLoopPorts ports = platformStatusLoopPorts();
    ports.writeStatus = writeLiveLine;
    return ports;
}

void writeLiveLine(const telText& text) {
    if (plat::standardOutputIsTerminal()) platformWriteStatus(text);
}

stopCause runStatusLoop(telAsioDriver& driver, const statusLoopPorts& ports, const statusLoopLimits& limits) {
    const uint64_t start = ports.monotonicMs();
    for (;;) {
        int64_t samplePosition = 0;
        int64_t timeStamp = 0;
        if (driver.getSamplePosition(samplePosition, timeStamp) == ASE_OK)
            ports.writeStatus(limits.statusLead + statusText(ports.systemClockMs(), samplePosition));
        if (limits.eachPass) limits.eachPass();
        ports.sleepMs(100);
        const std::optional<stopCause> cause = ports.stopRequested();
        // With a time limit the run goes on to its end although no SPACE can come.
        if (cause && !(*cause == stopCause::endOfInput && limits.seconds)) return *cause;
        if (limits.seconds && ports.monotonicMs() - start >= uint64_t{*limits.seconds} * 1000) return stopCause::timeLimit;
    }
}
