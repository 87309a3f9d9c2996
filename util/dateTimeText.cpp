// Date and time stamps of log lines.
#include "util/telUtils.h"

namespace {

// The date last written by dateText; only the log output on the main thread uses it.
struct {
    uint16_t year = 0, month = 0, day = 0;
} lastDate;

telText twoDigits(uint16_t value) {
    return padText(intToText(value), 2, u'0', telTrue, telFalse);
}

} // namespace

telText dateText(const plat::CalendarTime& time) {
    // Repeated stamps of the same day show the date only once.
    if (time.year == lastDate.year && time.month == lastDate.month && time.day == lastDate.day) return u" ";
    lastDate.year = time.year;
    lastDate.month = time.month;
    lastDate.day = time.day;
    return intToText(time.year) + u"." + twoDigits(time.month) + u"." + twoDigits(time.day) + u" ";
}

telText timeText(const plat::CalendarTime& time) {
    return twoDigits(time.hour) + u":" + twoDigits(time.minute) + u":" + twoDigits(time.second) + u"." +
           padText(intToText(time.milliseconds), 3, u'0', telTrue, telFalse) + u" ";
}
