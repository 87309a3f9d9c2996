// The calls the host makes into a driver, by name, and an observer that is told of
// each one as it begins and ends. A supervisor outside the process uses the observer to
// know which call a driver crashed or hung in; the observer must not allocate, lock or
// make a system call, since drivers are also called from inside their callbacks.
#pragma once

#include <cstdint>
#include <exception>

// The operations of the driver interface, numbered by their slot, and the COM steps
// around them.
enum class telDriverCall : int32_t {
    none = 0,
    create = 1,  // CoCreateInstance of the driver's class
    release = 2, // the host's Release of the driver
    init = 3,
    getDriverName = 4,
    getDriverVersion = 5,
    getErrorMessage = 6,
    start = 7,
    stop = 8,
    getChannels = 9,
    getLatencies = 10,
    getBufferSize = 11,
    canSampleRate = 12,
    getSampleRate = 13,
    setSampleRate = 14,
    getClockSources = 15,
    setClockSource = 16,
    getSamplePosition = 17,
    getChannelInfo = 18,
    createBuffers = 19,
    disposeBuffers = 20,
    controlPanel = 21,
    future = 22,
    outputReady = 23,
    // The driver's module let go as the program ends: COM's end (Windows unloads the
    // module there) and the process's exit, where a module's own tear-down runs.
    unload = 24,
};

// "getChannelInfo", "create", ...; "none" for none and for values outside the list.
const char* driverCallName(telDriverCall call);

// Called with entering true just before the host calls into a driver and with false
// once the call returned (or threw). May run on the driver's callback thread.
using telDriverCallObserver = void (*)(telDriverCall call, bool entering) noexcept;

// Installs the observer (nullptr: none); any thread may then call it.
void setDriverCallObserver(telDriverCallObserver observer);
telDriverCallObserver driverCallObserver();

// Runs `call` as the host's call `which` into a driver: tells the observer, and turns
// anything the driver throws into `onThrow` after handing its description to
// `noteThrow` (a noexcept callable taking the call and a C string).
template <class Result, class Call, class Note>
Result callDriver(telDriverCall which, Result onThrow, Note&& noteThrow, Call&& call) noexcept {
    const telDriverCallObserver observer = driverCallObserver();
    if (observer != nullptr) observer(which, true);
    Result result = onThrow;
    try {
        result = call();
    } catch (const std::exception& error) {
        noteThrow(which, error.what());
    } catch (...) {
        noteThrow(which, "an exception of unknown kind");
    }
    if (observer != nullptr) observer(which, false);
    return result;
}
