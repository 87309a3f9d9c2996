// Writing samples into driver buffers in each format, and buffer widths.
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "asioTestFixture.h"

namespace {

constexpr uint8_t untouched = 0xAB;
constexpr int32_t probe = 5; // the sample index the writes go to

// The value with its bytes in reverse order: how a big-endian format stores it here.
template <class T> T swapped(T value) {
    auto bytes = std::bit_cast<std::array<uint8_t, sizeof(T)>>(value);
    std::reverse(bytes.begin(), bytes.end());
    return std::bit_cast<T>(bytes);
}

} // namespace

class SampleAccess : public AsioTest {
  protected:
    // One output channel per type, 256-sample buffers filled with `untouched`.
    telOwned<telAsioDriver> outputsOf(std::initializer_list<ASIOSampleType> types) {
        driver.script.inputs = 0;
        driver.script.outputs = static_cast<int32_t>(types.size());
        int32_t channel = 0;
        for (ASIOSampleType type : types)
            driver.setChannelType(false, channel++, type);
        telOwned<telAsioDriver> object = prepared(256);
        driver.fillBuffers(untouched);
        return object;
    }

    // Writes one sample over `stored` at `probe` of half 1 of channel `k` and returns what is
    // there afterwards; every other byte of the channel must be untouched.
    template <class T> T write(telAsioDriver& object, int32_t k, T stored, double value, telASIOSampleOp op) {
        uint8_t* half = driver.buffer(false, k, 1);
        int32_t bytes = driver.bufferBytes(false, k), at = probe * sizeof(T), after = at + sizeof(T);
        EXPECT_EQ(object.getBufferSizeInBytes(k), bytes);
        std::memcpy(half + at, &stored, sizeof(T));
        EXPECT_EQ(object.setSample(k, 1, probe, value, op), ASE_OK);
        EXPECT_TRUE(allBytesAre(half, at, untouched) && allBytesAre(half + after, bytes - after, untouched));
        EXPECT_TRUE(allBytesAre(driver.buffer(false, k, 0), bytes, untouched));
        std::memcpy(&stored, half + at, sizeof(T));
        return stored;
    }
};

TEST_F(SampleAccess, EachFormatScalesRoundsSaturatesAndKeepsItsByteOrder) {
    auto object = outputsOf(
        {ASIOSTInt16LSB, ASIOSTInt16MSB, ASIOSTInt32LSB, ASIOSTInt32MSB, ASIOSTFloat32LSB, ASIOSTFloat64LSB});
    EXPECT_EQ(write<int16_t>(*object, 0, 1234, 1.0, soReplace), 32767);
    EXPECT_EQ(write<int16_t>(*object, 0, 1234, -1.0, soReplace), -32767); // full scale is symmetric
    EXPECT_EQ(write<int16_t>(*object, 0, 0, 2.5 / 32767, soReplace), 2);  // 16 bits round ties to even
    EXPECT_EQ(write<int16_t>(*object, 0, 0, 3.5 / 32767, soReplace), 4);
    EXPECT_EQ(write<int16_t>(*object, 0, 30000, 0.5, soAdd), 32767);
    EXPECT_EQ(write<int16_t>(*object, 0, -30000, 1e300, soSub), -32768);
    EXPECT_EQ(write<int16_t>(*object, 0, 42, NAN, soAdd), 42);
    EXPECT_EQ(write<int16_t>(*object, 1, 0, 1.0, soReplace), swapped<int16_t>(32767));
    EXPECT_EQ(write(*object, 1, swapped<int16_t>(256), 0.25, soAdd), swapped<int16_t>(8448)); // 256 + 8191.75
    EXPECT_EQ(write<int32_t>(*object, 2, 7, 0.5, soReplace), 1073741823); // 32 bits truncate toward zero
    EXPECT_EQ(write<int32_t>(*object, 2, 7, -0.5, soReplace), -1073741823);
    EXPECT_EQ(write<int32_t>(*object, 2, 2147483647, 1.0, soAdd), 2147483647);
    EXPECT_EQ(write<int32_t>(*object, 2, -2147483647, 1e300, soSub), INT32_MIN);
    EXPECT_EQ(write<int32_t>(*object, 2, 42, NAN, soAdd), 42);
    EXPECT_EQ(write(*object, 3, swapped(1000), 0.5, soAdd), swapped(1073742823)); // + 1073741823.5
    EXPECT_EQ(write<float>(*object, 4, 0.25, 0.5, soSub), -0.25);
    EXPECT_EQ(write<float>(*object, 4, 3.0, 0.1, soReplace), 0.1f);
    // Just above half a float step: lost if the value were rounded to float before adding.
    EXPECT_EQ(write<float>(*object, 4, 1.0, std::ldexp(1.0, -24) + std::ldexp(1.0, -50), soAdd),
              std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(write<double>(*object, 5, 0.25, 0.5, soSub), -0.25);
    for (uint64_t bits : {0x8000000000000000ull, 0x7FF8000000001234ull, 0x3FB999999999999Aull}) {
        ASSERT_EQ(object->setSample(5, 0, 0, std::bit_cast<double>(bits), soReplace), ASE_OK);
        EXPECT_EQ(std::memcmp(driver.buffer(false, 5, 0), &bits, 8), 0) << "doubles are stored bit for bit";
    }
}

TEST_F(SampleAccess, RefusedFormatsAndArgumentsLeaveTheBuffersUntouched) {
    // Four formats are refused as invalid, the rest as not present; channel 18 is writable.
    auto object = outputsOf({ASIOSTInt24MSB, ASIOSTFloat32MSB, ASIOSTFloat64MSB, ASIOSTInt24LSB, 8, 9, 10, 11,
                             24, 25, 26, 27, 32, 33, 40, 5, 99, -1, ASIOSTInt16LSB});
    const int32_t widths[] = {3, 4, 8, 3, 4, 4, 4, 4, 4, 4, 4, 4, 1, 1, 1, 1, 1, 1, 2};
    for (int32_t k = 0; k < 19; ++k) {
        EXPECT_EQ(object->getBufferSizeInBytes(k), 256 * widths[k]) << k;
        ASIOError refused = k < 4 ? ASE_InvalidParameter : ASE_NotPresent; // adding nothing keeps channel 18
        EXPECT_EQ(object->setSample(k, k % 2, probe, 0.0, soAdd), k < 18 ? refused : ASE_OK) << k;
    }
    EXPECT_TRUE(object->getBufferSizeInBytes(-1) == -1 && object->getBufferSizeInBytes(19) == -1);
    const int32_t badArguments[][3] = {{19, 0, 0},  {-1, 0, 0},   {18, 2, 0},
                                       {18, -1, 0}, {18, 0, 256}, {18, 0, -1}};
    for (const auto& bad : badArguments)
        EXPECT_EQ(object->setSample(bad[0], bad[1], bad[2], 0.5, soReplace), ASE_InvalidParameter);
    for (int32_t k = 0; k < 19; ++k)
        for (int32_t half = 0; half < 2; ++half)
            EXPECT_TRUE(allBytesAre(driver.buffer(false, k, half), driver.bufferBytes(false, k), untouched))
                << k;

    ASSERT_EQ(object->stop(telTrue), ASE_OK); // without buffers there is nowhere to write
    EXPECT_EQ(object->setSample(18, 0, 0, 0.5, soReplace), ASE_InvalidParameter);
}
