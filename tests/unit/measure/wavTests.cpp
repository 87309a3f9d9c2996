// Sample decoding and WAV recordings: every driver format against hand-computed values
// and bytes, headers byte for byte, round trips through a real file, the size limit, and
// the reader's refusal of damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "measure/sampleDecode.h"
#include "measure/wavFile.h"
#include "tests/support/memorySink.h"

using namespace measure;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class WavFileTest : public testing::Test {
  protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::path(testing::TempDir()) / (std::string("echoprobe-wav-") + info->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string path(const char* name) const { return (folder_ / name).string(); }

  private:
    std::filesystem::path folder_;
};

// ---------------------------------------------------------------- decoding

struct DecodeCase {
    ASIOSampleType type;
    Bytes bytes; // one sample as the driver stores it
    double value;
};

const DecodeCase decodeCases[] = {
    {ASIOSTInt16LSB, {0xFF, 0x7F}, 1.0},
    {ASIOSTInt16LSB, {0x01, 0x80}, -1.0},
    {ASIOSTInt16LSB, {0x00, 0x80}, -32768.0 / 32767},
    {ASIOSTInt16MSB, {0x40, 0x00}, 16384.0 / 32767},
    {ASIOSTInt16MSB, {0x80, 0x01}, -1.0},
    {ASIOSTInt24LSB, {0xFF, 0xFF, 0x7F}, 1.0},
    {ASIOSTInt24LSB, {0x00, 0x00, 0x80}, -8388608.0 / 8388607},
    {ASIOSTInt24MSB, {0x80, 0x00, 0x01}, -1.0},
    {ASIOSTInt24MSB, {0x00, 0x00, 0x01}, 1.0 / 8388607},
    {ASIOSTInt32LSB, {0xFF, 0xFF, 0xFF, 0x7F}, 1.0},
    {ASIOSTInt32LSB, {0x00, 0x00, 0x00, 0xC0}, -1073741824.0 / 2147483647},
    {ASIOSTInt32MSB, {0x80, 0x00, 0x00, 0x00}, -2147483648.0 / 2147483647},
    {ASIOSTInt32MSB, {0x7F, 0xFF, 0xFF, 0xFF}, 1.0},
    {ASIOSTFloat32LSB, {0x00, 0x00, 0x80, 0x3E}, 0.25},
    {ASIOSTFloat32MSB, {0xBF, 0xC0, 0x00, 0x00}, -1.5},
    {ASIOSTFloat64LSB, {0, 0, 0, 0, 0, 0, 0xD0, 0x3F}, 0.25},
    {ASIOSTFloat64MSB, {0xBF, 0xF8, 0, 0, 0, 0, 0, 0}, -1.5},
    // Containers: the sign-extended low N bits count, the upper bits do not.
    {ASIOSTInt32LSB16, {0xFF, 0x7F, 0x00, 0x00}, 1.0},
    {ASIOSTInt32LSB16, {0x01, 0x80, 0x34, 0x12}, -1.0},
    {ASIOSTInt32MSB16, {0xFF, 0xFF, 0x80, 0x00}, -32768.0 / 32767},
    {ASIOSTInt32LSB18, {0xFF, 0xFF, 0x01, 0x00}, 1.0},
    {ASIOSTInt32LSB18, {0x01, 0x00, 0x5E, 0x5A}, -1.0},
    {ASIOSTInt32MSB18, {0x00, 0x01, 0x00, 0x00}, 65536.0 / 131071},
    {ASIOSTInt32LSB20, {0x01, 0x00, 0x08, 0x00}, -1.0},
    {ASIOSTInt32MSB20, {0x00, 0x07, 0xFF, 0xFF}, 1.0},
    {ASIOSTInt32LSB24, {0x00, 0x00, 0x80, 0x00}, -8388608.0 / 8388607},
    {ASIOSTInt32MSB24, {0xAB, 0x7F, 0xFF, 0xFF}, 1.0},
};

TEST(SampleDecode, EveryFormatAtItsExtremesAndByteOrder) {
    for (const DecodeCase& c : decodeCases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        EXPECT_EQ(sampleWidth(c.type), int(c.bytes.size()));
        // Two samples one byte off alignment: the value, then its neighbour untouched.
        Bytes source(1 + 2 * c.bytes.size(), 0);
        std::copy(c.bytes.begin(), c.bytes.end(), source.begin() + 1);
        float target[3] = {9.0f, 9.0f, 9.0f};
        ASSERT_TRUE(decodeSamples(c.type, source.data() + 1, 2, target));
        EXPECT_FLOAT_EQ(target[0], float(c.value));
        EXPECT_EQ(target[1], 0.0f);
        EXPECT_EQ(target[2], 9.0f);
    }
}

TEST(SampleDecode, DsdAndUnknownTypesWriteNothing) {
    const Bytes source(16, 0x55);
    for (ASIOSampleType type : {ASIOSTDSDInt8LSB1, ASIOSTDSDInt8MSB1, ASIOSTDSDInt8NER8, 5, 12, 99, -1}) {
        float target[4] = {7.0f, 7.0f, 7.0f, 7.0f};
        EXPECT_FALSE(decodeSamples(type, source.data(), 4, target)) << type;
        EXPECT_EQ(sampleWidth(type), 1);
        EXPECT_EQ(target[0], 7.0f);
    }
}

// ---------------------------------------------------------------- plans and headers

TEST(WavPlanning, FormatFollowsTheInputsOrFallsBackToFloat) {
    const WavPlan pcm = planWav({ASIOSTInt32LSB20, ASIOSTInt32LSB20}, 44100.4);
    EXPECT_TRUE(pcm.recordable);
    EXPECT_EQ(pcm.sampleRate, 44100u);
    EXPECT_EQ(pcm.bitsPerSample, 24);
    EXPECT_EQ(pcm.validBits, 20);
    EXPECT_FALSE(pcm.isFloat);

    const WavPlan mixed = planWav({ASIOSTInt16LSB, ASIOSTInt16MSB}, 48000);
    EXPECT_TRUE(mixed.recordable && mixed.isFloat);
    EXPECT_EQ(mixed.bitsPerSample, 32);
    const WavPlan doubles = planWav({ASIOSTFloat64MSB}, 48000);
    EXPECT_TRUE(doubles.isFloat);
    EXPECT_EQ(doubles.bitsPerSample, 32);

    for (const auto& types : {std::vector<ASIOSampleType>{}, {ASIOSTInt16LSB, ASIOSTDSDInt8MSB1}, {99}}) {
        const WavPlan refused = planWav(types, 48000);
        EXPECT_FALSE(refused.recordable);
        EXPECT_FALSE(refused.whyNot.empty());
    }
    EXPECT_FALSE(planWav({ASIOSTInt16LSB}, 0.0).recordable);
    EXPECT_FALSE(planWav(std::vector<ASIOSampleType>(20000, ASIOSTInt32LSB), 48000).recordable);
}

TEST_F(WavFileTest, PlainPcmHeaderBytes) {
    const WavPlan plan = planWav({ASIOSTInt16LSB, ASIOSTInt16LSB}, 44100);
    WavWriter writer;
    ASSERT_TRUE(writer.open(path("pcm.wav"), plan));
    ASSERT_TRUE(writer.writeSilence(10));
    ASSERT_TRUE(writer.close());
    Bytes expected = {'R', 'I', 'F', 'F', 0x70, 0, 0, 0, // 72 + 40 data bytes
                      'W', 'A', 'V', 'E', 'J', 'U', 'N', 'K', 28, 0, 0, 0};
    expected.insert(expected.end(), 28, 0); // room for an RF64 header's ds64 chunk
    const Bytes format = {'f',  'm',  't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, // PCM, 2 channels
                          0x44, 0xAC, 0,   0,                             // 44100 Hz
                          0x10, 0xB1, 2,   0,                             // 176400 bytes/s
                          4,    0,    16,  0,                             // frame of 4 bytes, 16 bits
                          'd',  'a',  't', 'a', 40, 0, 0, 0};
    expected.insert(expected.end(), format.begin(), format.end());
    Bytes file = fileBytes(path("pcm.wav"));
    ASSERT_EQ(file.size(), 120u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 80), expected);
    EXPECT_EQ(Bytes(file.begin() + 80, file.end()), Bytes(40, 0));
}

