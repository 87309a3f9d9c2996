#include "app/runLoop.h"

#include "app/report.h"
#include "platform/platform.h"
#include "util/telUtils.h"

bool initialiseDriver(telAsioDriver& driver) {
    const ASIOError status = driver.init(0, telTrue, requestedBufferSize);
    if (status == ASE_OK) return true;
    printMessage(u"Could not initialize the driver, error=" + plat::fromNarrow(driver.getDriverError(telTrue)) +
                 u"; error code=" + hexCodeText(status));
    return false;
}

void chooseSampleRate(telAsioDriver& driver) {
    if (driver.canSampleRate(48000.0))
        driver.setSampleRate(48000.0);
    else
        driver.setSampleRate(44100.0);
}

bool startDriver(telAsioDriver& driver) {
    const ASIOError status = driver.start(telFalse, -1);
    if (status != ASE_OK) {
        printMessage(u"Unable to start the driver, error message: " + plat::fromNarrow(driver.getDriverError(telTrue)) +
                     u"; error code=" + hexCodeText(status));
        return false;
    }
    printMessage(u"ASIO Driver started succefully.");
    printMessage(u"Press SPACE to terminate the application...\r\n");
    return true;
}

telText statusText(uint32_t systemMs, int64_t samplePosition) {
    return intToText(systemMs, 10, 3, u' ') + u" ms / " + groupedText(samplePosition) + u" samples\r";
}

namespace {

// SPACE, Ctrl+C, or an end of standard input after which no SPACE can come.
bool platformStopRequested() {
    return plat::spaceKeyDown() || plat::interruptRequested() || plat::inputEnded();
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
    return {plat::systemClockMs, plat::sleepMs, platformStopRequested, platformWriteStatus};
}

void runStatusLoop(telAsioDriver& driver, const statusLoopPorts& ports) {
    for (;;) {
        int64_t samplePosition = 0;
        int64_t timeStamp = 0;
        if (driver.getSamplePosition(samplePosition, timeStamp) == ASE_OK)
            ports.writeStatus(statusText(ports.systemClockMs(), samplePosition));
        ports.sleepMs(100);
        if (ports.stopRequested()) break;
    }
}
