#include "app/report.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "util/telUtils.h"

telText decimalText(int64_t value) { return intToText(value, 10, 0, u' '); }

telText hexCodeText(int32_t code) { return intToText(code, 16, 0, u' '); }

telText groupedText(int64_t value) { return intToText(value, 10, 3, u' '); }

std::string rateText(double rate) {
    char text[64];
    if (rate < 1e15 && rate > -1e15 && rate == static_cast<double>(static_cast<int64_t>(rate)))
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(rate));
    else
        std::snprintf(text, sizeof text, "%.3f", rate);
    return text;
}

telText driverFieldText(const char* field, std::size_t size) {
    const void* zero = std::memchr(field, 0, size);
    const std::size_t length = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : size;
    return plat::fromNarrow(telAnsiText(field, length));
}

namespace {

// The rate cut towards zero. A driver's NaN or out-of-range rate would make the plain
// conversion undefined; it prints as 0 or the nearest 64-bit limit instead.
int64_t rateToInteger(double rate) {
    if (!(rate == rate)) return 0;
    if (rate >= 9223372036854775807.0) return INT64_MAX;
    if (rate <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(rate);
}

telText channelName(telAsioDriver& driver, int32_t channel) {
    const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
    return info != nullptr ? driverFieldText(info->name, sizeof info->name) : telText();
}

ASIOSampleType channelType(telAsioDriver& driver, int32_t channel) {
    const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
    return info != nullptr ? info->_type : 0;
}

bool isInputChannel(telAsioDriver& driver, int32_t channel) {
    const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
    return info != nullptr && info->isInput != 0;
}

void printFigures(telAsioDriver& driver) {
    const pASIODriverInfo info = driver.driverInfo();
    printMessage(u"ASIO Version   : " + decimalText(info->asioVersion) + u"\r\n" +
                 u"Driver Version : " + decimalText(info->driverVersion) + u"\r\n" +
                 u"Driver Name    : " + driverFieldText(info->name, sizeof info->name) + u"\r\n" +
                 u"Error Message  : " + driverFieldText(info->errorMessage, sizeof info->errorMessage) + u"\r\n");
    printMessage(u"Channels  : inputs=" + decimalText(driver.inputChannels()) +
                 u", outputs=" + decimalText(driver.outputChannels()));
    printMessage(u"BufferSize: min=" + decimalText(driver.bufMinSize()) + u", max=" + decimalText(driver.bufMaxSize()) +
                 u", preferred/actual=" + decimalText(driver.bufPreferredSize()) + u"/" +
                 decimalText(driver.bufActualSize()) + u", granularity=" + decimalText(driver.bufGranularity()));
    printMessage(u"SampleRate: " + decimalText(rateToInteger(driver.sampleRate())));
    printMessage(u"Latencies : input=" + decimalText(driver.inputLatency()) +
                 u", output=" + decimalText(driver.outputLatency()));
    printMessage(u"");
}

void printChannels(telAsioDriver& driver) {
    const int32_t inputs = driver.inputChannels();
    const int32_t channels = inputs + driver.outputChannels();
    printMessage(u"Input channels:");
    for (int32_t k = 0; k < inputs; ++k)
        printMessage(u" -> [" + channelName(driver, k) + u"]. format=" + sampleTypeText(channelType(driver, k)));
    printMessage(u"Output channels:");
    for (int32_t k = inputs; k < channels; ++k)
        printMessage(u" <- [" + channelName(driver, k) + u"]. format=" + sampleTypeText(channelType(driver, k)));
}

// The same pairing the processor uses: the n-th input to the n-th output.
void printLoopback(telAsioDriver& driver) {
    const int32_t inputs = driver.inputChannels();
    const int32_t channels = inputs + driver.outputChannels();
    printMessage(u"Channels loopback: ");
    int32_t output = inputs;
    for (int32_t input = 0; input < inputs; ++input) {
        if (!isInputChannel(driver, input)) continue;
        while (output < channels) {
            if (isInputChannel(driver, output)) {
                ++output;
                continue;
            }
            printMessage(u"   -> [" + channelName(driver, input) + u"] will be mapped to [" +
                         channelName(driver, output) + u"]");
            ++output;
            break;
        }
    }
    printMessage(u"");
}

} // namespace

void printDriverReport(telAsioDriver& driver) {
    printFigures(driver);
    printChannels(driver);
    printLoopback(driver);
}