TEST_F(WavFileTest, ExtensibleHeaderBytesWithPadByte) {
    const WavPlan plan = planWav({ASIOSTInt32LSB20}, 48000);
    const uint8_t samples[5 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    WavWriter writer;
    ASSERT_TRUE(writer.open(path("ext.wav"), plan));
    ASSERT_TRUE(writer.writeFrames(samples, 5));
    ASSERT_TRUE(writer.close());
    Bytes expected = {'R', 'I', 'F', 'F', 0x70, 0, 0, 0, // 96 + 15 data bytes + 1 pad
                      'W', 'A', 'V', 'E', 'J', 'U', 'N', 'K', 28, 0, 0, 0};
    expected.insert(expected.end(), 28, 0);
    const Bytes format = {
        'f',  'm',  't', ' ', 40,   0, 0, 0,    0xFE, 0xFF, 1,    0, // extensible, mono
        0x80, 0xBB, 0,   0,                                                                // 48000 Hz
        0x80, 0x32, 2,   0,                                                                // 144000 bytes/s
        3,    0,    24,  0,   22,   0,   20,   0, // frame, bits, cbSize, valid bits
        4,    0,    0,   0,                       // front centre
        1,    0,    0,   0,   0,    0,   0x10, 0,   0x80, 0, 0, 0xAA, 0,    0x38, 0x9B, 0x71, // PCM
        'd',  'a',  't', 'a', 15,   0,   0,    0};
    expected.insert(expected.end(), format.begin(), format.end());
    const Bytes file = fileBytes(path("ext.wav"));
    ASSERT_EQ(file.size(), 120u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 104), expected);
    EXPECT_EQ(Bytes(file.begin() + 104, file.end() - 1), Bytes(samples, samples + 15));
    EXPECT_EQ(file.back(), 0);
    EXPECT_EQ(wavHeader(plan, 5), expected);
}

