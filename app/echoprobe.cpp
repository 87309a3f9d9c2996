#include "app/echoprobe.h"

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
// processor exists and is attached for all of it.
void runDriver(telAsioDriver& driver, myBP& processor, const programOptions& options) {
    if (options.showControlPanel) driver.controlPanel();
    processor.f_noSine = switchPresent(u"nosine", telFalse);
    processor.f_noLoop = switchPresent(u"noloop", telFalse);
    chooseSampleRate(driver);
    printDriverReport(driver);
    if (!startDriver(driver)) return;
    runStatusLoop(driver, platformStatusLoopPorts());
    driver.stop(telTrue);
}

void printShutdown() { printMessage(u"\r\n\r\nASIO Loopback: normal shutdown.\r\nHave a nice DOS."); }

} // namespace

void runMainBlock() {
    printBanner();
    const programOptions options = readOptions();

    telOwned<telAsioDriverList> driverList = telCreate<telAsioDriverList>();
    if (driverList) {
        int32_t selectedIndex = 0;
        telAsioDriver* driver = selectAndOpenDriver(*driverList, options.requestedIndex, selectedIndex);
        if (driver != nullptr && initialiseDriver(*driver)) {
            telOwned<myBP> processor = telCreate<myBP>(driver);
            if (processor) runDriver(*driver, *processor, options);
            // Freeing the processor detaches it before the driver object goes away.
            telFree(processor);
            closeSelectedDriver(*driverList, selectedIndex);
        }
        // Freeing the list releases any driver object still open, then ends COM.
        telFree(driverList);
    }
    printShutdown();
}

int echoprobeMain() {
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
