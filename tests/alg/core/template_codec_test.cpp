// Template codec: byte layout, lengths, round trips and every refusal.
#include "core/template_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "QVAlgDll.h"
#include "core/featureset.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Mask {
    int32_t width = 0;
    int32_t height = 0;
    Bytes cells;
};

class TemplateCodec : public ::testing::Test {
  protected:
    std::unique_ptr<FeatureSet> set = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureSet> decoded = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureMask> decodedMask = std::make_unique<FeatureMask>();
    FeatureSlot slot{decoded.get(), decodedMask.get()};

    void SetUp() override {
        std::memset(set.get(), 0, sizeof *set);
        std::memset(decoded.get(), 0, sizeof *decoded);
        std::memset(decodedMask.get(), 0, sizeof *decodedMask);
    }

    // The template of *set and mask, cut to its length.
    Bytes encode(const Mask &mask) const {
        Bytes out(QV_TEMPLATE_SIZE, 0);
        EXPECT_EQ(EncodeTemplate(set.get(), mask.cells.data(), mask.width, mask.height, out.data(), QV_TEMPLATE_SIZE),
                  kCodecOk);
        const int64_t length = TemplateLength(FeaturePointCount(*set), mask.width, mask.height);
        out.resize(static_cast<size_t>(length));
        return out;
    }

    int32_t decode(const Bytes &templ) {
        return DecodeTemplate(templ.data(), static_cast<int32_t>(templ.size()), &slot);
    }
};

Mask makeMask(int32_t width, int32_t height, uint32_t seed) {
    Mask m{width, height, Bytes(static_cast<size_t>(width * height))};
    for (auto &c : m.cells) {
        seed = seed * 1103515245u + 12345u;
        c = (seed >> 16) % 3 == 0 ? kMaskBackground : kMaskFinger;
    }
    return m;
}

// A set whose fields use their whole stored ranges, deterministically.
void fillSet(FeatureSet &s, uint32_t minutiae, uint32_t knees, uint32_t valleyKnees, uint32_t seed) {
    std::memset(&s, 0, sizeof s);
    s.minutiaCount = minutiae;
    s.kneeCount = knees;
    s.valleyKneeCount = valleyKnees;
    s.dryWet = 0x1A7;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    for (uint32_t i = 0; i < minutiae + knees + valleyKnees; ++i) {
        Minutia &p = s.points[i];
        p.x = next(1024);
        p.y = next(1024);
        p.angle = next(360);
        p.edgeFlag = static_cast<uint8_t>(next(2));
        p.hitCount = static_cast<uint8_t>(next(8));
        p.mergeCount = static_cast<uint8_t>(next(8));
        p.weakFlag = static_cast<uint8_t>(next(2));
        p.type = i < minutiae ? 1 + next(2) : 0;
        p.coverage = next(56);
        for (auto &d : p.descriptor) d = static_cast<int16_t>(static_cast<int32_t>(next(256)) - 128);
    }
}

// ---- Lengths and layout -------------------------------------------------------

TEST_F(TemplateCodec, EmptySetLengthsCountBitmapAndTailByte) {
    // 324 cells: 41 bitmap bytes (4 padding bits) and a tail byte.
    EXPECT_EQ(TemplateLength(0, 18, 18), 58);
    EXPECT_EQ(encode(Mask{18, 18, Bytes(324, 0)}).size(), 58u);
    // 256 cells: 32 bitmap bytes, no tail byte.
    EXPECT_EQ(TemplateLength(0, 16, 16), 48);
    EXPECT_EQ(TemplateLength(3, 16, 16), 48 + 93);
    EXPECT_EQ(TemplateLength(0, -1, 16), -1);
}

