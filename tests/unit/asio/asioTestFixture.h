// Shared set-up: slot procedures filled, a scripted driver, every callback slot given back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriver.h"
#include "tests/support/scriptedDriver.h"

using teltest::Op;

inline bool allBytesAre(const uint8_t* bytes, int32_t count, uint8_t value) {
    return std::all_of(bytes, bytes + count, [&](uint8_t b) { return b == value; });
}

class AsioTest : public ::testing::Test {
  protected:
    void SetUp() override { telAsioApiStartup(); }
    void TearDown() override {
        for (int32_t slot = 0; slot < telCallbackSlotCount; ++slot)
            EXPECT_EQ(callbackSlots[slot], nullptr) << "slot " << slot << " left held";
    }

    // A driver object over `driver`, initialised with buffers of `bufSize` samples.
    telOwned<telAsioDriver> prepared(int32_t bufSize = 256) {
        telOwned<telAsioDriver> object = telCreate<telAsioDriver>(&driver);
        EXPECT_EQ(object->init(0, telTrue, bufSize), ASE_OK);
        return object;
    }

    teltest::ScriptedDriver driver; // declared first: outlives the objects built over it
};
