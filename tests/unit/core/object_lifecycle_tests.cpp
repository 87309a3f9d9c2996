#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/telClasses.h"
#include "platform/platform.h"

namespace {

std::vector<std::string> journal;

// Writes each step of its life, with the destroying flag as it stood then, to `journal`.
class JournalObject : public telObject {
  public:
    JournalObject() { note("constructor"); }
    ~JournalObject() override { note("destructor"); }
    void AfterConstruction() override {
        note("after");
        telObject::AfterConstruction();
    }
    void BeforeDestruction() override {
        telObject::BeforeDestruction();
        note("before");
    }
    void note(const char* step) {
        journal.push_back(std::string(step) + (destroying() ? " destroying" : " alive"));
    }
};

// Fields without initialisers that the constructor leaves alone.
class UntouchedFields : public telObject {
  public:
    UntouchedFields() {}
    uint32_t f_number;
    void* f_pointer;
    uint8_t f_block[40];
};

} // namespace

TEST(ObjectLifecycle, RunsTheStepsInOrderAndRaisesTheFlagOnlyForDestruction) {
    journal.clear();
    telOwned<JournalObject> object = telCreate<JournalObject>();
    ASSERT_NE(object, nullptr);
    object->note("in use");
    EXPECT_EQ(object->_this(), object.get());
    EXPECT_TRUE(object->_classID().empty());
    telFree(object);
    EXPECT_EQ(object, nullptr);
    const std::vector<std::string> expected = {"constructor alive", "after alive", "in use alive",
                                               "before destroying", "destructor destroying"};
    EXPECT_EQ(journal, expected);
}

TEST(ObjectLifecycle, NewObjectsStartWithEveryFieldZero) {
    // Leave a dirty block of the same size behind, so that memory handed out again
    // without clearing would show.
    void* dirty = std::malloc(sizeof(UntouchedFields));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, sizeof(UntouchedFields));
    std::free(dirty);

    telOwned<UntouchedFields> object = telCreate<UntouchedFields>();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->f_number, 0u);
    EXPECT_EQ(object->f_pointer, nullptr);
    for (uint8_t byte : object->f_block)
        EXPECT_EQ(byte, 0);
}

TEST(ObjectLifecycle, DestructionTakesTheProcessGateOnlyWhileTheObjectIsHeld) {
    ASSERT_EQ(telObject::processWideGate(), 0);
    telOwned<telObject> idle = telCreate<telObject>();
    ASSERT_TRUE(idle->acquire(telTrue, 0, telFalse));
    ASSERT_TRUE(idle->releaseRO());
    idle.reset();
    EXPECT_EQ(telObject::processWideGate(), 0);
    EXPECT_EQ(telObject::processWideOwner(), 0u);

    telOwned<telObject> held = telCreate<telObject>();
    held->acquire(telTrue);
    EXPECT_EQ(held->readCount(), 1);
    held.reset();
    // One attempt, kept: destruction does not give the gate back.
    EXPECT_EQ(telObject::processWideGate(), 1);
    EXPECT_EQ(telObject::processWideOwner(), plat::currentThreadId());
    EXPECT_TRUE(telObject::releaseProcessWide());
}