TEST_F(TemplateCodec, TooSmallBufferIsRefusedAndLeftUntouched) {
    const Mask mask{18, 18, Bytes(324, kMaskBackground)};
    Bytes out(58, 0xAA);
    EXPECT_EQ(EncodeTemplate(set.get(), mask.cells.data(), 18, 18, out.data(), 57), kCodecRefused);
    EXPECT_EQ(out, Bytes(58, 0xAA));
    EXPECT_EQ(EncodeTemplate(set.get(), mask.cells.data(), 18, 18, out.data(), 58), kCodecOk);
    EXPECT_EQ(out[57], 0xF0);  // tail: the last 4 cells, background
}

TEST_F(TemplateCodec, HeaderIsBigEndianAndCarriesTheVersionCode) {
    fillSet(*set, 7, 258, 3, 1);
    set->dryWet = 0x1FE;
    const Bytes t = encode(makeMask(300, 2, 5));
    EXPECT_EQ(t[0], 1);
    EXPECT_EQ(t[1], 0x01);
    EXPECT_EQ(t[2], 0x2C);  // width 300
    EXPECT_EQ(t[3], 0x00);
    EXPECT_EQ(t[4], 0x02);  // height 2
    EXPECT_EQ(0, std::memcmp(&t[5], g_cAlgVerNoKey, 5));
    EXPECT_EQ(t[10], 0xFE);  // dryWet, low byte only
    EXPECT_EQ(t[11], 0x00);
    EXPECT_EQ(t[12], 0x03);  // valley knee count
    EXPECT_EQ(t[13], 0x01);
    EXPECT_EQ(t[14], 0x02);  // ridge knee count 258
    EXPECT_EQ(t[15], 7);
    EXPECT_EQ(t.size(), 16u + 31u * 268u + 75u);  // 600 cells: 75 bytes, no tail
}

TEST_F(TemplateCodec, MinutiaRecordPacksEveryField) {
    set->minutiaCount = 1;
    Minutia &p = set->points[0];
    p.x = 100;
    p.y = 50;
    p.angle = 90;
    p.type = 2;
    p.edgeFlag = 1;
    p.hitCount = 2;
    p.mergeCount = 1;
    p.pairState = 3;  // working state, never stored
    p.coverage = 55;
    p.weakFlag = 1;
    p.descriptor[0] = -128;
    p.descriptor[1] = 127;
    p.descriptor[2] = -1;
    p.descriptor[23] = 5;
    const Bytes t = encode(Mask{16, 16, Bytes(256, 0)});
    const Bytes record(t.begin() + 16, t.begin() + 47);
    const Bytes expected = {0x19, 0x03, 0x22, 0xD4, 0x29, 55,  1,   0,   255, 127, 128, 128, 128, 128, 128, 128,
                            128,  128,  128,  128,  128,  128, 128, 128, 128, 128, 128, 128, 128, 128, 133};
    EXPECT_EQ(record, expected);

    p.type = 1;
    EXPECT_EQ(encode(Mask{16, 16, Bytes(256, 0)})[19], 0xD0);  // kind 1 leaves bit 2 clear
}

TEST_F(TemplateCodec, KneeRecordsFollowInOrderWithoutKindBit) {
    fillSet(*set, 1, 2, 1, 7);
    for (uint32_t i = 0; i < 4; ++i) {
        set->points[i].x = 10 + i;
        set->points[i].type = 2;  // a knee keeps the detector's value here
    }
    set->points[2].type = 155;
    const Bytes t = encode(Mask{16, 16, Bytes(256, 0)});
    for (uint32_t i = 0; i < 4; ++i) {
        const uint8_t *rec = &t[16 + 31 * i];
        EXPECT_EQ(rec[0] << 2 | rec[1] >> 6, static_cast<int>(10 + i)) << "record " << i;
        EXPECT_EQ((rec[3] >> 2) & 1, i == 0 ? 1 : 0) << "record " << i;
        EXPECT_EQ(rec[3] & 3, 0);
    }
}

