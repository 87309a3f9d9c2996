#include "conform/callbackLog.h"

#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/childProcess.h"

namespace conform {

namespace {

constinit CallbackLog theLog;

int64_t callbackClockNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A 64-bit quantity as drivers write it: two 32-bit words, high word first.
int64_t fromWords(const void* field) {
    ASIOSamples words;
    std::memcpy(&words, field, sizeof words);
    return static_cast<int64_t>((static_cast<uint64_t>(words.hi) << 32) | words.lo);
}

size_t messageIndex(int32_t selector) {
    return selector > 0 && selector < 64 ? static_cast<size_t>(selector) : 0;
}

template <int S> void TEL_CDECL bufferSwitchProc(int32_t half, ASIOBool) {
    theLog.onSwitch(S, half, nullptr, false);
}
template <int S> pASIOTime TEL_CDECL timeInfoProc(pASIOTime record, int32_t half, ASIOBool) {
    return theLog.onSwitch(S, half, record, true);
}
template <int S> void TEL_CDECL rateChangedProc(ASIOSampleRate) {
    theLog.onRateChange(S);
}
template <int S> int32_t TEL_CDECL messageProc(int32_t selector, int32_t value, void*, double*) {
    return theLog.onMessage(S, selector, value);
}

template <int... S> std::array<ASIOCallbacks, sizeof...(S)> makeSets(std::integer_sequence<int, S...>) {
    return {ASIOCallbacks{&bufferSwitchProc<S>, &rateChangedProc<S>, &messageProc<S>, &timeInfoProc<S>}...};
}

// Drivers may keep the record's address rather than copy it: the records live as long
// as the process.
std::array<ASIOCallbacks, callbackSetCount> procedureSets =
    makeSets(std::make_integer_sequence<int, callbackSetCount>{});

} // namespace

void noteCallbackThrow(telDriverCall, const char* what) noexcept {
    bool expected = false;
    if (!theLog.f_threwClaimed.compare_exchange_strong(expected, true)) return;
    size_t length = 0;
    for (; what != nullptr && what[length] != '\0' && length + 1 < sizeof theLog.f_throwText; ++length)
        theLog.f_throwText[length] = what[length];
    theLog.f_throwText[length] = '\0';
    theLog.f_threwNoted.store(true, std::memory_order_release);
}

CallbackLog& callbackLog() {
    return theLog;
}

ASIOCallbacks* CallbackLog::takeSet(IASIO* driver, const CallbackSettings& settings) {
    const int set = (f_lastSet.load() + 1) % callbackSetCount;
    f_lastSet.store(set);
    f_driver.store(driver);
    f_minimal.store(settings.answers == HostAnswers::minimal);
    f_offerTimeInfo.store(settings.offerTimeInfo);
    f_callOutputReady.store(settings.callOutputReady);
    f_withhold.store(false);
    SetState& state = f_sets[set];
    state.switches.store(0);
    state.finished.store(0);
    state.others.store(0);
    state.afterRetired.store(0);
    state.switchesRetired.store(0);
    state.disposed.store(false);
    f_live.store(set, std::memory_order_release);
    return &procedureSets[static_cast<size_t>(set)];
}

void CallbackLog::retire() {
    f_live.store(-1, std::memory_order_release);
}

void CallbackLog::retireDisposed() {
    const int set = f_live.load(std::memory_order_acquire);
    if (set >= 0) f_sets[set].disposed.store(true);
    retire();
}

void CallbackLog::letGo(int set) {
    if (set >= 0 && set < callbackSetCount) f_sets[set].disposed.store(false);
}

bool CallbackLog::enter(int set, bool isSwitch) noexcept {
    SetState& state = f_sets[set];
    if (f_live.load(std::memory_order_acquire) != set) {
        state.afterRetired.fetch_add(1, std::memory_order_relaxed);
        if (isSwitch) state.switchesRetired.fetch_add(1, std::memory_order_relaxed);
        if (state.disposed.load(std::memory_order_relaxed))
            f_afterDispose.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    (isSwitch ? state.switches : state.others).fetch_add(1, std::memory_order_relaxed);
    return true;
}

pASIOTime CallbackLog::onSwitch(int set, int32_t half, pASIOTime record, bool timeInfo) noexcept {
    const int64_t begin = callbackClockNanos();
    if (!enter(set, true)) return nullptr;
    SwitchNote note;
    note.set = set;
    note.half = half;
    note.hostBegin = begin;
    note.thread = plat::threadKey();
    note.timeInfo = timeInfo;
    note.overlapped = f_switchesInside.fetch_add(1, std::memory_order_acq_rel) > 0;
    IASIO* driver = f_driver.load(std::memory_order_acquire);

    if (timeInfo && record == nullptr) note.nullRecord = true;
    if (record != nullptr) {
        note.recordFlags = record->timeInfo.flags;
        note.recordRate = record->timeInfo.sampleRate;
        if (note.recordFlags & kSamplePositionValid) {
            note.position = fromWords(&record->timeInfo.samplePosition);
            note.positionKnown = true;
        }
        if (note.recordFlags & kSystemTimeValid) {
            note.systemTime = fromWords(&record->timeInfo.systemTime);
            note.systemTimeKnown = true;
        }
    }
    if (!note.positionKnown && driver != nullptr) {
        ASIOSamples position{};
        ASIOTimeStamp stamp{};
        const ASIOError status =
            callDriver(telDriverCall::getSamplePosition, ASIOError{-1}, noteCallbackThrow,
                       [&] { return driver->getSamplePosition(&position, &stamp); });
        if (status == ASE_OK) {
            note.position = fromWords(&position);
            note.positionKnown = true;
            if (!note.systemTimeKnown) {
                note.systemTime = fromWords(&stamp);
                note.systemTimeKnown = true;
            }
        }
    }

    if (f_callOutputReady.load(std::memory_order_relaxed) && driver != nullptr) {
        if (f_withhold.load(std::memory_order_acquire))
            f_withheld.fetch_add(1, std::memory_order_release);
        else
            callDriver(telDriverCall::outputReady, ASIOError{-1}, noteCallbackThrow,
                       [&] { return driver->outputReady(); });
    }

    note.hostEnd = callbackClockNanos();
    f_switchesInside.fetch_sub(1, std::memory_order_acq_rel);
    const uint32_t index = f_noteCount.fetch_add(1, std::memory_order_acq_rel);
    if (index < noteCapacity) {
        f_slots[index].note = note;
        f_slots[index].written.store(1, std::memory_order_release);
    }
    f_sets[set].finished.fetch_add(1, std::memory_order_release);
    return record;
}

void CallbackLog::onRateChange(int set) noexcept {
    if (enter(set, false)) f_rateChanges.fetch_add(1, std::memory_order_relaxed);
}

int32_t CallbackLog::onMessage(int set, int32_t selector, int32_t value) noexcept {
    if (!enter(set, false)) return 0;
    f_messages[messageIndex(selector)].fetch_add(1, std::memory_order_relaxed);
    if (selector == kAsioSelectorSupported)
        f_asked[messageIndex(value)].fetch_add(1, std::memory_order_relaxed);
    if (selector == kAsioResetRequest) f_resetRequested.store(true, std::memory_order_release);
    if (f_minimal.load(std::memory_order_relaxed)) return 0;
    const bool timeInfo = f_offerTimeInfo.load(std::memory_order_relaxed);
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioResetRequest || value == kAsioResyncRequest ||
                       value == kAsioLatenciesChanged || (value == kAsioSupportsTimeInfo && timeInfo)
                   ? 1
                   : 0;
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
    case kAsioResyncRequest:
    case kAsioLatenciesChanged:
        return 1;
    case kAsioSupportsTimeInfo:
        return timeInfo ? 1 : 0;
    default:
        return 0;
    }
}

std::vector<SwitchNote> CallbackLog::notes(uint32_t from) const {
    std::vector<SwitchNote> result;
    const uint32_t count = noteCount();
    const uint32_t end = count < noteCapacity ? count : noteCapacity;
    for (uint32_t i = from; i < end; ++i)
        if (f_slots[i].written.load(std::memory_order_acquire) != 0) result.push_back(f_slots[i].note);
    return result;
}

SetCounts CallbackLog::counts(int set) const {
    if (set < 0 || set >= callbackSetCount) return {};
    const SetState& state = f_sets[set];
    return {state.switches.load(), state.finished.load(std::memory_order_acquire), state.others.load(),
            state.afterRetired.load(), state.switchesRetired.load()};
}

uint32_t CallbackLog::messages(int32_t selector) const {
    return f_messages[messageIndex(selector)].load();
}

uint32_t CallbackLog::asked(int32_t selector) const {
    return f_asked[messageIndex(selector)].load();
}

const char* CallbackLog::callbackThrow() const {
    return f_threwNoted.load(std::memory_order_acquire) ? f_throwText : "";
}

void CallbackLog::clear() {
    retire();
    const uint32_t count = noteCount();
    for (uint32_t i = 0; i < count && i < noteCapacity; ++i)
        f_slots[i].written.store(0);
    f_noteCount.store(0);
    for (auto& counter : f_messages)
        counter.store(0);
    for (auto& counter : f_asked)
        counter.store(0);
    f_rateChanges.store(0);
    f_afterDispose.store(0);
    for (SetState& state : f_sets)
        state.disposed.store(false);
    f_resetRequested.store(false);
    f_withheld.store(0);
    f_driver.store(nullptr);
}

} // namespace conform
