#include "extraction/segmentation.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/disc.h"

namespace {

constexpr uint8_t kFinger = 0;
constexpr uint8_t kBackground = 255;
constexpr int32_t kCell = 4;
// A cell is background from 9 of its 16 pixels on: its sum exceeds 9 x 255 - 1.
constexpr int32_t kCellBackgroundSum = 2294;
// The only radius at which the erosion checks the finger position.
constexpr int32_t kPositionCheckRadius = 6;
constexpr uint8_t kBoundaryMark = 1;

bool rowHasFinger(const uint8_t *mask, int32_t w, int32_t y, int32_t x0, int32_t x1) {
    for (int32_t x = x0; x < x1; ++x)
        if (mask[y * w + x] == kFinger) return true;
    return false;
}

bool columnHasFinger(const uint8_t *mask, int32_t w, int32_t x, int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y)
        if (mask[y * w + x] == kFinger) return true;
    return false;
}

}  // namespace

void segment_clearEdge(const uint8_t *mask, uint8_t *orient, uint8_t *image, int32_t w, int32_t h) {
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; ++i)
        if (mask[i] == kBackground) {
            orient[i] = 255;
            image[i] = 255;
        }
}

void CompressGndImg(uint8_t *mask, int32_t *w, int32_t *h) {
    const int32_t width = *w;
    const int32_t cw = width / kCell;
    const int32_t ch = *h / kCell;
    // Cell k is written at index k, never ahead of the pixels still to be read.
    for (int32_t cy = 0; cy < ch; ++cy)
        for (int32_t cx = 0; cx < cw; ++cx) {
            int32_t sum = 0;
            for (int32_t dy = 0; dy < kCell; ++dy)
                for (int32_t dx = 0; dx < kCell; ++dx) sum += mask[(cy * kCell + dy) * width + cx * kCell + dx];
            mask[cy * cw + cx] = sum > kCellBackgroundSum ? kBackground : kFinger;
        }
    *w = cw;
    *h = ch;
}

int32_t gegSegImg(const uint8_t *image, const uint8_t *mask, int32_t w, int32_t h, uint8_t *block, int32_t x0,
                  int32_t y0, int16_t bw, int16_t bh) {
    if (bw > 0 && bh > 0) std::memset(block, 255, static_cast<size_t>(bw * bh));
    const int32_t y1 = y0 + bh < h ? y0 + bh : h;
    const int32_t x1 = x0 + bw < w ? x0 + bw : w;
    uint8_t *next = block;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            if (mask[y * w + x] < 255) *next++ = image[y * w + x];
    if (y1 <= y0 || x1 <= x0) return 0;
    return (y1 - y0) * (x1 - x0);
}

int32_t vwn_ImageErode3(uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h, int32_t r, int32_t top, int32_t bottom,
                        int32_t left, int32_t right) {
    if (r < 0 || r > kMaxDiscRadius) return 0;
    const int32_t midRow = (top + bottom) / 2;
    const int32_t midColumn = (left + right) / 2;

    int32_t boxTop = top;
    for (int32_t y = top; y < midRow; ++y)
        if (rowHasFinger(mask, w, y, left, right)) {
            boxTop = y;
            break;
        }
    int32_t boxBottom = bottom;
    for (int32_t y = bottom; y > midRow; --y)
        if (rowHasFinger(mask, w, y, left, right)) {
            boxBottom = y;
            break;
        }
    int32_t boxLeft = left;
    for (int32_t x = left; x < midColumn; ++x)
        if (columnHasFinger(mask, w, x, top, bottom)) {
            boxLeft = x;
            break;
        }
    int32_t boxRight = right;
    for (int32_t x = right; x > midColumn; --x)
        if (columnHasFinger(mask, w, x, top, bottom)) {
            boxRight = x;
            break;
        }

    if (r == kPositionCheckRadius) {
        if (boxTop > TOP_MIN_TRE) return 0;
        if (boxBottom < BOTTOM_MAX_TRE) return 0;
        if (boxBottom - boxTop < TB_MIN_TRE) return 0;
        if (boxLeft > LEFT_MIN_TRE) return 0;
        if (boxRight < RIGHT_MAX_TRE) return 0;
        if (boxRight - boxLeft < LR_MIN_TRE) return 0;
    }
    BuildDiscTable(r);

    // Boundary pixels are marked in a full-size map before any disc is painted,
    // so the growth never feeds on itself, whatever the shape of the finger.
    std::memset(scratch, 0, static_cast<size_t>(w * h));
    const int32_t y0 = boxTop > 0 ? boxTop : 0;
    const int32_t y1 = boxBottom < h - 1 ? boxBottom : h - 1;
    const int32_t x0 = boxLeft > 0 ? boxLeft : 0;
    const int32_t x1 = boxRight < w - 1 ? boxRight : w - 1;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const uint8_t *p = mask + y * w + x;
            if (*p != kFinger) continue;
            if ((y + 1 < h && p[w] > 254) || (x + 1 < w && p[1] > 254) || (y > 0 && p[-w] > 254) ||
                (x > 0 && p[-1] > 254))
                scratch[y * w + x] = kBoundaryMark;
        }

    const int32_t side = 2 * r + 1;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            if (scratch[y * w + x] != kBoundaryMark) continue;
            for (int32_t dy = -r; dy <= r; ++dy) {
                const int32_t yy = y + dy;
                if (yy < 0 || yy >= h) continue;
                for (int32_t dx = -r; dx <= r; ++dx) {
                    const int32_t xx = x + dx;
                    if (xx < 0 || xx >= w || nImageFilter[(dy + r) * side + dx + r] == 0) continue;
                    mask[yy * w + xx] = kFinger;
                }
            }
        }
    return 1;
}