TEST_F(TemplateCodec, MaskBitmapIsMsbFirstWithPaddingAndTail) {
    // Nine cells: one full group and one partial group of a single cell. Any
    // non-zero cell counts as background.
    const Mask mask{3, 3, {255, 0, 0, 0, 0, 0, 0, 1, 255}};
    const Bytes t = encode(mask);
    ASSERT_EQ(t.size(), 19u);
    EXPECT_EQ(t[16], 0x81);
    EXPECT_EQ(t[17], 0x80);  // last bitmap byte, 7 padding bits written as 0
    EXPECT_EQ(t[18], 0x80);  // tail byte

    const Mask full{4, 2, {0, 255, 0, 255, 255, 255, 0, 0}};
    const Bytes u = encode(full);
    ASSERT_EQ(u.size(), 17u);  // a whole group: no tail byte
    EXPECT_EQ(u[16], 0x5C);
}

TEST_F(TemplateCodec, SmallTemplateMatchesItsBytesExactly) {
    // One minutia of kind 1, one ridge knee point, a 3 x 3 mask: the whole
    // template, so any change of layout or byte order shows here.
    set->minutiaCount = 1;
    set->kneeCount = 1;
    set->dryWet = 42;
    set->points[0] = Minutia{1023, 0, 359, 3, 7, 7, 0, 1, 1, 255, {}};
    set->points[1] = Minutia{0, 1023, 0, 0, 1, 0, 0, 0, 160, 0, {}};
    set->points[1].descriptor[0] = 127;
    Bytes expected = {1, 0, 3, 0, 3, 0, 0, 0, 0, 0, 42, 0, 0, 0, 1, 1};
    std::memcpy(&expected[5], g_cAlgVerNoKey, 5);
    const Bytes first = {0xFF, 0xC0, 0x0B, 0x38, 0xFF, 0xFF, 0x01};
    const Bytes second = {0x00, 0x3F, 0xF0, 0x00, 0x04, 0x00, 0x00, 0xFF};
    expected.insert(expected.end(), first.begin(), first.end());
    expected.insert(expected.end(), 24, 128);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), 23, 128);
    expected.insert(expected.end(), {0x0F, 0x80, 0x80});
    EXPECT_EQ(encode(Mask{3, 3, {0, 0, 0, 0, 255, 255, 255, 255, 255}}), expected);
}

// ---- Round trips --------------------------------------------------------------

TEST_F(TemplateCodec, DecodeGivesTheSetInTheWorkingFrame) {
    fillSet(*set, 30, 40, 5, 11);
    const Mask mask = makeMask(26, 21, 3);
    ASSERT_EQ(decode(encode(mask)), 30);

    EXPECT_EQ(decoded->minutiaCount, 30u);
    EXPECT_EQ(decoded->kneeCount, 40u);
    EXPECT_EQ(decoded->valleyKneeCount, 5u);
    EXPECT_EQ(decoded->dryWet, 0xA7u);
    for (uint32_t i = 0; i < 75; ++i) {
        const Minutia &a = set->points[i];
        const Minutia &b = decoded->points[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.x, a.x + 32);
        EXPECT_EQ(b.y, a.y + 32);
        EXPECT_EQ(b.angle, a.angle);
        EXPECT_EQ(b.edgeFlag, a.edgeFlag);
        EXPECT_EQ(b.hitCount, a.hitCount);
        EXPECT_EQ(b.mergeCount, a.mergeCount);
        EXPECT_EQ(b.weakFlag, a.weakFlag);
        EXPECT_EQ(b.pairState, 0);
        EXPECT_EQ(b.type, a.type);  // knee points were written with type 0
        EXPECT_EQ(b.coverage, a.coverage);
        EXPECT_EQ(0, std::memcmp(b.descriptor, a.descriptor, sizeof a.descriptor));
    }
    const Minutia zero{};
    EXPECT_EQ(0, std::memcmp(&decoded->points[75], &zero, sizeof zero));

    ASSERT_EQ(decodedMask->width, 42u);
    ASSERT_EQ(decodedMask->height, 37u);
    for (int32_t r = 0; r < 37; ++r)
        for (int32_t c = 0; c < 42; ++c) {
            const bool inside = r >= 8 && r < 29 && c >= 8 && c < 34;
            const uint8_t want = inside ? mask.cells[(r - 8) * 26 + c - 8] : kMaskBackground;
            ASSERT_EQ(decodedMask->cells[r * 42 + c], want) << "row " << r << " column " << c;
        }
}

