#include "capture_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "random.h"

namespace {

using capture::DecodedCapture;

std::vector<uint8_t> randomBytes(size_t n, uint64_t seed) {
    fpgen::Rng rng(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng.next());
    return bytes;
}

TEST(SensorFormats, TableGivesEachModelItsGeometryLengthAndLibraryType) {
    const capture::SensorFormat *packed = capture::findSensorFormat(0x2547);
    const capture::SensorFormat *split = capture::findSensorFormat(0x2548);
    const capture::SensorFormat *plain = capture::findSensorFormat(0x2549);
    ASSERT_TRUE(packed && split && plain);
    EXPECT_EQ(packed->rawLength, 13824u);
    EXPECT_EQ(split->rawLength, 8024u);
    EXPECT_EQ(plain->rawLength, 9856u);
    EXPECT_EQ(packed->width * packed->height, 9216);
    EXPECT_EQ(split->width, 68);
    EXPECT_EQ(split->height, 118);
    EXPECT_EQ(plain->width, 112);
    EXPECT_EQ(plain->height, 88);
    EXPECT_TRUE(packed->sixteenBitImage);
    EXPECT_FALSE(split->sixteenBitImage || plain->sixteenBitImage);
    EXPECT_EQ(packed->librarySensorType, 5);
    EXPECT_EQ(split->librarySensorType, 3);
    EXPECT_EQ(plain->librarySensorType, 1);
    EXPECT_EQ(capture::findSensorFormat(0x2546), nullptr);
    EXPECT_EQ(capture::findSensorFormat(0), nullptr);
}

TEST(Unpack12Bit, FirstThreeBytesGiveTheFirstTwoPixelsOfGroupZero) {
    std::vector<uint8_t> raw(capture::kRawLength12Bit, 0);
    raw[0] = 0xAB;
    raw[1] = 0xCD;
    raw[2] = 0xEF;
    std::vector<uint16_t> values(capture::kPixels12Bit);
    capture::unpack12BitImage(raw.data(), values.data());
    EXPECT_EQ(values[0], 0xABE);
    EXPECT_EQ(values[4], 0xCDF);

    DecodedCapture image;
    ASSERT_TRUE(capture::decodeCapture(0x2547, raw.data(), raw.size(), &image));
    EXPECT_EQ(image.pixels16[0], 0x2AF);
    EXPECT_EQ(image.pixels16[4], 0x337);
    EXPECT_EQ(image.pixels16[1], 0);  // column 1 lives in group 1
}

TEST(Unpack12Bit, EveryPixelComesFromItsGroupPairAndNibble) {
    // Give every pixel a distinct value and check where the packer put it.
    std::vector<uint16_t> values(capture::kPixels12Bit);
    for (int i = 0; i < capture::kPixels12Bit; ++i) values[i] = static_cast<uint16_t>((i * 2654435761u) >> 20 & 0xFFF);
    std::vector<uint8_t> raw(capture::kRawLength12Bit);
    capture::pack12BitImage(values.data(), raw.data());
    for (int row = 0; row < 96; ++row) {
        for (int column = 0; column < 96; ++column) {
            const int group = column % 4, index = column / 4, pair = index / 2;
            const uint8_t *bytes = &raw[row * 144 + group * 36 + pair * 3];
            const uint16_t value = values[row * 96 + column];
            const bool first = index % 2 == 0;
            ASSERT_EQ(bytes[first ? 0 : 1], value >> 4) << row << "," << column;
            ASSERT_EQ(first ? bytes[2] >> 4 : bytes[2] & 0x0F, value & 0x0F) << row << "," << column;
        }
    }
}

TEST(Unpack12Bit, PackAndUnpackAreInversesBothWays) {
    const std::vector<uint8_t> raw = randomBytes(capture::kRawLength12Bit, 11);
    std::vector<uint16_t> values(capture::kPixels12Bit);
    capture::unpack12BitImage(raw.data(), values.data());
    std::vector<uint8_t> repacked(raw.size());
    capture::pack12BitImage(values.data(), repacked.data());
    EXPECT_EQ(repacked, raw);
    for (uint16_t v : values) ASSERT_LE(v, 4095);
}

TEST(Unpack12Bit, LibraryLevelIsTheValueDividedByFourForEveryValue) {
    std::vector<uint16_t> values(capture::kPixels12Bit);
    for (int start = 0; start < 4096; start += capture::kPixels12Bit) {
        for (int i = 0; i < capture::kPixels12Bit; ++i) values[i] = static_cast<uint16_t>((start + i) % 4096);
        std::vector<uint8_t> raw(capture::kRawLength12Bit);
        capture::pack12BitImage(values.data(), raw.data());
        DecodedCapture image;
        ASSERT_TRUE(capture::decodeCapture(0x2547, raw.data(), raw.size(), &image));
        for (int i = 0; i < capture::kPixels12Bit; ++i) ASSERT_EQ(image.pixels16[i], values[i] / 4) << values[i];
    }
}

TEST(SplitColumns, RowOfCountingBytesInterleavesBothHalves) {
    std::vector<uint8_t> raw(capture::kRawLengthSplitRows, 0);
    for (int k = 0; k < 68; ++k) raw[k] = static_cast<uint8_t>(k);
    DecodedCapture image;
    ASSERT_TRUE(capture::decodeCapture(0x2548, raw.data(), raw.size(), &image));
    for (int k = 0; k < 34; ++k) {
        EXPECT_EQ(image.pixels8[2 * k], k);
        EXPECT_EQ(image.pixels8[2 * k + 1], 34 + k);
    }
    EXPECT_EQ(image.pixels8[68], 0);  // the next row stays apart
}

TEST(SplitColumns, ReorderAndSplitAreInversesOnEveryRow) {
    const std::vector<uint8_t> raw = randomBytes(capture::kRawLengthSplitRows, 12);
    std::vector<uint8_t> image(raw.size()), back(raw.size());
    capture::reorderSplitColumns(raw.data(), image.data());
    capture::splitColumns(image.data(), back.data());
    EXPECT_EQ(back, raw);
    // Last row, last pixel: odd column 67 comes from the end of the row.
    EXPECT_EQ(image[117 * 68 + 67], raw[117 * 68 + 67]);
    EXPECT_EQ(image[117 * 68 + 66], raw[117 * 68 + 33]);
}

TEST(DecodeCapture, RefusesWrongLengthsUnknownProductsAndNullBuffers) {
    const std::vector<uint8_t> raw = randomBytes(capture::kRawLength12Bit + 1, 13);
    DecodedCapture image;
    std::memset(&image, 0x5A, sizeof image);
    const DecodedCapture before = image;
    for (uint16_t product : {0x2547, 0x2548, 0x2549}) {
        const size_t exact = capture::findSensorFormat(product)->rawLength;
        for (size_t length : {size_t{0}, exact - 1, exact + 1, size_t{13824}, size_t{8024}, size_t{9856}}) {
            if (length == exact) continue;
            EXPECT_FALSE(capture::decodeCapture(product, raw.data(), length, &image)) << product << " " << length;
        }
        EXPECT_FALSE(capture::decodeCapture(product, nullptr, exact, &image));
        EXPECT_FALSE(capture::decodeCapture(product, raw.data(), exact, nullptr));
    }
    EXPECT_FALSE(capture::decodeCapture(0x2546, raw.data(), 9856, &image));
    EXPECT_EQ(std::memcmp(&image, &before, sizeof image), 0);
}

TEST(EncodeCapture, IsTheExactInverseOfDecodeForAllModels) {
    for (uint16_t product : {0x2547, 0x2548, 0x2549}) {
        const size_t length = capture::findSensorFormat(product)->rawLength;
        std::vector<uint8_t> raw = randomBytes(length, product);
        if (product == 0x2547) {
            // The division drops the two low bits: clear them so bytes round-trip too.
            std::vector<uint16_t> values(capture::kPixels12Bit);
            capture::unpack12BitImage(raw.data(), values.data());
            for (uint16_t &v : values) v &= 0xFFC;
            capture::pack12BitImage(values.data(), raw.data());
        }
        DecodedCapture image;
        ASSERT_TRUE(capture::decodeCapture(product, raw.data(), raw.size(), &image));
        std::vector<uint8_t> encoded(capture::kLargestRawLength, 0);
        ASSERT_EQ(capture::encodeCapture(image, encoded.data(), encoded.size()), length);
        encoded.resize(length);
        EXPECT_EQ(encoded, raw) << std::hex << product;

        DecodedCapture again;
        ASSERT_TRUE(capture::decodeCapture(product, encoded.data(), length, &again));
        const int pixels = image.width * image.height;
        if (image.sixteenBit) {
            EXPECT_EQ(std::memcmp(again.pixels16, image.pixels16, pixels * sizeof(uint16_t)), 0);
        } else {
            EXPECT_EQ(std::memcmp(again.pixels8, image.pixels8, pixels), 0);
        }
    }
}

TEST(EncodeCapture, RefusesLevelsAboveTenBitsMismatchedGeometryAndSmallBuffers) {
    std::vector<uint8_t> raw(capture::kLargestRawLength);
    DecodedCapture image{};
    image.productId = 0x2547;
    image.width = 96;
    image.height = 96;
    image.sixteenBit = true;
    EXPECT_EQ(capture::encodeCapture(image, raw.data(), raw.size()), 13824u);
    EXPECT_EQ(capture::encodeCapture(image, raw.data(), 13823), 0u);
    image.pixels16[9215] = 1024;
    EXPECT_EQ(capture::encodeCapture(image, raw.data(), raw.size()), 0u);
    image.pixels16[9215] = 1023;
    image.width = 112;
    EXPECT_EQ(capture::encodeCapture(image, raw.data(), raw.size()), 0u);

    DecodedCapture plain{};
    plain.productId = 0x2549;
    plain.width = 112;
    plain.height = 88;
    EXPECT_EQ(capture::encodeCapture(plain, raw.data(), raw.size()), 9856u);
    plain.sixteenBit = true;
    EXPECT_EQ(capture::encodeCapture(plain, raw.data(), raw.size()), 0u);
    plain.sixteenBit = false;
    plain.productId = 0x1234;
    EXPECT_EQ(capture::encodeCapture(plain, raw.data(), raw.size()), 0u);
}

}  // namespace
