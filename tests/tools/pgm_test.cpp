#include "pgm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "png.h"

namespace {

using imageio::GrayImage;

std::vector<uint8_t> bytesOf(const std::string &text) { return {text.begin(), text.end()}; }

bool parse(const std::vector<uint8_t> &bytes, GrayImage &image, std::string *error = nullptr) {
    return imageio::parsePgm(bytes.data(), bytes.size(), image, error);
}

GrayImage gradient(int w, int h) {
    GrayImage image(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.at(x, y) = static_cast<uint8_t>(x * 7 + y * 13);
    }
    return image;
}

TEST(Pgm, BinaryImageRoundTripsThroughFileAndMemory) {
    const GrayImage image = gradient(37, 11);
    const std::vector<uint8_t> bytes = imageio::encodePgm(image);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 13), "P5\n37 11\n255\n");
    GrayImage back;
    ASSERT_TRUE(parse(bytes, back));
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 11);
    EXPECT_EQ(back.pixels, image.pixels);

    const std::string path = ::testing::TempDir() + "pgm_round_trip.pgm";
    ASSERT_TRUE(imageio::writePgm(path, image));
    GrayImage fromFile;
    ASSERT_TRUE(imageio::readPgm(path, fromFile));
    EXPECT_EQ(fromFile.pixels, image.pixels);
    std::remove(path.c_str());
}

TEST(Pgm, HeaderCommentsPlainFormatAndWiderSamplesAreRead) {
    GrayImage image;
    std::vector<uint8_t> bytes = bytesOf("P5 # made by a scanner\n# size follows\n2 1\n255\n");
    bytes.push_back(0);
    bytes.push_back(200);
    ASSERT_TRUE(parse(bytes, image));
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0, 200}));

    ASSERT_TRUE(parse(bytesOf("P2\n3 1\n15\n0 # dark\n15 5\n"), image));
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0, 255, 85}));

    // 16-bit samples, big-endian, scaled to 8 bits.
    bytes = bytesOf("P5\n2 1\n65535\n");
    for (uint8_t b : {0xFF, 0xFF, 0x80, 0x00}) bytes.push_back(b);
    ASSERT_TRUE(parse(bytes, image));
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{255, 128}));
}

TEST(Pgm, MalformedFilesAreRefusedWithAReason) {
    GrayImage image = gradient(2, 2);
    const std::vector<uint8_t> before = image.pixels;
    std::string error;
    const char *bad[] = {
        "",                      // empty
        "P6\n1 1\n255\nxyz",     // colour
        "P5\n0 4\n255\n",        // no pixels
        "P5\n2 2\n255\nabc",     // truncated samples
        "P5\n2 2\n0\nabcd",      // zero maximum
        "P5\n2 2\n70000\nabcd",  // maximum too large
        "P5\n99999 2\n255\n",    // implausible width
        "P5\n2 2",               // header ends early
        "P2\n2 1\n10\n5 11\n",   // plain sample above maximum
        "P2\n2 1\n10\n5\n",      // plain samples missing
        "P5\n1 1\n255x",         // no separator after the header
    };
    for (const char *text : bad) {
        error.clear();
        EXPECT_FALSE(parse(bytesOf(text), image, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::vector<uint8_t> high = bytesOf("P5\n1 1\n100\n");
    high.push_back(101);
    EXPECT_FALSE(parse(high, image));
    EXPECT_EQ(image.pixels, before);  // a refused file leaves the image alone
    EXPECT_FALSE(imageio::readPgm(::testing::TempDir() + "does_not_exist.pgm", image, &error));
}

TEST(Png, ChecksumsMatchTheirStandardCheckValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(imageio::crc32(reinterpret_cast<const uint8_t *>(digits.data()), digits.size()), 0xCBF43926u);
    const std::string word = "Wikipedia";
    EXPECT_EQ(imageio::adler32(reinterpret_cast<const uint8_t *>(word.data()), word.size()), 0x11E60398u);
}

uint32_t bigEndian(const std::vector<uint8_t> &b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// Walks the chunks, checks their CRCs and reassembles the stored deflate blocks.
std::vector<uint8_t> storedScanlines(const std::vector<uint8_t> &png, uint32_t &width, uint32_t &height) {
    std::vector<uint8_t> zlib;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t length = bigEndian(png, at);
        const std::string type(png.begin() + static_cast<long>(at) + 4, png.begin() + static_cast<long>(at) + 8);
        EXPECT_EQ(imageio::crc32(&png[at + 4], length + 4), bigEndian(png, at + 8 + length)) << type;
        if (type == "IHDR") {
            width = bigEndian(png, at + 8);
            height = bigEndian(png, at + 12);
        }
        if (type == "IDAT")
            zlib.insert(zlib.end(), png.begin() + static_cast<long>(at) + 8,
                        png.begin() + static_cast<long>(at) + 8 + length);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    std::vector<uint8_t> data;
    size_t pos = 2;
    for (bool last = false; !last && pos + 5 <= zlib.size();) {
        last = zlib[pos] & 1;
        const size_t length = zlib[pos + 1] | (zlib[pos + 2] << 8);
        EXPECT_EQ(length ^ 0xFFFFu, static_cast<size_t>(zlib[pos + 3] | (zlib[pos + 4] << 8)));
        data.insert(data.end(), zlib.begin() + static_cast<long>(pos) + 5,
                    zlib.begin() + static_cast<long>(pos + 5 + length));
        pos += 5 + length;
    }
    EXPECT_EQ(bigEndian(zlib, pos), imageio::adler32(data.data(), data.size()));
    return data;
}

TEST(Png, StoredBlocksCarryEveryScanlineEvenAcrossBlockBoundaries) {
    const GrayImage image = gradient(300, 260);  // more than one 64 KiB block
    const std::vector<uint8_t> png = imageio::encodePng(image);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    uint32_t width = 0, height = 0;
    const std::vector<uint8_t> data = storedScanlines(png, width, height);
    EXPECT_EQ(width, 300u);
    EXPECT_EQ(height, 260u);
    ASSERT_EQ(data.size(), 260u * 301u);
    for (int y = 0; y < 260; ++y) {
        ASSERT_EQ(data[y * 301u], 0) << "filter byte of row " << y;
        for (int x = 0; x < 300; ++x) ASSERT_EQ(data[y * 301u + 1 + x], image.at(x, y));
    }
}

}  // namespace