TEST_F(TemplateCodec, DecodeCutBackEncodeReproducesTheBytes) {
    struct Case {
        uint32_t minutiae, knees, valleyKnees;
        int32_t width, height;
    };
    // Includes a full set (255 minutiae, 800 points), a mask with a tail byte
    // and an empty mask.
    for (const Case c : {Case{12, 30, 0, 28, 22}, Case{255, 400, 145, 31, 23}, Case{0, 0, 0, 0, 0}}) {
        fillSet(*set, c.minutiae, c.knees, c.valleyKnees, c.width + 1);
        const Bytes first = encode(makeMask(c.width, c.height, 9));
        ASSERT_EQ(decode(first), static_cast<int32_t>(c.minutiae));
        int32_t width = static_cast<int32_t>(decodedMask->width);
        int32_t height = static_cast<int32_t>(decodedMask->height);
        ASSERT_EQ(CutBackFeatures(decoded.get(), decodedMask->cells, width, height), kCodecOk);
        Bytes second(QV_TEMPLATE_SIZE, 0);
        ASSERT_EQ(EncodeTemplate(decoded.get(), decodedMask->cells, width, height, second.data(), QV_TEMPLATE_SIZE),
                  kCodecOk);
        second.resize(first.size());
        EXPECT_EQ(second, first) << c.minutiae << " minutiae, mask " << c.width << " x " << c.height;
    }
}

TEST_F(TemplateCodec, BorderCoordinatesKeepTheirLowBits) {
    set->minutiaCount = 1;
    set->points[0] = Minutia{0u - 3u, 1000, 359, 0, 1, 0, 0, 0, 1, 55, {}};  // x = -3 after cut-back
    const Bytes t = encode(Mask{16, 16, Bytes(256, 0)});
    EXPECT_EQ((t[16] << 2) | (t[17] >> 6), 1021);
    ASSERT_EQ(decode(t), 1);
    EXPECT_EQ(decoded->points[0].x, 1021u + 32u);
    EXPECT_EQ(decoded->points[0].y, 1032u);
    EXPECT_EQ(decoded->points[0].angle, 359u);
}

TEST_F(TemplateCodec, PartialGroupIsReadFromTheTailByte) {
    // 3 x 3 cells: the ninth cell lies in a partial group. Its bit in the last
    // bitmap byte carries no meaning; the tail byte decides.
    Bytes t = encode(Mask{3, 3, Bytes(9, 0)});
    ASSERT_EQ(t.size(), 19u);
    t[17] = 0xFF;
    t[18] = 0x00;
    ASSERT_EQ(decode(t), 0);
    EXPECT_EQ(decodedMask->cells[10 * 19 + 10], kMaskFinger);
    t[17] = 0x00;
    t[18] = 0xFF;
    ASSERT_EQ(decode(t), 0);
    EXPECT_EQ(decodedMask->cells[10 * 19 + 10], kMaskBackground);
    EXPECT_EQ(decodedMask->cells[10 * 19 + 9], kMaskFinger);
}

// ---- Decoder refusals ----------------------------------------------------------

