#include "app/echoprobe.h"

#include <exception>

#include "app/myBP.h"
#include "app/options.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "app/selection.h"
#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriverList.h"
#include "core/telClasses.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// Control panel, switches, sample rate, report, start, status loop and stop. The
// processor exists and is attached for all of it. A stop request (Ctrl+C) that comes
// before the driver is started ends the run there: the driver is never started.
void runDriver(telAsioDriver& driver, myBP& processor, const programOptions& options) {
    if (options.showControlPanel) driver.controlPanel();
    if (plat::interruptRequested()) return;
    processor.f_noSine = switchPresent(u"nosine", telFalse);
    processor.f_noLoop = switchPresent(u"noloop", telFalse);
    chooseSampleRate(driver);
    printDriverReport(driver);
    if (plat::interruptRequested()) return;
    if (!startDriver(driver)) return;
    runStatusLoop(driver, platformStatusLoopPorts());
    // A driver that refuses to stop may go on calling back: take its buffers and its
    // callback slot away before the processor goes.
    if (driver.stop(telTrue) != ASE_OK) driver.release();
}

// Detaches the processor and frees it once no callback can be inside it any more. A
// driver that is still inside a callback after the wait keeps its processor: it is
// left in memory rather than freed while in use.
void freeProcessor(telAsioDriver& driver, telOwned<myBP>& processor) {
    if (!processor) return;
    if (driver.setBufferProcessor(nullptr)) {
        telFree(processor);
        return;
    }
    printMessage(u"The driver is still inside a callback; its buffer processor is left in memory.");
    (void)processor.release();
}

void printShutdown() { printMessage(u"\r\n\r\nASIO Loopback: normal shutdown.\r\nHave a nice DOS."); }

// One line that names an exception which escaped the work. Guarded, since printing
// itself may fail the same way (a bad_alloc).
void printUnexpectedFailure(std::exception_ptr failure) {
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            printMessage(u"echoprobe: stopped by an unexpected failure: " + plat::fromNarrow(error.what()));
        } catch (...) {
            printMessage(u"echoprobe: stopped by an unexpected failure of unknown kind");
        }
    } catch (...) {
    }
}

} // namespace

void runMainBlock() {
    printBanner();
    const programOptions options = readOptions();

    try {
        telOwned<telAsioDriverList> driverList = telCreate<telAsioDriverList>();
        // Declared after the list, so that an exception frees the processor first and
        // then the list, which releases the driver.
        telOwned<myBP> processor;
        if (driverList) {
            int32_t selectedIndex = 0;
            telAsioDriver* driver = selectAndOpenDriver(*driverList, options.requestedIndex, selectedIndex);
            if (driver != nullptr && initialiseDriver(*driver) && !plat::interruptRequested()) {
                processor = telCreate<myBP>(driver);
                if (processor) runDriver(*driver, *processor, options);
                freeProcessor(*driver, processor);
                closeSelectedDriver(*driverList, selectedIndex);
            }
            // Freeing the list releases any driver object still open, then ends COM.
            telFree(driverList);
        }
    } catch (...) {
        // The processor and the list are freed by now; put the console back, say what
        // happened and let the platform end the program as it ends any such failure.
        plat::restoreConsole();
        printUnexpectedFailure(std::current_exception());
        throw;
    }
    printShutdown();
}

int echoprobeMain() {
    plat::guardStandardStreams();
    telTypesStartup();
    telUtilsStartup();
    telClassesStartup();
    telAsioApiStartup();
    plat::prepareConsole();

    runMainBlock();

    plat::restoreConsole();
    telAsioApiShutdown();
    telClassesShutdown();
    telUtilsShutdown();
    return 0;
}
