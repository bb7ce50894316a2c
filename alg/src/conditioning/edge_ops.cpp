#include "conditioning/edge_ops.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/disc.h"

namespace {

constexpr uint8_t kFinger = 0;
constexpr uint8_t kBackground = 255;

bool rowHasFinger(const uint8_t *mask, int32_t w, int32_t y, int32_t left, int32_t right) {
    for (int32_t x = left; x < right; ++x)
        if (mask[y * w + x] == kFinger) return true;
    return false;
}

bool columnHasFinger(const uint8_t *mask, int32_t w, int32_t x, int32_t top, int32_t bottom) {
    for (int32_t y = top; y < bottom; ++y)
        if (mask[y * w + x] == kFinger) return true;
    return false;
}

bool isFingerAt(const uint8_t *mask, int32_t w, int32_t h, int32_t y, int32_t x) {
    return y >= 0 && y < h && x >= 0 && x < w && mask[y * w + x] == kFinger;
}

}  // namespace

void vwn_ExpandEdge(uint8_t *image, int32_t *w, int32_t *h, int32_t b, uint8_t fill) {
    const int32_t ow = *w;
    const int32_t oh = *h;
    if (ow <= 0 || oh <= 0 || b < 0) return;
    const int32_t nw = ow + 2 * b;
    const int32_t nh = oh + 2 * b;
    // Last row first: a row's new place never lies before its old one.
    for (int32_t y = oh - 1; y >= 0; --y) {
        uint8_t *row = image + (y + b) * nw;
        std::memmove(row + b, image + y * ow, static_cast<size_t>(ow));
        std::memset(row, fill, static_cast<size_t>(b));
        std::memset(row + b + ow, fill, static_cast<size_t>(b));
    }
    std::memset(image, fill, static_cast<size_t>(b * nw));
    std::memset(image + (b + oh) * nw, fill, static_cast<size_t>(b * nw));
    *w = nw;
    *h = nh;
}

void vwn_CropEdge(uint8_t *image, int32_t *w, int32_t *h, int32_t bx, int32_t by) {
    const int32_t ow = *w;
    const int32_t nw = ow - 2 * bx;
    const int32_t nh = *h - 2 * by;
    if (bx < 0 || by < 0 || nw <= 0 || nh <= 0) return;
    for (int32_t y = 0; y < nh; ++y) std::memmove(image + y * nw, image + (y + by) * ow + bx, static_cast<size_t>(nw));
    *w = nw;
    *h = nh;
}

int32_t vwn_ImageDilate3(uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h, int32_t r, int32_t top, int32_t bottom,
                         int32_t left, int32_t right) {
    if (w <= 0 || h <= 0 || w > kMaxByteCoordImage || h > kMaxByteCoordImage) return 0;
    if (top < 0 || left < 0 || !BuildDiscTable(r)) return 0;
    if (bottom < top || right < left) return 1;  // empty window: nothing to grow
    if (bottom >= h || right >= w) return 0;

    // Box one pixel larger than the finger inside the window.
    const int32_t midRow = (top + bottom) / 2;
    const int32_t midCol = (left + right) / 2;
    int32_t boxTop = top;
    for (int32_t y = top + 1; y < midRow; ++y)
        if (rowHasFinger(mask, w, y, left, right)) {
            boxTop = y - 1;
            break;
        }
    int32_t boxBottom = bottom;
    for (int32_t y = bottom - 1; y > midRow; --y)
        if (rowHasFinger(mask, w, y, left, right)) {
            boxBottom = y + 1;
            break;
        }
    int32_t boxLeft = left;
    for (int32_t x = left + 1; x < midCol; ++x)
        if (columnHasFinger(mask, w, x, top, bottom)) {
            boxLeft = x - 1;
            break;
        }
    int32_t boxRight = right;
    for (int32_t x = right - 1; x > midCol; --x)
        if (columnHasFinger(mask, w, x, top, bottom)) {
            boxRight = x + 1;
            break;
        }

    // Boundary list: background pixels with a finger neighbour (below, right,
    // above, left), as column and row bytes.
    std::memset(scratch, 0, static_cast<size_t>(w * h));
    int32_t count = 0;
    for (int32_t y = boxTop; y <= boxBottom; ++y)
        for (int32_t x = boxLeft; x <= boxRight; ++x) {
            if (mask[y * w + x] != kBackground) continue;
            if (isFingerAt(mask, w, h, y + 1, x) || isFingerAt(mask, w, h, y, x + 1) ||
                isFingerAt(mask, w, h, y - 1, x) || isFingerAt(mask, w, h, y, x - 1)) {
                scratch[2 * count] = static_cast<uint8_t>(x);
                scratch[2 * count + 1] = static_cast<uint8_t>(y);
                ++count;
            }
        }

    const int32_t side = 2 * r + 1;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t cx = scratch[2 * k];
        const int32_t cy = scratch[2 * k + 1];
        for (int32_t dy = -r; dy <= r; ++dy) {
            const int32_t y = cy + dy;
            if (y < 0 || y >= h) continue;
            for (int32_t dx = -r; dx <= r; ++dx) {
                const int32_t x = cx + dx;
                if (x < 0 || x >= w || !nImageFilter[(dy + r) * side + dx + r]) continue;
                mask[y * w + x] = kBackground;
            }
        }
    }
    return 1;
}