// ---------------------------------------------------------------- every format row

struct RowCase {
    std::vector<ASIOSampleType> types; // one per channel
    Bytes sample;                      // one driver sample of channel 0
    Bytes wav;                         // what the WAV holds for it
    uint16_t bits, validBits;
    bool isFloat;
};

const RowCase rowCases[] = {
    {{ASIOSTInt16LSB, ASIOSTInt16LSB}, {0x34, 0x12}, {0x34, 0x12}, 16, 16, false},
    {{ASIOSTInt16MSB, ASIOSTInt16MSB}, {0x12, 0x34}, {0x34, 0x12}, 16, 16, false},
    {{ASIOSTInt24LSB, ASIOSTInt24LSB}, {0x56, 0x34, 0x12}, {0x56, 0x34, 0x12}, 24, 24, false},
    {{ASIOSTInt24MSB, ASIOSTInt24MSB}, {0x12, 0x34, 0x56}, {0x56, 0x34, 0x12}, 24, 24, false},
    {{ASIOSTInt32LSB, ASIOSTInt32LSB}, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}, 32, 32, false},
    {{ASIOSTInt32MSB, ASIOSTInt32MSB}, {0x12, 0x34, 0x56, 0x78}, {0x78, 0x56, 0x34, 0x12}, 32, 32, false},
    {{ASIOSTInt32LSB16, ASIOSTInt32LSB16}, {0x01, 0x80, 0xFF, 0xFF}, {0x01, 0x80}, 16, 16, false},
    {{ASIOSTInt32MSB16, ASIOSTInt32MSB16}, {0xFF, 0xFF, 0x80, 0x01}, {0x01, 0x80}, 16, 16, false},
    // -131071 (upper container bits ignored) moved up by 6 bits: -8388544 = 0x800040.
    {{ASIOSTInt32LSB18, ASIOSTInt32LSB18}, {0x01, 0x00, 0x5E, 0x5A}, {0x40, 0x00, 0x80}, 24, 18, false},
    {{ASIOSTInt32MSB18, ASIOSTInt32MSB18}, {0x5A, 0x5E, 0x00, 0x01}, {0x40, 0x00, 0x80}, 24, 18, false},
    // 0x12345 moved up by 4 bits.
    {{ASIOSTInt32LSB20, ASIOSTInt32LSB20}, {0x45, 0x23, 0x01, 0x00}, {0x50, 0x34, 0x12}, 24, 20, false},
    {{ASIOSTInt32MSB20, ASIOSTInt32MSB20}, {0x00, 0x01, 0x23, 0x45}, {0x50, 0x34, 0x12}, 24, 20, false},
    {{ASIOSTInt32LSB24, ASIOSTInt32LSB24}, {0x43, 0x65, 0x87, 0xAB}, {0x43, 0x65, 0x87}, 24, 24, false},
    {{ASIOSTInt32MSB24, ASIOSTInt32MSB24}, {0xAB, 0x87, 0x65, 0x43}, {0x43, 0x65, 0x87}, 24, 24, false},
    {{ASIOSTFloat32LSB, ASIOSTFloat32LSB}, {0x00, 0x00, 0x80, 0x3E}, {0x00, 0x00, 0x80, 0x3E}, 32, 32, true},
    {{ASIOSTFloat32MSB, ASIOSTFloat32MSB}, {0x3E, 0x80, 0x00, 0x00}, {0x00, 0x00, 0x80, 0x3E}, 32, 32, true},
    {{ASIOSTFloat64LSB, ASIOSTFloat64LSB},
     {0, 0, 0, 0, 0, 0, 0xD0, 0x3F},
     {0x00, 0x00, 0x80, 0x3E},
     32,
     32,
     true},
    {{ASIOSTFloat64MSB, ASIOSTFloat64MSB},
     {0x3F, 0xD0, 0, 0, 0, 0, 0, 0},
     {0x00, 0x00, 0x80, 0x3E},
     32,
     32,
     true},
    // Mixed types: both decoded to float (int16 full scale is 1.0).
    {{ASIOSTInt16LSB, ASIOSTInt32MSB24}, {0xFF, 0x7F}, {0x00, 0x00, 0x80, 0x3F}, 32, 32, true},
    // Three channels of 16 bits take the extensible header.
    {{ASIOSTInt16LSB, ASIOSTInt16LSB, ASIOSTInt16LSB}, {0x01, 0x80}, {0x01, 0x80}, 16, 16, false},
};

