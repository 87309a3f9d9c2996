// COM as the driver list uses it, the same on both backends. Loading and serving classes
// is exercised through the driver list.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace {

TEST(ComIdentifiers, ParseOnlyTheBraceEnclosedForm) {
    plat::Guid upper{}, lower{};
    ASSERT_EQ(plat::clsidFromString(u"{12345678-9ABC-DEF0-0123-456789ABCDEF}", upper), plat::hrOk);
    ASSERT_EQ(plat::clsidFromString(u"{12345678-9abc-def0-0123-456789abcdef}", lower), plat::hrOk);
    const plat::Guid expected{0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    EXPECT_TRUE(upper == expected);
    EXPECT_TRUE(lower == expected);

    for (const char16_t* text :
         {u"", u"{12345678-9ABC-DEF0-0123-456789ABCDE}", u"{1234567G-9ABC-DEF0-0123-456789ABCDEF}",
          u"{12345678-9ABC-DEF0-0123+456789ABCDEF}", u"(12345678-9ABC-DEF0-0123-456789ABCDEF)"})
        EXPECT_EQ(plat::clsidFromString(text, upper), plat::hrInvalidClassString) << plat::toNarrow(text);
}

TEST(ComApartment, InitialisationIsCountedPerThreadAndNeededForCreation) {
    std::thread([] {
        const plat::Guid unregistered{
            0x5EB1A9C3, 0x0D27, 0x4F1B, {0x9A, 0x44, 0x13, 0x77, 0xE0, 0x2B, 0x6C, 0x91}};
        void* object = nullptr;
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  static_cast<int32_t>(0x800401F0u)); // CO_E_NOTINITIALIZED

        EXPECT_EQ(plat::coInitialize(), plat::hrOk);
        EXPECT_EQ(plat::coInitialize(), plat::hrFalse);
        std::thread([] {
            EXPECT_EQ(plat::coInitialize(), plat::hrOk);
            plat::coUninitialize();
        }).join();
        EXPECT_EQ(plat::coCreateInstance(unregistered, plat::iidUnknown, &object),
                  plat::hrClassNotRegistered);
        plat::coUninitialize();
        plat::coUninitialize();
        EXPECT_EQ(plat::coInitialize(), plat::hrOk) << "balanced calls end the thread's COM use";
        plat::coUninitialize();
    }).join();
}

} // namespace
