// Raw images of each sensor model into templates: conversion, lazy and
// repeated library initialisation, and the re-initialisation after -31.
#include "template_creation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "capture_format.h"
#include "veko2547_drv.h"

namespace {

// Ridges of period 9 as 8-bit grey levels.
std::vector<uint8_t> ridges(int w, int h) {
    std::vector<uint8_t> g(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double r = std::sqrt((x - w * 0.4) * (x - w * 0.4) + (y - h * 0.6) * (y - h * 0.6));
            g[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(128 + 90 * std::cos(r * 2 * M_PI / 9));
        }
    return g;
}

// The raw bytes a sensor of `product` sends for a grey image (flat = uniform).
std::vector<uint8_t> rawImage(uint16_t product, bool flat) {
    const capture::SensorFormat *f = capture::findSensorFormat(product);
    static capture::DecodedCapture image;
    std::memset(&image, 0, sizeof image);
    image.productId = product;
    image.width = f->width;
    image.height = f->height;
    image.sixteenBit = f->sixteenBitImage;
    const auto g = ridges(f->width, f->height);
    for (size_t i = 0; i < g.size(); ++i) {
        const uint8_t v = flat ? 140 : g[i];
        if (image.sixteenBit)
            image.pixels16[i] = static_cast<uint16_t>(50 + v * 2);
        else
            image.pixels8[i] = v;
    }
    std::vector<uint8_t> raw(f->rawLength);
    EXPECT_EQ(capture::encodeCapture(image, raw.data(), raw.size()), f->rawLength);
    return raw;
}

int32_t devTypeOf(uint16_t product) {
    for (const DeviceModel &m : m_vp)
        if (m.productId == product) return m.devType;
    return 0;
}

struct TemplateCreation : ::testing::Test {
    uint8_t templ[QV_TEMPLATE_SIZE];
    int32_t info[QV_INFO_WORDS];
    void SetUp() override {
        m_enrol_stage = 1;
        std::memset(info, 0x11, sizeof info);
    }
};

TEST_F(TemplateCreation, EveryModelGivesATemplate) {
    for (uint16_t product : {capture::kProduct12Bit, capture::kProductSplitRows, capture::kProductPlain}) {
        m_devType = devTypeOf(product);
        auto raw = rawImage(product, false);
        EXPECT_EQ(CreateFingerPrintMinutiae(raw.data(), templ, info), 1) << std::hex << product;
        EXPECT_EQ(IMAGE_WIDTH_SRC, capture::findSensorFormat(product)->width);
        EXPECT_GT(info[0], 0);
        EXPECT_EQ(info[9], 0);                                     // no options
    }
}

TEST_F(TemplateCreation, LibraryIsInitialisedOnlyWhenTheModelChanges) {
    m_devType = devTypeOf(capture::kProductPlain);
    auto raw = rawImage(capture::kProductPlain, false);
    ASSERT_EQ(CreateFingerPrintMinutiae(raw.data(), templ, info), 1);
    IMG_DATA_WHITE = 1234;  // Init would restore it
    raw = rawImage(capture::kProductPlain, false);
    ASSERT_EQ(CreateFingerPrintMinutiae(raw.data(), templ, info), 1);
    EXPECT_EQ(IMG_DATA_WHITE, 1234);
    m_devType = devTypeOf(capture::kProductSplitRows);
    auto other = rawImage(capture::kProductSplitRows, false);
    ASSERT_EQ(CreateFingerPrintMinutiae(other.data(), templ, info), 1);
    EXPECT_EQ(IMG_DATA_WHITE, 62536);
}

TEST_F(TemplateCreation, NoContrastReinitialisesOnlyAtTheFirstStage) {
    m_devType = devTypeOf(capture::kProductPlain);
    auto raw = rawImage(capture::kProductPlain, false);
    ASSERT_EQ(CreateFingerPrintMinutiae(raw.data(), templ, info), 1);
    auto flat = rawImage(capture::kProductPlain, true);
    m_enrol_stage = 3;
    IMG_DATA_WHITE = 1234;
    EXPECT_EQ(CreateFingerPrintMinutiae(flat.data(), templ, info), -31);
    EXPECT_EQ(IMG_DATA_WHITE, 1234);
    m_enrol_stage = 1;
    EXPECT_EQ(CreateFingerPrintMinutiae(flat.data(), templ, info), -31);
    EXPECT_EQ(IMG_DATA_WHITE, 3018);
}

TEST_F(TemplateCreation, UnknownDeviceTypeCallsNothing) {
    m_devType = 7;
    auto raw = rawImage(capture::kProductPlain, false);
    EXPECT_EQ(CreateFingerPrintMinutiae(raw.data(), templ, info), 0);
    EXPECT_EQ(fpInit(), -1);
}

}  // namespace
