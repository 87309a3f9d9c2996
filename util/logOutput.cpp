// printMessage: composes one line from the text and its decorations and hands it to
// the console, the hook and the log file.
#include "util/logState.h"

namespace {

plat::CalendarTime calendarTime(const telLogState& state) {
    if (state.testSources.calendarTime != nullptr) return state.testSources.calendarTime(state.universalTime);
    return state.universalTime ? plat::universalTime() : plat::localTime();
}

uint32_t threadIdentifier(const telLogState& state) {
    return state.testSources.threadId != nullptr ? state.testSources.threadId() : plat::currentThreadId();
}

uint32_t heapBytes(const telLogState& state) {
    return state.testSources.heapBytes != nullptr ? state.testSources.heapBytes() : memoryInUse();
}

// Date/time decoration of modes 2 to 7; modes 5 to 7 add the milliseconds since the
// previous such line and move the mark.
telText dateTimePart(telLogState& state, int32_t mode) {
    if (mode < 2 || mode > 7) return telText();
    const plat::CalendarTime time = calendarTime(state);
    switch (mode) {
    case 2:
        return dateText(time);
    case 3:
        return timeText(time);
    case 4:
        return dateText(time) + timeText(time);
    default:
        break;
    }
    telText part = mode == 5 ? timeText(time) : dateText(time) + timeText(time);
    const telText elapsed =
        mode == 7
            ? padText(intToText(timeElapsed(state.lastMessageMark), 10, 3), 10, u' ', telTrue, telFalse)
            : padText(intToText(timeElapsed32(state.lastMessageMark), 10, 3), 6, u' ', telTrue, telFalse);
    part += u", " + elapsed;
    state.lastMessageMark = timeMark();
    return part;
}

telText memoryPart(const telLogState& state) {
    const int32_t bytes = static_cast<int32_t>(heapBytes(state));
    return padText(u", <" + intToText(bytes, 10, 3) + u">", 12, u' ', telTrue, telFalse);
}

telText threadPart(const telLogState& state) {
    return u", [" + padText(intToText(threadIdentifier(state), 16), 5, u'0', telTrue, telFalse) + u"]";
}

void writeToConsole(const telText& line, int32_t consoleMode) {
    const plat::Handle output = plat::stdOutput();
    if (output == 0 || output == plat::invalidHandle) {
        // No console (a program started without one): show the line instead.
        messageBox(line, u"Information message", 0);
        return;
    }
    writeTextToHandle(output, plat::toNarrow(consoleMode == 2 ? line : line + u"\r\n"), 0,
                      plat::MoveMethod::current);
}

void writeToLogFile(const telLogState& state, const telText& line) {
    const telText withEnd = line + u"\r\n";
    std::string data;
    if (state.utf16File) {
        // Little-endian code units without a byte-order mark, whatever the host order.
        data.reserve(withEnd.size() * 2);
        for (const char16_t unit : withEnd) {
            data.push_back(static_cast<char>(unit & 0xFF));
            data.push_back(static_cast<char>(unit >> 8));
        }
    } else {
        data = plat::toNarrow(withEnd);
    }
    writeToFile(state.fileName + u".nol", data.data(), static_cast<uint32_t>(data.size()), 0,
                plat::MoveMethod::end);
}

} // namespace

telBool printMessage(const telText& text, int32_t kind, int32_t consoleMode, int32_t logToFile,
                     int32_t dateTimeMode, int32_t memoryInfo, int32_t threadId) {
    telLogState& state = logState();
    const uint32_t kinds = kind < 0 ? state.messageMask : static_cast<uint32_t>(kind);
    if ((kinds & state.messageMask) == 0 || state.stopped) return telFalse;

    if (consoleMode == -1) consoleMode = state.defaultConsoleMode;
    if (logToFile == -1) logToFile = state.defaultLogToFile ? 1 : 0;
    const bool toFile = logToFile == 1 && state.fileSinkActive();
    // With no sink nothing is composed, and the elapsed-time mark stays where it is.
    if (consoleMode <= 0 && state.hook == nullptr && !toFile) return telFalse;

    if (dateTimeMode == 0) dateTimeMode = state.defaultDateTimeMode;
    if (memoryInfo == -1) memoryInfo = state.defaultMemoryInfo ? 1 : 0;
    if (threadId == -1) threadId = state.defaultThreadId ? 1 : 0;

    telText prefix = dateTimePart(state, dateTimeMode);
    if (memoryInfo == 1) prefix += memoryPart(state);
    if (threadId == 1) prefix += threadPart(state);
    const telText line = prefix.empty() ? text : prefix + u", " + text;

    if (consoleMode > 0) writeToConsole(terminalSafeText(line), consoleMode);
    if (state.hook != nullptr) state.hook(line);
    if (toFile) writeToLogFile(state, line);
    return telTrue;
}
