// Writing samples into driver buffers in each format, and the format descriptions.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "asioTestFixture.h"

using teltest::Op;

namespace {

constexpr uint8_t untouched = 0xAB;
constexpr int32_t bufferSamples = 256;
constexpr int32_t probe = 5; // the sample index the tests write to

template <class T> T readAt(const uint8_t* buffer, int32_t index) {
    T value;
    std::memcpy(&value, buffer + index * sizeof(T), sizeof(T));
    return value;
}

template <class T> void writeAt(uint8_t* buffer, int32_t index, T value) {
    std::memcpy(buffer + index * sizeof(T), &value, sizeof(T));
}

// A value whose bytes in memory are `bytes`, in that order.
template <class T> T fromBytes(std::initializer_list<uint8_t> bytes) {
    T value{};
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(&value));
    return value;
}

bool allBytesAre(const uint8_t* buffer, int32_t bytes, uint8_t value) {
    for (int32_t i = 0; i < bytes; ++i)
        if (buffer[i] != value) return false;
    return true;
}

} // namespace

class SampleAccess : public AsioTest {
  protected:
    // A driver object with one output channel per type, buffers filled with `untouched`.
    // The driver holds one set of buffers: free the previous object first.
    telOwned<telAsioDriver> outputsOf(std::initializer_list<ASIOSampleType> types) {
        driver.script.inputs = 0;
        driver.script.outputs = static_cast<int32_t>(types.size());
        int32_t channel = 0;
        for (ASIOSampleType type : types)
            driver.setChannelType(false, channel++, type);
        telOwned<telAsioDriver> object = prepared(bufferSamples);
        driver.fillBuffers(untouched);
        return object;
    }

    // Writes one sample at `probe` of half 1 over `stored` and returns what is there
    // afterwards; also checks that the neighbouring samples kept their bytes.
    template <class T> T write(telAsioDriver& object, T stored, double value, telASIOSampleOp op) {
        uint8_t* half = driver.buffer(false, 0, 1);
        writeAt<T>(half, probe, stored);
        EXPECT_EQ(object.setSample(0, 1, probe, value, op), ASE_OK);
        EXPECT_TRUE(allBytesAre(half + (probe - 1) * sizeof(T), sizeof(T), untouched));
        EXPECT_TRUE(allBytesAre(half + (probe + 1) * sizeof(T), sizeof(T), untouched));
        EXPECT_TRUE(allBytesAre(driver.buffer(false, 0, 0), driver.bufferBytes(false, 0), untouched));
        return readAt<T>(half, probe);
    }
};

TEST_F(SampleAccess, Int16LittleEndianScalesRoundsHalfToEvenAndSaturates) {
    auto object = outputsOf({ASIOSTInt16LSB});
    EXPECT_EQ(write<int16_t>(*object, 1234, 1.0, soReplace), 32767);
    EXPECT_EQ(write<int16_t>(*object, 1234, -1.0, soReplace), -32767);
    EXPECT_EQ(write<int16_t>(*object, 0, 0.5, soReplace), 16384); // 16383.5
    EXPECT_EQ(write<int16_t>(*object, 0, 0.25, soReplace), 8192); // 8191.75
    EXPECT_EQ(write<int16_t>(*object, 100, 0.25, soAdd), 8292);
    EXPECT_EQ(write<int16_t>(*object, 100, 0.25, soSub), -8092);
    EXPECT_EQ(write<int16_t>(*object, 30000, 0.5, soAdd), 32767);
    EXPECT_EQ(write<int16_t>(*object, -30000, 0.5, soSub), -32768);
}

TEST_F(SampleAccess, BigEndianIntegersAreSwappedOnReadAndWrite) {
    auto object = outputsOf({ASIOSTInt16MSB});
    EXPECT_EQ(write<uint16_t>(*object, 0, 1.0, soReplace), fromBytes<uint16_t>({0x7F, 0xFF}));
    // Stored 256 (bytes 01 00) plus 8191.75 gives 8448 (bytes 21 00).
    EXPECT_EQ(write<uint16_t>(*object, fromBytes<uint16_t>({0x01, 0x00}), 0.25, soAdd),
              fromBytes<uint16_t>({0x21, 0x00}));

    object.reset();
    object = outputsOf({ASIOSTInt32MSB});
    // Stored 1000 (00 00 03 E8) plus 1073741823.5, truncated: 1073742823 (40 00 03 E7).
    EXPECT_EQ(write<uint32_t>(*object, fromBytes<uint32_t>({0, 0, 0x03, 0xE8}), 0.5, soAdd),
              fromBytes<uint32_t>({0x40, 0x00, 0x03, 0xE7}));
}

