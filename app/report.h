// The driver report and the number formats of the program's messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asio/telAsioDriver.h"
#include "core/telTypes.h"

// 300, -1
telText decimalText(int64_t value);
// Upper-case hexadecimal, "-" and the magnitude for a negative code: -3E8.
telText hexCodeText(int32_t code);
// Grouped by thousands with the locale's separator: 12,345,678.
telText groupedText(int64_t value);

// A sample rate as a person writes it: 48000, 44100.5.
std::string rateText(double rate);

// 8-bit text of a fixed driver field: up to its first zero byte, never past `size`.
telText driverFieldText(const char* field, std::size_t size);

// Prints the figures, the channel lists and the loopback pairs of an initialised driver.
void printDriverReport(telAsioDriver& driver);