TEST_F(WavFileTest, EveryFormatRowSurvivesARoundTrip) {
    constexpr size_t frames = 3;
    for (const RowCase& row : rowCases) {
        SCOPED_TRACE("types " + std::to_string(row.types[0]) + "/" + std::to_string(row.types[1]));
        const WavPlan plan = planWav(row.types, 96000);
        ASSERT_TRUE(plan.recordable);
        EXPECT_EQ(plan.bitsPerSample, row.bits);
        EXPECT_EQ(plan.validBits, row.validBits);
        EXPECT_EQ(plan.isFloat, row.isFloat);

        // Channel 0 repeats the sample; the others hold zero bytes, which are 0 in every
        // format. The block is filled with 0xEE first, so unwritten bytes would show.
        std::vector<Bytes> sources;
        for (size_t k = 0; k < row.types.size(); ++k)
            sources.emplace_back(size_t(sampleWidth(row.types[k])) * frames, 0);
        for (size_t f = 0; f < frames; ++f)
            std::copy(row.sample.begin(), row.sample.end(), sources[0].begin() + f * row.sample.size());
        Bytes block(frames * plan.frameBytes(), 0xEE);
        for (size_t k = 0; k < row.types.size(); ++k)
            ASSERT_TRUE(
                convertToWavFrames(plan, row.types[k], sources[k].data(), frames, block.data(), uint16_t(k)));

        WavWriter writer;
        ASSERT_TRUE(writer.open(path("row.wav"), plan));
        ASSERT_TRUE(writer.writeFrames(block.data(), frames));
        EXPECT_EQ(writer.framesWritten(), frames);
        ASSERT_TRUE(writer.close());

        std::string error;
        const auto wav = readWav(path("row.wav"), &error);
        ASSERT_TRUE(wav) << error;
        EXPECT_EQ(wav->format.channels, row.types.size());
        EXPECT_EQ(wav->format.sampleRate, 96000u);
        EXPECT_EQ(wav->format.bitsPerSample, row.bits);
        EXPECT_EQ(wav->format.validBits, row.validBits);
        EXPECT_EQ(wav->format.isFloat, row.isFloat);
        EXPECT_EQ(wav->formatTag, usesExtensibleHeader(plan) ? 0xFFFE : row.isFloat ? 3 : 1);
        ASSERT_EQ(wav->frames, frames);
        Bytes expected;
        for (size_t f = 0; f < frames; ++f) {
            expected.insert(expected.end(), row.wav.begin(), row.wav.end());
            expected.insert(expected.end(), (row.types.size() - 1) * row.wav.size(), 0);
        }
        EXPECT_EQ(wav->data, expected);
    }
}