TEST_F(SampleAccess, Int32LittleEndianTruncatesAndSaturates) {
    auto object = outputsOf({ASIOSTInt32LSB});
    EXPECT_EQ(write<int32_t>(*object, 7, 0.5, soReplace), 1073741823);
    EXPECT_EQ(write<int32_t>(*object, 7, -0.5, soReplace), -1073741823);
    EXPECT_EQ(write<int32_t>(*object, 7, 1.0, soReplace), 2147483647);
    EXPECT_EQ(write<int32_t>(*object, 2147483647, 1.0, soAdd), 2147483647);
    EXPECT_EQ(write<int32_t>(*object, -2147483647, 1.0, soSub), -2147483647 - 1);
    EXPECT_EQ(write<int32_t>(*object, 10, 1e-9, soSub), 7); // 10 - 2.147..., toward zero
}

TEST_F(SampleAccess, FloatsAddInDoublePrecisionAndReplaceExactly) {
    auto object = outputsOf({ASIOSTFloat32LSB});
    EXPECT_EQ(write<float>(*object, 0.25f, 0.5, soAdd), 0.75f);
    EXPECT_EQ(write<float>(*object, 0.25f, 0.5, soSub), -0.25f);
    EXPECT_EQ(write<float>(*object, 3.0f, 0.1, soReplace), 0.1f);
    // Just above half a float step: lost if the value were rounded to float before adding.
    double nudge = std::ldexp(1.0, -24) + std::ldexp(1.0, -50);
    EXPECT_EQ(write<float>(*object, 1.0f, nudge, soAdd), std::nextafter(1.0f, 2.0f));

    object.reset();
    object = outputsOf({ASIOSTFloat64LSB});
    EXPECT_EQ(write<double>(*object, 0.25, 0.5, soAdd), 0.75);
    EXPECT_EQ(write<double>(*object, 0.25, 0.5, soSub), -0.25);
    for (uint64_t bits : {0x8000000000000000ull, 0x7FF8000000001234ull, 0x3FB999999999999Aull})
        EXPECT_EQ(
            std::bit_cast<uint64_t>(write<double>(*object, 1.0, std::bit_cast<double>(bits), soReplace)),
            bits);
}

TEST_F(SampleAccess, RefusedFormatsAndArgumentsLeaveTheBuffersUntouched) {
    const std::vector<ASIOSampleType> invalid{ASIOSTInt24MSB, ASIOSTFloat32MSB, ASIOSTFloat64MSB,
                                              ASIOSTInt24LSB};
    const std::vector<ASIOSampleType> notPresent{8, 9, 10, 11, 24, 25, 26, 27, 32, 33, 40, 5, 99, -1};
    auto object = outputsOf({ASIOSTInt24MSB, ASIOSTFloat32MSB, ASIOSTFloat64MSB, ASIOSTInt24LSB, 8, 9, 10, 11,
                             24, 25, 26, 27, 32, 33, 40, 5, 99, -1});
    int32_t channel = 0;
    for (ASIOSampleType type : invalid)
        EXPECT_EQ(object->setSample(channel++, 0, probe, 0.5, soReplace), ASE_InvalidParameter) << type;
    for (ASIOSampleType type : notPresent)
        EXPECT_EQ(object->setSample(channel++, 1, probe, 0.5, soAdd), ASE_NotPresent) << type;

    for (int32_t k = 0; k < channel; ++k)
        for (int32_t half = 0; half < 2; ++half)
            EXPECT_TRUE(allBytesAre(driver.buffer(false, k, half), driver.bufferBytes(false, k), untouched))
                << k;

    object.reset();
    object = outputsOf({ASIOSTInt16LSB});
    EXPECT_EQ(object->setSample(1, 0, 0, 0.5, soReplace), ASE_InvalidParameter);  // index = channel count
    EXPECT_EQ(object->setSample(-1, 0, 0, 0.5, soReplace), ASE_InvalidParameter); // negative index
    EXPECT_EQ(object->setSample(0, 2, 0, 0.5, soReplace), ASE_InvalidParameter);  // no third half
    EXPECT_EQ(object->setSample(0, -1, 0, 0.5, soReplace), ASE_InvalidParameter);
    EXPECT_EQ(object->setSample(0, 0, bufferSamples, 0.5, soReplace), ASE_InvalidParameter);
    EXPECT_EQ(object->setSample(0, 0, -1, 0.5, soReplace), ASE_InvalidParameter);
    for (int32_t half = 0; half < 2; ++half)
        EXPECT_TRUE(allBytesAre(driver.buffer(false, 0, half), driver.bufferBytes(false, 0), untouched));

    // Without buffers there is nowhere to write.
    ASSERT_EQ(object->stop(telTrue), ASE_OK);
    EXPECT_EQ(object->setSample(0, 0, 0, 0.5, soReplace), ASE_InvalidParameter);
}

