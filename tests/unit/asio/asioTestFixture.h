// Shared set-up of the host layer tests: the slot procedures filled, a scripted driver,
// and a check that every test gives its callback slots back.
#pragma once

#include <gtest/gtest.h>

#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriver.h"
#include "tests/support/scriptedDriver.h"

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
        EXPECT_EQ(object->driverState(), dsPrepared);
        return object;
    }

    teltest::ScriptedDriver driver; // declared first: outlives the objects built over it
};
