// Utilities of the tool: numbers in text, text shaping, the 64-bit millisecond clock,
// atomic counters and counter gates, the log and console output, and the command-line
// switch routines.
#pragma once

#include <cstdint>

#include "core/telTypes.h"
#include "platform/platform.h"

// ================================================================ numbers in text

// Digits of value 0 to 68, in order.
inline constexpr char16_t digitAlphabet[] = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz[]<>&$#";

// Writes `value` in `base` (2 to 68; any other base gives "0" or an empty text).
// A non-zero `groupSize` inserts `groupChar` between groups of that many digits; a
// space as `groupChar` stands for the locale's thousands separator.
telText intToText(int32_t value, uint32_t base = 10, uint32_t groupSize = 0, char16_t groupChar = u' ');
telText intToText(uint32_t value, uint32_t base = 10, uint32_t groupSize = 0, char16_t groupChar = u' ');
telText intToText(uint16_t value, uint32_t base = 10, uint32_t groupSize = 0, char16_t groupChar = u' ');
telText intToText(int64_t value, uint32_t base = 10, uint32_t groupSize = 0, char16_t groupChar = u' ');
telText intToText(uint64_t value, uint32_t base = 10, uint32_t groupSize = 0, char16_t groupChar = u' ');

// Reads a number; returns `defaultValue` for texts it cannot read. The 32-bit form
// returns the low 32 bits of the 64-bit result.
int64_t textToInt(const telText& text, int64_t defaultValue, uint32_t base = 10, telBool ignoreTrailing = telFalse);
int32_t textToInt(const telText& text, int32_t defaultValue, uint32_t base = 10, telBool ignoreTrailing = telFalse);

// The current thousands separator (a space until loadGroupSeparator has run).
char16_t groupSeparator();
// Reads the locale's thousands separator into groupSeparator.
void loadGroupSeparator();

// ================================================================ text shaping

telText trimText(const telText& text, telBool left = telTrue, telBool right = telTrue);
telText upperCaseText(const telText& text);
telText padText(const telText& text, int32_t width, char16_t fill, telBool padLeft, telBool truncate);
telText fillText(char16_t ch, int32_t count);
// The text with every control character but tab, line feed and carriage return shown
// as '?': what a driver names itself or its channels reaches the terminal, and an
// escape sequence in it would otherwise command the terminal instead of being shown.
telText terminalSafeText(const telText& text);
// Copies at most maxLength units and a terminating zero; `destination` holds maxLength + 1.
int32_t copyTextToBuffer(const telAnsiText& text, char* destination, int32_t maxLength);
int32_t copyWideTextToBuffer(const telText& text, char16_t* destination, int32_t maxLength);
// UTF-16 to UTF-8 (for documents that are UTF-8 by definition); an unpaired surrogate
// becomes U+FFFD.
std::string utf8Text(const telText& text);
// "{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4A31}": a class identifier as the registry writes it.
std::string guidText(const plat::Guid& guid);
telText dateText(const plat::CalendarTime& time);
telText timeText(const plat::CalendarTime& time);

// ================================================================ clock

// 64-bit milliseconds since system start, continuous across the first wrap of the
// 32-bit tick count.
uint64_t timeMark();
uint64_t timeElapsed(uint64_t mark);
uint32_t timeElapsed32(uint64_t mark);

// Replaces the 32-bit tick source and resets the clock's wrap state (tests only; a null
// source restores the platform's). Not thread-safe.
using telTickSource = uint32_t (*)();
void setTickSourceForTesting(telTickSource source);

// ================================================================ counters and gates

int32_t atomicIncrement(int32_t& counter);
int32_t atomicDecrement(int32_t& counter);
// A counter gate is free at 0; an entry succeeds when the incremented value is 1.
// A caller whose entry failed leaves the gate again at once.
telBool gateEnter(int32_t& gate);
telBool gateLeave(int32_t& gate);

// ================================================================ log and console output

// Receives every composed line (without CR LF).
using telMessageHook = void (*)(const telText& line);
// The configureLog argument that leaves the hook as it is.
inline const telMessageHook messageHookUnchanged = reinterpret_cast<telMessageHook>(~std::uintptr_t{0});

// Composes one line and hands it to the console, the hook and the log file.
// -1 (0 for dateTimeMode) means: use the default.
telBool printMessage(const telText& text, int32_t kind = 2, int32_t consoleMode = -1, int32_t logToFile = -1,
                     int32_t dateTimeMode = 0, int32_t memoryInfo = -1, int32_t threadId = -1);

// Changes the log settings; -1 (0 for dateTimeMode) leaves a setting as it is.
telText configureLog(const telText& fileName, telMessageHook hook, int32_t consoleMode, int32_t logToFile,
                     int32_t dateTimeMode, int32_t memoryInfo, int32_t threadId, telBool utf16File,
                     int32_t universalTime);

// File primitives of the log sinks.
telBool fileExists(const telText& name);
plat::Handle openFile(const telText& name, telBool truncate, telBool keepOpen, uint32_t attributes);
telBool closeFileHandle(plat::Handle handle);
int32_t writeToHandle(plat::Handle handle, const void* data, uint32_t size, int32_t distance,
                      plat::MoveMethod method);
int32_t writeTextToHandle(plat::Handle handle, const telAnsiText& text, int32_t distance, plat::MoveMethod method);
int32_t writeToFile(const telText& name, const void* data, uint32_t size, int32_t distance,
                    plat::MoveMethod method);
void messageBox(const telText& text, const telText& caption, uint32_t style);
telText moduleNameWithExt(const telText& extension);
uint32_t memoryInUse();

// Shows the incompatible-OS notice on Windows versions before 5.
void checkPlatform();

// Module start-up and shutdown (a use count makes repeated calls do nothing).
void telUtilsStartup();
void telUtilsShutdown();

// Test hooks: the calendar time, thread identifier and heap figure used by printMessage.
struct telLogTestSources {
    plat::CalendarTime (*calendarTime)(bool universal) = nullptr;
    uint32_t (*threadId)() = nullptr;
    uint32_t (*heapBytes)() = nullptr;
};
void setLogSourcesForTesting(const telLogTestSources& sources);

// ================================================================ command-line switches

// Replaces the process arguments seen by the switch routines (tests only; an empty
// vector restores the real ones). Element 0 is the program path.
void setArgumentsForTesting(const std::vector<telText>& arguments);
// Number of arguments after the program path.
int32_t argumentCount();
telText argumentText(int32_t position);

telBool findSwitch(const telText& name, telBool exact, int32_t& position);
telBool switchPresent(const telText& name, telBool exact);
void switchArgument(const telText& name, telBool exact, const telText& defaultValue, telText& value);