TEST_F(SampleAccess, BufferSizeInBytesFollowsTheContainerWidth) {
    auto object = outputsOf({ASIOSTInt16LSB, ASIOSTInt16MSB, ASIOSTInt24LSB, ASIOSTInt24MSB, ASIOSTInt32LSB,
                             ASIOSTFloat32LSB, ASIOSTInt32MSB24, ASIOSTInt32LSB20, ASIOSTFloat64LSB,
                             ASIOSTFloat64MSB, ASIOSTDSDInt8LSB1, ASIOSTDSDInt8NER8, 6, 41});
    const int32_t expected[] = {512, 512, 768, 768, 1024, 1024, 1024, 1024, 2048, 2048, 256, 256, 256, 256};
    for (int32_t k = 0; k < 14; ++k) {
        EXPECT_EQ(object->getBufferSizeInBytes(k), expected[k]) << "channel " << k;
        EXPECT_EQ(object->getBufferSizeInBytes(k), driver.bufferBytes(false, k)) << "channel " << k;
    }
    EXPECT_EQ(object->getBufferSizeInBytes(14), -1);
    EXPECT_EQ(object->getBufferSizeInBytes(-1), -1);
}

TEST(SampleConversion, SixteenBitRoundsTiesToEvenAndClamps) {
    EXPECT_EQ(saturate16(0, 2.5), 2);
    EXPECT_EQ(saturate16(0, 3.5), 4);
    EXPECT_EQ(saturate16(0, -2.5), -2);
    EXPECT_EQ(saturate16(1, 32766.5), 32767);
    EXPECT_EQ(saturate16(0, 32767.5), 32767);
    EXPECT_EQ(saturate16(-1, -32767.6), -32768);
    EXPECT_EQ(saturate16(0, -1e300), -32768);
    EXPECT_EQ(saturate16(42, std::nan("")), 42);
}

TEST(SampleConversion, ThirtyTwoBitTruncatesTowardZeroAndClamps) {
    EXPECT_EQ(saturate32(0, -0.9), 0);
    EXPECT_EQ(saturate32(10, -20.7), -10);
    EXPECT_EQ(saturate32(0, 2147483647.9), 2147483647);
    EXPECT_EQ(saturate32(0, -2147483648.0), -2147483647 - 1);
    EXPECT_EQ(saturate32(0, -2147483648.5), -2147483647 - 1);
    EXPECT_EQ(saturate32(-5, 1e300), 2147483647);
    EXPECT_EQ(saturate32(42, std::nan("")), 42);
}

TEST(SampleTypeText, KnownCodesAreDescribedAndOthersNamedByNumber) {
    EXPECT_EQ(sampleTypeText(ASIOSTInt32LSB), u"LSB: 24/32 bit data");
    EXPECT_EQ(sampleTypeText(ASIOSTInt24MSB),
              u"MSB: packed 18/20/24 bit format. 2 data words will spawn consecutive 6 bytes in memory");
    EXPECT_EQ(sampleTypeText(ASIOSTDSDInt8NER8),
              u"DSD 8 bit data, 1 sample per byte. No Endianness required");
    EXPECT_EQ(sampleTypeText(7), u"Unknown type: 7");
    EXPECT_EQ(sampleTypeText(-12), u"Unknown type: -12");

    const telText unknown = u"Unknown type: ";
    const std::vector<int32_t> known{0,  1,  2,  3,  4,  8,  9,  10, 11, 16, 17,
                                     18, 19, 20, 24, 25, 26, 27, 32, 33, 40};
    std::vector<telText> seen;
    for (int32_t code = -1; code <= 64; ++code) {
        telText text = sampleTypeText(code);
        bool isKnown = std::find(known.begin(), known.end(), code) != known.end();
        EXPECT_EQ(text.rfind(unknown, 0) != 0, isKnown) << code;
        if (isKnown) {
            EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end()) << "duplicate text for " << code;
            seen.push_back(text);
        }
    }
}
