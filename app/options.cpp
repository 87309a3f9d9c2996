#include "app/options.h"

#include "util/telUtils.h"

void printBanner() {
    printMessage(u"ASIO Loopback Test Application. Version 1.0 Made by the echoprobe project.");
}

void printUsage() {
    printMessage(u"\r\nusage: echoprobe [/index=N] [/skipcp] [/nosine] [/noloop]");
    printMessage(u"");
    printMessage(u"         N - index of driver to use (0 - first driver)");
    printMessage(u"         skipcp - do not show control panel");
    printMessage(u"         nosine - do not add sines to output buffers");
    printMessage(u"         noloop - do not loop input to output channels");
    printMessage(u"");
}

programOptions readOptions() {
    programOptions options;
    if (argumentCount() == 0) {
        printUsage();
        return options;
    }
    telText index;
    switchArgument(u"index", telFalse, u"0", index);
    options.requestedIndex = textToInt(index, int32_t{0}, 10, telFalse);
    options.showControlPanel = toTelBool(!switchPresent(u"skipcp", telFalse));
    return options;
}
