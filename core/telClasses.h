// The root object of the host layer: two-step creation and destruction, the
// `destroying` flag, and a reader/writer lock with thread ownership built from counter
// gates and polling sleeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "core/telTypes.h"

class telObject {
  public:
    telObject() = default;
    telObject(const telObject&) = delete;
    telObject& operator=(const telObject&) = delete;

    // Objects start with every field zero: the memory comes zero-filled.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* memory) noexcept;

    // Runs after the constructor; overrides call the base at their end.
    virtual void AfterConstruction();
    // Runs before the destructor; overrides call the base first.
    virtual void BeforeDestruction();
    // The destructor `Destroy`: frees the thread table.
    virtual ~telObject();

    telObject* _this() { return this; }
    telText _classID() const { return telText(); }
    telBool destroying() const { return f_destroying; }

    // The lock. With fsn true it works on the process-wide gate.
    telBool acquire(telBool ro, int32_t timeout, telBool fsn);
    // Adds one to the selected counter at once, without waiting.
    void acquire(telBool ro);
    // The process-wide gate for callers that have no object.
    static telBool acquireProcessWide(int32_t timeout);
    static void acquireProcessWide();
    static telBool releaseProcessWide();

    // Undo the calling thread's newest read or write acquisition; false when it has none.
    telBool releaseRO();
    telBool releaseWO();

    // Read-only views for tests and diagnostics.
    int32_t writeGate() const;
    int32_t readCount() const;
    int32_t threadCount() const { return f_pwnThreadCount; }
    uint32_t threadEntry(int32_t index) const { return f_pwnThreadID[index]; }
    uint8_t threadOp(int32_t index) const { return f_pwnThreadOp[index]; }
    uint32_t writeEnteringThread() const;
    static int32_t processWideGate();
    static uint32_t processWideOwner();

  protected:
    telBool f_destroying = telFalse;

  private:
    int32_t f_acqObj[2] = {0, 0}; // [0]: write gate, [1]: read count
    pUint32Array f_pwnThreadID = nullptr;
    pArray f_pwnThreadOp = nullptr;
    int32_t f_pwnThreadCount = 0;
    int32_t f_pwnThreadMax = 0;
    uint32_t f_woEnterThreadID = 0;
    int32_t f_pwnThreadACQ = 0;

    // Enters `gate`, polling with sleeps; timeout -1 waits without limit.
    static bool waitGate(int32_t& gate, int32_t timeout);

    bool markWriteEntering(uint32_t thread);
    void leaveCounterGate(bool readCount);
    bool lookupThread(uint32_t thread, bool exclusive, bool remove, bool* isRead);
    void registerThread(bool read, uint32_t thread);
    bool waitCounterGate(bool readCount, uint32_t thread, int32_t timeout);
    telBool acquireWrite(int32_t timeout);
    telBool acquireRead(int32_t timeout);
    telBool releaseOne(bool read);
};

// Frees an object the only right way: BeforeDestruction, then the destructor.
struct telObjectDeleter {
    void operator()(telObject* object) const;
};
template <class T> using telOwned = std::unique_ptr<T, telObjectDeleter>;

// Creates an object the only right way: zeroed memory, constructor, AfterConstruction.
// Returns an empty pointer when memory runs out.
template <class T, class... Args> telOwned<T> telCreate(Args&&... args) {
    T* object = new T(static_cast<Args&&>(args)...);
    if (object == nullptr) return telOwned<T>();
    object->AfterConstruction();
    return telOwned<T>(object);
}

// Frees an owned object and leaves the pointer empty.
template <class T> void telFree(telOwned<T>& object) { object.reset(); }

// Module start-up and shutdown: the process-wide object.
void telClassesStartup();
void telClassesShutdown();
