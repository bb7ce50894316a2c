#include "extraction/orientation_field.h"

#include <cstring>

#include "QVAlgDll.h"
#include "conditioning/edge_ops.h"
#include "core/algdef.h"
#include "core/fixedmath.h"
#include "core/variant_rules.h"
#include "extraction/average_sample.h"
#include "extraction/contrast_normalisation.h"
#include "extraction/segmentation.h"
#include "extraction/smoothing.h"

namespace {

constexpr uint8_t kFinger = 0;
constexpr uint8_t kBackground = 255;
constexpr uint8_t kNoOrientation = 255;
// Half-grid frame: gradients from cell 15 on, the finger from cell 16 on
// (full-size pixel 32, where the source image starts).
constexpr int32_t kGradientEdge = 15;
constexpr int32_t kFingerEdge = kExpandBorder / 2;
constexpr int32_t kErodeRadius = 4;
constexpr int32_t kDilateEdge = 12;
constexpr int32_t kDilateRadius1 = 3;
constexpr int32_t kDilateRadius2 = 2;
// The finger must cover at least 5 % of the source pixel count in half-grid cells.
constexpr int32_t kMinAreaPercent = 20;
// A border cell joins the finger when more than this many neighbours do.
constexpr int32_t kBorderJoinNeighbours = 2;
constexpr int32_t kEnhancedFill = 250;

struct StrengthBounds {
    int32_t low;
    int32_t high;
};

StrengthBounds strengthBounds() {
    if (g_nCurPackage == 0) return {CurrentVariantRules().strengthFloor, 370};
    if (g_nCurPackage == 1) return {120, 230};
    return {80, 370};
}

int32_t absInt(int32_t v) { return v < 0 ? -v : v; }

struct HalfGrid {
    int32_t w;
    int32_t h;
    const uint8_t *image;
    uint8_t *mask;
    int32_t *p0;  // gx * gy
    int32_t *p1;  // (gx * gx - gy * gy) / 2
};

// Sobel gradients of the half image at (y, x). The first and last rows and
// columns of the gradient loop use one-sided stencils; a cell in the first or
// last row takes only the row rule.
void gradients(const HalfGrid &g, int32_t y, int32_t x, int32_t *gx, int32_t *gy) {
    const int32_t firstRow = kGradientEdge, lastRow = g.h - kGradientEdge - 1;
    const int32_t firstColumn = kGradientEdge, lastColumn = g.w - kGradientEdge - 1;
    int32_t ym = y - 1, yp = y + 1;
    int32_t xm = x - 1, xc = x, xp = x + 1;
    if (y == firstRow) {
        ym = y;
        yp = y + 2;
    } else if (y == lastRow) {
        ym = y - 2;
        yp = y;
    } else if (x == firstColumn) {
        xm = x;
        xc = x + 1;
        xp = x + 2;
    } else if (x == lastColumn) {
        xm = x - 2;
        xc = x - 1;
        xp = x;
    }
    const uint8_t *up = g.image + ym * g.w;
    const uint8_t *mid = g.image + y * g.w;
    const uint8_t *down = g.image + yp * g.w;
    *gx = (down[xp] - down[xm]) + 2 * (mid[xp] - mid[xm]) + (up[xp] - up[xm]);
    *gy = (down[xm] - up[xm]) + 2 * (down[xc] - up[xc]) + (down[xp] - up[xp]);
}

void storeProducts(const HalfGrid &g, int32_t i, int32_t gx, int32_t gy) {
    g.p0[i] = gx * gy;
    g.p1[i] = (gx * gx - gy * gy) >> 1;
}

// Gradient products of every cell, and the first finger decision from the
// gradient strength.
void estimateGradients(const HalfGrid &g, StrengthBounds bounds) {
    for (int32_t y = kGradientEdge; y < g.h - kGradientEdge; ++y)
        for (int32_t x = kGradientEdge; x < g.w - kGradientEdge; ++x) {
            int32_t gx, gy;
            gradients(g, y, x, &gx, &gy);
            const int32_t i = y * g.w + x;
            storeProducts(g, i, gx, gy);
            const int32_t strength = absInt(gx) + absInt(gy);
            const bool inside =
                y >= kFingerEdge && y <= g.h - kFingerEdge && x >= kFingerEdge && x <= g.w - kFingerEdge;
            g.mask[i] = (inside && strength >= bounds.low && strength <= bounds.high) ? kFinger : kBackground;
        }
}

// Gradient products again on a new half image, only where the mask is finger.
void reestimateGradients(const HalfGrid &g) {
    for (int32_t y = kGradientEdge; y < g.h - kGradientEdge; ++y)
        for (int32_t x = kGradientEdge; x < g.w - kGradientEdge; ++x) {
            const int32_t i = y * g.w + x;
            if (g.mask[i] != kFinger) continue;
            int32_t gx, gy;
            gradients(g, y, x, &gx, &gy);
            storeProducts(g, i, gx, gy);
        }
}

// Drops the products of background cells and counts the finger cells.
int32_t keepFingerProducts(const HalfGrid &g) {
    int32_t count = 0;
    for (int32_t y = 1; y < g.h - 1; ++y)
        for (int32_t x = 1; x < g.w - 1; ++x) {
            const int32_t i = y * g.w + x;
            if (g.mask[i] != kFinger) {
                g.p0[i] = 0;
                g.p1[i] = 0;
            } else {
                ++count;
            }
        }
    return count;
}

void joinBorderCell(uint8_t *mask, int32_t w, int32_t y, int32_t x) {
    static constexpr int8_t kDy[8] = {1, 1, 1, 0, -1, -1, -1, 0};
    static constexpr int8_t kDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
    int32_t n = 0;
    for (int32_t k = 0; k < 8; ++k) {
        if (mask[(y + kDy[k]) * w + x + kDx[k]] < kBackground && ++n > kBorderJoinNeighbours) {
            mask[y * w + x] = kFinger;
            return;
        }
    }
}

// The three outermost finger rows and columns of the half grid join the
// finger where their neighbours do; the order matters as each test sees the
// cells changed before it.
void completeBorder(uint8_t *mask, int32_t w, int32_t h) {
    const int32_t e = kFingerEdge;
    for (int32_t y = e; y <= h - e - 1; ++y) {
        const int32_t columns[6] = {e + 2, e + 1, e, w - e - 3, w - e - 2, w - e - 1};
        for (int32_t x : columns) joinBorderCell(mask, w, y, x);
    }
    for (int32_t x = e; x <= w - e - 1; ++x) {
        const int32_t rows[6] = {e + 2, e + 1, e, h - e - 3, h - e - 2, h - e - 1};
        for (int32_t y : rows) joinBorderCell(mask, w, y, x);
    }
}

// Contrast-enhanced image for the re-estimation: replaces `input` and
// `smoothed` with it and rebuilds the half image. The mask plane is cropped to
// the source half size for the enhancement and restored afterwards.
void enhanceForReestimation(uint8_t *input, uint8_t *smoothed, uint8_t *scratchImage, const HalfGrid &g, int32_t w,
                            int32_t h, uint8_t *halfImage) {
    int32_t mw = g.w, mh = g.h;
    vwn_CropEdge(g.mask, &mw, &mh, kFingerEdge, kFingerEdge);
    int32_t w0 = w - 2 * kExpandBorder, h0 = h - 2 * kExpandBorder;
    std::memcpy(scratchImage, input, static_cast<size_t>(w0 * h0));
    avergeSample(scratchImage, w0, h0, smoothed, 2);
    ContrastEnhance(input, scratchImage, g.mask, w0, h0);
    std::memcpy(smoothed, input, static_cast<size_t>(w0 * h0));
    vwn_ExpandEdge(smoothed, &w0, &h0, kExpandBorder, kEnhancedFill);
    vwn_ExpandEdge(g.mask, &mw, &mh, kFingerEdge, kBackground);
    int32_t hw, hh;
    zoomout2(smoothed, w, h, halfImage, &hw, &hh, 2);
}

// Window sums of the gradient products over (2r + 1)^2 cells: column sums
// slid down the rows (p2, p3), then a running sum along each row. Writes the
// orientation of every finger cell into its four full-size pixels.
void orientationsFromWindowSums(const HalfGrid &g, int32_t *p2, int32_t *p3, int32_t r, uint8_t *orient, uint8_t *mask,
                                int32_t w) {
    const int32_t e = kFingerEdge;
    const int32_t x0 = e - r, x1 = g.w - e - 1 + r;
    for (int32_t x = x0; x <= x1; ++x) {
        int32_t s2 = 0, s3 = 0;
        for (int32_t d = -r; d <= r; ++d) {
            s2 += g.p0[(e + d) * g.w + x];
            s3 += g.p1[(e + d) * g.w + x];
        }
        p2[e * g.w + x] = s2;
        p3[e * g.w + x] = s3;
    }
    for (int32_t y = e + 1; y < g.h - e; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const int32_t i = y * g.w + x;
            p2[i] = p2[i - g.w] + g.p0[i + r * g.w] - g.p0[i - (r + 1) * g.w];
            p3[i] = p3[i - g.w] + g.p1[i + r * g.w] - g.p1[i - (r + 1) * g.w];
        }

    for (int32_t y = e; y < g.h - e; ++y) {
        const int32_t *row2 = p2 + y * g.w;
        const int32_t *row3 = p3 + y * g.w;
        int32_t sxy = 0, sd = 0;
        for (int32_t d = -r; d <= r; ++d) {
            sxy += row2[e + d];
            sd += row3[e + d];
        }
        for (int32_t x = e; x < g.w - e; ++x) {
            if (x > e) {
                sxy += row2[x + r] - row2[x - r - 1];
                sd += row3[x + r] - row3[x - r - 1];
            }
            if (g.mask[y * g.w + x] == kBackground) continue;
            const int32_t t = atan_256(sd, sxy);
            int32_t a = (t >> 1) - 135;
            if (a < 1) a += 180;
            const auto o = static_cast<uint8_t>(180 - a);
            uint8_t *po = orient + 2 * y * w + 2 * x;
            uint8_t *pm = mask + 2 * y * w + 2 * x;
            po[0] = po[1] = po[w] = po[w + 1] = o;
            pm[0] = pm[1] = pm[w] = pm[w + 1] = kFinger;
        }
    }
}

}  // namespace

