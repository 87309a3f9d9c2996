// COM as the driver list uses it, the same on both backends. Loading and serving classes,
// and counted initialisation, are exercised through the driver list.
#include <gtest/gtest.h>
#include <thread>

#include "platform/platform.h"

TEST(ComIdentifiers, ParseOnlyTheBraceEnclosedFormIntoTheRightFields) {
    plat::Guid parsed{};
    ASSERT_EQ(plat::clsidFromString(u"{12345678-9ABC-DEF0-0123-456789abcdef}", parsed), plat::hrOk);
    EXPECT_TRUE(parsed ==
                (plat::Guid{0x12345678, 0x9ABC, 0xDEF0, {1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}));
    for (const char16_t* text :
         {u"", u"{12345678-9ABC-DEF0-0123-456789ABCDE}", u"{1234567G-9ABC-DEF0-0123-456789ABCDEF}",
          u"{12345678-9ABC-DEF0-0123+456789ABCDEF}", u"(12345678-9ABC-DEF0-0123-456789ABCDEF)"})
        EXPECT_EQ(plat::clsidFromString(text, parsed), plat::hrInvalidClassString) << plat::toNarrow(text);
}

TEST(ComApartment, InitialisationIsPerThreadAndNeededForCreation) {
    std::thread([] {
        const plat::Guid unregistered{
            0x5EB1A9C3, 0x0D27, 0x4F1B, {0x9A, 0x44, 0x13, 0x77, 0xE0, 0x2B, 0x6C, 0x91}};
        void* object = nullptr;
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  static_cast<int32_t>(0x800401F0u)); // CO_E_NOTINITIALIZED
        EXPECT_EQ(plat::coInitialize(), plat::hrOk);
        std::thread([] {
            EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "another thread counts on its own";
            plat::coUninitialize();
        }).join();
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  plat::hrClassNotRegistered);
        plat::coUninitialize();
    }).join();
}