// A template declaring the given counts and mask, zero-filled behind the
// header, with room for the clamped counts.
Bytes rawTemplate(uint32_t minutiae, uint32_t knees, uint32_t valleyKnees, uint32_t width, uint32_t height,
                  size_t length) {
    Bytes t(length, 0);
    t[0] = 1;
    t[1] = static_cast<uint8_t>(width >> 8);
    t[2] = static_cast<uint8_t>(width);
    t[3] = static_cast<uint8_t>(height >> 8);
    t[4] = static_cast<uint8_t>(height);
    std::memcpy(&t[5], g_cAlgVerNoKey, 5);
    t[11] = static_cast<uint8_t>(valleyKnees >> 8);
    t[12] = static_cast<uint8_t>(valleyKnees);
    t[13] = static_cast<uint8_t>(knees >> 8);
    t[14] = static_cast<uint8_t>(knees);
    t[15] = static_cast<uint8_t>(minutiae);
    return t;
}

TEST_F(TemplateCodec, RefusalLeavesTheSlotUntouched) {
    fillSet(*set, 5, 5, 0, 2);
    const Bytes good = encode(makeMask(20, 20, 1));
    for (int32_t i = 5; i < 10; ++i) {
        Bytes t = good;
        t[static_cast<size_t>(i)] ^= 0x01;
        decoded->minutiaCount = 77;
        decodedMask->width = 99;
        EXPECT_EQ(decode(t), -1) << "version byte " << i;
        EXPECT_EQ(decoded->minutiaCount, 77u);
        EXPECT_EQ(decodedMask->width, 99u);
    }
    EXPECT_EQ(decode(good), 5);
}

TEST_F(TemplateCodec, OversizedCountsGiveWayInTheRidgeKneeCount) {
    // 200 + 700 points: the ridge knee count becomes 600, and only 800 records
    // need to fit.
    const size_t length = 16 + 31 * 800 + 32;
    Bytes t = rawTemplate(200, 700, 0, 16, 16, length);
    ASSERT_EQ(decode(t), 200);
    EXPECT_EQ(decoded->kneeCount, 600u);
    EXPECT_EQ(decoded->valleyKneeCount, 0u);
    t.pop_back();
    EXPECT_EQ(decode(t), -1);
}

TEST_F(TemplateCodec, ValleyKneeCountThatLeavesNoRoomIsRefused) {
    const size_t length = 16 + 31 * 800 + 32;
    EXPECT_EQ(decode(rawTemplate(10, 0, 791, 16, 16, length)), -1);
    EXPECT_EQ(decode(rawTemplate(255, 0, 546, 16, 16, length)), -1);
    EXPECT_EQ(decode(rawTemplate(10, 0xFFFF, 0xFFFF, 16, 16, length)), -1);
    // 790 valley knee points still leave room for the 10 minutiae; the ridge
    // knee points give way entirely.
    ASSERT_EQ(decode(rawTemplate(10, 5, 790, 16, 16, length)), 10);
    EXPECT_EQ(decoded->kneeCount, 0u);
    EXPECT_EQ(decoded->valleyKneeCount, 790u);
}

TEST_F(TemplateCodec, DeclaredLengthMustFitTheInputCountingTheTailByte) {
    const Bytes withTail = encode(Mask{18, 18, Bytes(324, 0)});
    ASSERT_EQ(withTail.size(), 58u);
    EXPECT_EQ(DecodeTemplate(withTail.data(), 58, &slot), 0);
    EXPECT_EQ(DecodeTemplate(withTail.data(), 57, &slot), -1);
    fillSet(*set, 3, 1, 0, 4);
    const Bytes noTail = encode(Mask{16, 16, Bytes(256, 0)});
    ASSERT_EQ(noTail.size(), 48u + 4 * 31);
    EXPECT_EQ(DecodeTemplate(noTail.data(), 172, &slot), 3);
    EXPECT_EQ(DecodeTemplate(noTail.data(), 171, &slot), -1);
    EXPECT_EQ(DecodeTemplate(noTail.data(), 15, &slot), -1);  // not even a header
    EXPECT_EQ(DecodeTemplate(noTail.data(), -5, &slot), -1);
}