TEST(WavConversion, RefusesWhatDoesNotFitThePlan) {
    const WavPlan plan = planWav({ASIOSTInt24LSB, ASIOSTInt24LSB}, 48000);
    const Bytes source(16, 0x11);
    Bytes block(2 * plan.frameBytes(), 0xEE);
    EXPECT_FALSE(convertToWavFrames(plan, ASIOSTInt16LSB, source.data(), 2, block.data(), 0));
    EXPECT_FALSE(convertToWavFrames(plan, ASIOSTInt24LSB, source.data(), 2, block.data(), 2));
    EXPECT_FALSE(convertToWavFrames(planWav({ASIOSTDSDInt8LSB1}, 48000), ASIOSTDSDInt8LSB1, source.data(), 2,
                                    block.data(), 0));
    EXPECT_EQ(block, Bytes(2 * plan.frameBytes(), 0xEE));
}

// ---------------------------------------------------------------- size limit and crashes

// Data past what 32-bit sizes describe turns the file into RF64 (shown here with the
// limit lowered to 100 bytes), which the reader takes whole.
TEST(WavLimits, DataPastThe32BitSizesIsWrittenAsRf64) {
    const WavPlan plan = planWav({ASIOSTFloat32LSB, ASIOSTFloat32LSB}, 48000);
    EXPECT_EQ(plainWavDataLimit(planWav({ASIOSTInt16LSB, ASIOSTInt16LSB}, 44100)), uint64_t(UINT32_MAX) - 72 - 1);
    Bytes file;
    WavWriter writer;
    ASSERT_TRUE(writer.open(std::make_unique<teltest::MemorySink>(file), "mem.wav", plan, UINT64_MAX, 100));
    Bytes frames(40 * 8);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = uint8_t(i * 7);
    ASSERT_TRUE(writer.writeFrames(frames.data(), 40));
    ASSERT_TRUE(writer.close());
    EXPECT_TRUE(writer.rf64());
    EXPECT_EQ(std::memcmp(file.data(), "RF64\xFF\xFF\xFF\xFFWAVEds64", 16), 0);
    std::string error;
    const auto wav = parseWav(file, &error);
    ASSERT_TRUE(wav) << error;
    EXPECT_EQ(wav->frames, 40u);
    EXPECT_EQ(wav->data, frames);
}

// A disk that fills up: the header still describes every frame written completely, the
// file is cut back to them and opens, and the frames that could not be written are
// counted and said.
TEST(WavLimits, AWriteErrorLeavesAFileOfTheFramesWrittenWhole) {
    const WavPlan plan = planWav({ASIOSTInt24LSB, ASIOSTInt24LSB}, 48000); // 6 bytes a frame
    Bytes file;
    WavWriter writer;
    const size_t header = wavHeader(plan, std::nullopt).size();
    ASSERT_TRUE(writer.open(std::make_unique<teltest::MemorySink>(file, header + 6 * 10 + 4), "full.wav", plan));
    const Bytes frames(6 * 8, 0x5A);
    EXPECT_TRUE(writer.writeFrames(frames.data(), 8));
    EXPECT_FALSE(writer.writeFrames(frames.data(), 8)); // 2 whole frames and 4 bytes fit
    EXPECT_FALSE(writer.writeSilence(5));
    EXPECT_EQ(writer.framesWritten(), 10u);
    EXPECT_EQ(writer.framesNotWritten(), 6u + 5u);
    EXPECT_FALSE(writer.close());
    EXPECT_NE(writer.error().find("No space left on device"), std::string::npos);
    EXPECT_NE(writer.error().find("11 frames were not written"), std::string::npos);
    std::string error;
    const auto wav = parseWav(file, &error);
    ASSERT_TRUE(wav) << error;
    EXPECT_EQ(wav->frames, 10u);
}

