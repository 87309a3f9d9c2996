#include "asio/callBeacon.h"

#include <atomic>
#include <new>

#include "platform/childProcess.h"

namespace {

constexpr uint32_t beaconMagic = 0x4E434245; // "EBCN"
constexpr int followedThreads = 16;
constexpr int followedDepth = 4;

// One thread while it is inside a driver call; free (key 0) otherwise. Only the thread
// that claimed an entry writes it, so claiming is the one compare-and-swap.
struct BeaconThread {
    std::atomic<uintptr_t> key;
    std::atomic<int32_t> depth;
    std::atomic<int32_t> calls[followedDepth]; // outermost first
};

struct BeaconBlock {
    std::atomic<uint32_t> magic;
    std::atomic<uint32_t> callsBegun;
    std::atomic<uint32_t> hostProgress;
    std::atomic<uintptr_t> hostThread;
    std::atomic<uint32_t> hostCallSerial; // callsBegun as the host thread's outermost call began
    BeaconThread threads[followedThreads];
};

// Parent and child see the block at different addresses: only atomics that need no lock
// (and so no address-bound state) may live in it.
static_assert(std::atomic<uintptr_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free &&
              std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(BeaconBlock) <= callBeaconBytes);

std::atomic<BeaconBlock*> target{nullptr};

BeaconThread* entryOf(BeaconBlock& block, uintptr_t key, bool claim) {
    for (BeaconThread& thread : block.threads)
        if (thread.key.load(std::memory_order_relaxed) == key) return &thread;
    if (!claim) return nullptr;
    for (BeaconThread& thread : block.threads) {
        uintptr_t free = 0;
        if (thread.key.compare_exchange_strong(free, key, std::memory_order_acq_rel)) return &thread;
    }
    return nullptr; // more threads in calls than followed: this one goes unnoted
}

void noteCall(telDriverCall call, bool entering) noexcept {
    BeaconBlock* block = target.load(std::memory_order_acquire);
    if (block == nullptr) return;
    const uintptr_t key = plat::threadKey();
    BeaconThread* thread = entryOf(*block, key, entering);
    if (thread == nullptr) return; // a call that began before the beacon was installed
    const int32_t depth = thread->depth.load(std::memory_order_relaxed);
    if (entering) {
        const uint32_t serial = block->callsBegun.fetch_add(1, std::memory_order_relaxed) + 1;
        // Only a call begun outside any other is progress: one the host thread makes from
        // inside another (from a callback the driver made on the host's thread) is part
        // of the call it is in, which has not returned.
        if (depth == 0 && key == block->hostThread.load(std::memory_order_relaxed)) {
            block->hostProgress.fetch_add(1, std::memory_order_relaxed);
            block->hostCallSerial.store(serial, std::memory_order_relaxed);
        }
        if (depth < followedDepth)
            thread->calls[depth].store(static_cast<int32_t>(call), std::memory_order_relaxed);
        thread->depth.store(depth + 1, std::memory_order_release);
        return;
    }
    thread->depth.store(depth > 0 ? depth - 1 : 0, std::memory_order_release);
    if (depth <= 1) thread->key.store(0, std::memory_order_release);
}

} // namespace

void installCallBeacon(void* raw) {
    if (raw == nullptr) {
        setDriverCallObserver(nullptr);
        target.store(nullptr);
        return;
    }
    auto* block = new (raw) BeaconBlock{};
    block->hostThread.store(plat::threadKey());
    block->magic.store(beaconMagic, std::memory_order_release);
    target.store(block, std::memory_order_release);
    setDriverCallObserver(noteCall);
}

void beatCallBeacon() {
    BeaconBlock* block = target.load(std::memory_order_acquire);
    if (block != nullptr) block->hostProgress.fetch_add(1, std::memory_order_relaxed);
}

CallBeaconReading readCallBeacon(const void* raw) {
    CallBeaconReading reading;
    const auto* block = static_cast<const BeaconBlock*>(raw);
    if (block == nullptr || block->magic.load(std::memory_order_acquire) != beaconMagic) return reading;
    reading.valid = true;
    reading.callsBegun = block->callsBegun.load(std::memory_order_relaxed);
    reading.hostCallSerial = block->hostCallSerial.load(std::memory_order_relaxed);
    reading.hostProgress = block->hostProgress.load(std::memory_order_relaxed);
    const uintptr_t host = block->hostThread.load(std::memory_order_relaxed);
    for (const BeaconThread& thread : block->threads) {
        const uintptr_t key = thread.key.load(std::memory_order_acquire);
        const int32_t depth = thread.depth.load(std::memory_order_acquire);
        if (key == 0 || depth <= 0) continue;
        const auto call = static_cast<telDriverCall>(
            thread.calls[depth < followedDepth ? depth - 1 : followedDepth - 1].load(
                std::memory_order_relaxed));
        if (key == host) {
            reading.hostCall = call;
            reading.hostOuterCall =
                static_cast<telDriverCall>(thread.calls[0].load(std::memory_order_relaxed));
        } else if (reading.otherCall == telDriverCall::none)
            reading.otherCall = call;
    }
    return reading;
}