TEST_F(TemplateCodec, MaskWithBorderMustFitTheMaskCapacity) {
    // (208 + 16)^2 = 50176 cells exactly.
    Bytes t = rawTemplate(0, 0, 0, 208, 208, 16 + 208 * 208 / 8);
    ASSERT_EQ(decode(t), 0);
    EXPECT_EQ(decodedMask->width, 224u);
    EXPECT_EQ(decodedMask->height, 224u);
    EXPECT_EQ(decode(rawTemplate(0, 0, 0, 209, 208, 16 + 209 * 208 / 8)), -1);
    EXPECT_EQ(decode(rawTemplate(0, 0, 0, 65535, 1, 16 + 65535 / 8 + 2)), -1);
    // An empty mask becomes the border alone.
    ASSERT_EQ(decode(rawTemplate(0, 0, 0, 0, 0, 16)), 0);
    EXPECT_EQ(decodedMask->width, 16u);
    EXPECT_EQ(decodedMask->cells[0], kMaskBackground);
    EXPECT_EQ(decodedMask->cells[255], kMaskBackground);
}

TEST_F(TemplateCodec, AnglesBeyondAFullTurnAreRefused) {
    Bytes t = rawTemplate(1, 1, 0, 16, 16, 16 + 62 + 32);
    t[16 + 31 + 2] = 0x0B;  // knee angle 359
    t[16 + 31 + 3] = 0x38;
    ASSERT_EQ(decode(t), 1);
    EXPECT_EQ(decoded->points[1].angle, 359u);
    t[16 + 31 + 3] = 0x40;  // 360
    EXPECT_EQ(decode(t), -1);

    set->minutiaCount = 1;
    set->points[0].angle = 360;
    Bytes out(100, 0);
    EXPECT_EQ(EncodeTemplate(set.get(), nullptr, 0, 0, out.data(), 100), kCodecRefused);
}

TEST_F(TemplateCodec, MissingBuffersAreRefused) {
    const Bytes t = encode(Mask{0, 0, {}});
    EXPECT_EQ(DecodeTemplate(nullptr, 16, &slot), -1);
    EXPECT_EQ(DecodeTemplate(t.data(), 16, nullptr), -1);
    FeatureSlot noMask{decoded.get(), nullptr};
    EXPECT_EQ(DecodeTemplate(t.data(), 16, &noMask), -1);
    Bytes out(64, 0);
    EXPECT_EQ(EncodeTemplate(nullptr, nullptr, 0, 0, out.data(), 64), kCodecRefused);
    EXPECT_EQ(EncodeTemplate(set.get(), nullptr, 4, 4, out.data(), 64), kCodecRefused);
    EXPECT_EQ(EncodeTemplate(set.get(), nullptr, 0, 0, nullptr, 64), kCodecRefused);
}

// ---- Encoder refusals ---------------------------------------------------------

TEST_F(TemplateCodec, SetsTheFormatCannotHoldAreRefused) {
    Bytes out(QV_TEMPLATE_SIZE, 0xAA);
    const Mask mask{16, 16, Bytes(256, 0)};
    auto encodeInto = [&](int32_t width, int32_t height) {
        return EncodeTemplate(set.get(), mask.cells.data(), width, height, out.data(), QV_TEMPLATE_SIZE);
    };
    fillSet(*set, 256, 0, 0, 1);  // the count byte holds 255
    EXPECT_EQ(encodeInto(16, 16), kCodecRefused);
    fillSet(*set, 255, 545, 0, 1);
    set->valleyKneeCount = 1;  // 801 points
    EXPECT_EQ(encodeInto(16, 16), kCodecRefused);
    set->kneeCount = 0xFFFFFFFF;  // the sum must not wrap round
    EXPECT_EQ(encodeInto(16, 16), kCodecRefused);
    fillSet(*set, 255, 545, 0, 1);
    EXPECT_EQ(encodeInto(-1, 16), kCodecRefused);
    EXPECT_EQ(encodeInto(16, -1), kCodecRefused);
    EXPECT_EQ(encodeInto(65536, 0), kCodecRefused);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xAA));
    EXPECT_EQ(encodeInto(16, 16), kCodecOk);  // 16 + 24800 + 32 bytes fit
}

