// The banner, the usage text and the command-line options of the main block.
#pragma once

#include <cstdint>

#include "core/telTypes.h"

struct programOptions {
    int32_t requestedIndex = 0;        // /index=N; 0 when missing
    telBool showControlPanel = telTrue; // false with /skipcp
};

void printBanner();
void printUsage();

// Prints the usage text when there are no arguments; otherwise reads /index and /skipcp.
programOptions readOptions();