TEST_F(WavFileTest, WriterStopsAtItsLimitAndLeavesAValidFile) {
    const WavPlan plan = planWav({ASIOSTInt16LSB}, 48000);
    Bytes block(6 * 2);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i + 1);
    WavWriter writer;
    ASSERT_TRUE(writer.open(path("limit.wav"), plan, 10));
    EXPECT_TRUE(writer.writeFrames(block.data(), 6));
    EXPECT_FALSE(writer.full());
    EXPECT_FALSE(writer.writeFrames(block.data(), 6));
    EXPECT_TRUE(writer.full());
    EXPECT_NE(writer.error().find("limit"), std::string::npos);
    EXPECT_FALSE(writer.writeSilence(1));
    EXPECT_EQ(writer.framesWritten(), 10u);
    EXPECT_TRUE(writer.close());

    const auto wav = readWav(path("limit.wav"));
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->frames, 10u);
    Bytes expected(block);
    expected.insert(expected.end(), block.begin(), block.begin() + 8);
    EXPECT_EQ(wav->data, expected);
}

TEST_F(WavFileTest, UnclosedRecordingKeepsAHeaderWithZeroSizes) {
    const WavPlan plan = planWav({ASIOSTFloat32LSB, ASIOSTFloat32LSB}, 48000);
    WavWriter writer;
    ASSERT_TRUE(writer.open(path("crash.wav"), plan));
    const Bytes file = fileBytes(path("crash.wav"));
    EXPECT_EQ(file, wavHeader(plan, std::nullopt));
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(std::memcmp(file.data(), "RIFF\0\0\0\0WAVE", 12), 0);
    std::string error;
    EXPECT_FALSE(parseWav(file, &error));
    EXPECT_NE(error.find("never closed"), std::string::npos);
}

// ---------------------------------------------------------------- reader

TEST(WavReading, RefusesDamagedFiles) {
    // A closed float stereo file of 2 frames: header of 116 bytes (JUNK, extensible fmt,
    // fact), 16 data bytes.
    const WavPlan plan = planWav({ASIOSTFloat32LSB, ASIOSTFloat32LSB}, 48000);
    Bytes good = wavHeader(plan, 2);
    ASSERT_EQ(good.size(), 116u);
    good.resize(132, 0);
    ASSERT_TRUE(parseWav(good));

    auto put32 = [](Bytes bytes, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
        return bytes;
    };
    auto put16 = [](Bytes bytes, size_t at, uint16_t value) {
        bytes[at] = uint8_t(value), bytes[at + 1] = uint8_t(value >> 8);
        return bytes;
    };
    struct Damage {
        const char* what;
        Bytes bytes;
    };
    const Damage damaged[] = {
        {"cut by one byte", Bytes(good.begin(), good.end() - 1)},
        {"cut inside the header", Bytes(good.begin(), good.begin() + 30)},
        {"not RIFF", put32(good, 0, 0x46464952u + 1)},
        {"data chunk overruns", put32(good, 112, 17 * 4)},
        {"data ends inside a frame", put32(put32(good, 112, 12), 4, 120)},
        {"frame size disagrees", put16(good, 68, 6)},
        {"byte rate disagrees", put32(good, 64, 1)},
        {"unknown sub-format", put16(good, 80, 2)},
        {"fact disagrees", put32(good, 104, 3)},
        {"fmt chunk overruns", put32(good, 52, 0x7FFFFFF0u)},
        {"no data chunk", put32(Bytes(good.begin(), good.begin() + 108), 4, 100)},
    };
    for (const Damage& d : damaged) {
        std::string error;
        EXPECT_FALSE(parseWav(d.bytes, &error)) << d.what;
        EXPECT_FALSE(error.empty()) << d.what;
    }
}

} // namespace