// ---- Frame moves ---------------------------------------------------------------

TEST_F(TemplateCodec, ExtendMovesEveryCellInPlace) {
    // Distinct values show any misplaced cell; stale bytes behind the old cells
    // must end up as border.
    const int32_t w = 5, h = 3;
    std::memset(decodedMask->cells, 0x55, 2000);
    for (int32_t i = 0; i < w * h; ++i) decodedMask->cells[i] = static_cast<uint8_t>(i + 1);
    decodedMask->width = w;
    decodedMask->height = h;
    decoded->minutiaCount = 1;
    decoded->kneeCount = 1;
    decoded->valleyKneeCount = 1;
    decoded->points[2].x = 7;
    ASSERT_EQ(ExtendFeatures(&slot), kCodecOk);
    EXPECT_EQ(decoded->points[0].x, 32u);
    EXPECT_EQ(decoded->points[2].x, 39u);
    EXPECT_EQ(decoded->points[3].x, 0u);  // past the counts: not moved
    ASSERT_EQ(decodedMask->width, 21u);
    ASSERT_EQ(decodedMask->height, 19u);
    for (int32_t r = 0; r < 19; ++r)
        for (int32_t c = 0; c < 21; ++c) {
            const bool inside = r >= 8 && r < 8 + h && c >= 8 && c < 8 + w;
            const uint8_t want = inside ? static_cast<uint8_t>((r - 8) * w + (c - 8) + 1) : kMaskBackground;
            ASSERT_EQ(decodedMask->cells[r * 21 + c], want) << "row " << r << " column " << c;
        }
}

TEST_F(TemplateCodec, CutBackUndoesExtend) {
    fillSet(*decoded, 3, 2, 1, 8);
    const FeatureSet before = *decoded;
    const Mask mask = makeMask(7, 4, 12);
    std::memcpy(decodedMask->cells, mask.cells.data(), mask.cells.size());
    decodedMask->width = 7;
    decodedMask->height = 4;
    ASSERT_EQ(ExtendFeatures(&slot), kCodecOk);
    int32_t width = static_cast<int32_t>(decodedMask->width);
    int32_t height = static_cast<int32_t>(decodedMask->height);
    ASSERT_EQ(CutBackFeatures(decoded.get(), decodedMask->cells, width, height), kCodecOk);
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 4);
    EXPECT_EQ(Bytes(decodedMask->cells, decodedMask->cells + 28), mask.cells);
    EXPECT_EQ(0, std::memcmp(&before, decoded.get(), sizeof before));
}

TEST_F(TemplateCodec, FrameMovesRefuseMasksThatDoNotFit) {
    decodedMask->width = 209;
    decodedMask->height = 208;
    decoded->minutiaCount = 1;
    EXPECT_EQ(ExtendFeatures(&slot), kCodecRefused);
    EXPECT_EQ(decoded->points[0].x, 0u);
    decodedMask->width = 0xFFFFFFFF;  // the grown size must not wrap round
    decodedMask->height = 0xFFFFFFFF;
    EXPECT_EQ(ExtendFeatures(&slot), kCodecRefused);

    int32_t width = 15, height = 40;
    decodedMask->cells[0] = 9;
    EXPECT_EQ(CutBackFeatures(decoded.get(), decodedMask->cells, width, height), kCodecRefused);
    EXPECT_EQ(width, 15);
    EXPECT_EQ(decodedMask->cells[0], 9);
    EXPECT_EQ(decoded->points[0].x, 0u);
    width = 16;
    height = 16;
    EXPECT_EQ(CutBackFeatures(decoded.get(), decodedMask->cells, width, height), kCodecOk);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(decoded->points[0].x, 0u - 32u);
}

}  // namespace