int32_t vwn_getOrientMap22(uint8_t *input, uint8_t *smoothed, uint8_t *bytes, int32_t w, int32_t h, uint8_t *orient,
                           uint8_t *mask, int32_t *words, int32_t r) {
    const int32_t w2 = w / 2, h2 = h / 2, cells = w2 * h2;
    uint8_t *halfImage = bytes;
    uint8_t *halfMask = bytes + cells;
    uint8_t *halfScratch = bytes + 2 * cells;
    const size_t wordBytes = sizeof(int32_t) * static_cast<size_t>(kOrientWordPlanes * cells);
    HalfGrid g{w2, h2, halfImage, halfMask, words, words + cells};
    int32_t *p2 = words + 2 * cells;
    int32_t *p3 = words + 3 * cells;

    std::memset(halfImage, 0, static_cast<size_t>(cells));
    int32_t hw, hh;
    zoomout2(smoothed, w, h, halfImage, &hw, &hh, 2);
    std::memset(words, 0, wordBytes);
    std::memset(halfMask, kBackground, static_cast<size_t>(cells));

    estimateGradients(g, strengthBounds());

    if (vwn_ImageErode3(halfMask, halfScratch, w2, h2, kErodeRadius, kGradientEdge, h2 - kGradientEdge, kGradientEdge,
                        w2 - kGradientEdge) == 0)
        return 0;
    if (vwn_ImageDilate3(halfMask, halfScratch, w2, h2, kDilateRadius1, kDilateEdge, h2 - kDilateEdge, kDilateEdge,
                         w2 - kDilateEdge) == 0)
        return 0;
    if (vwn_ImageDilate3(halfMask, halfScratch, w2, h2, kDilateRadius2, kDilateEdge, h2 - kDilateEdge, kDilateEdge,
                         w2 - kDilateEdge) == 0)
        return 0;

    const int32_t fingerCells = keepFingerProducts(g);
    if (fingerCells * 100 < (IMAGE_WIDTH_SRC * IMAGE_HEIGHT_SRC * kMinAreaPercent) / 4) return 0;

    completeBorder(halfMask, w2, h2);

    if (CurrentVariantRules().enhancedOrientation) {
        // The orientation map serves as scratch until the output is written.
        enhanceForReestimation(input, smoothed, orient, g, w, h, halfImage);
        std::memset(words, 0, wordBytes);
        reestimateGradients(g);
    }

    std::memset(orient, kNoOrientation, static_cast<size_t>(w * h));
    std::memset(mask, kBackground, static_cast<size_t>(w * h));
    orientationsFromWindowSums(g, p2, p3, r, orient, mask, w);
    return 1;
}
