#include "conditioning/finger_presence.h"

#include <cstring>

#include "QVAlgDll.h"
#include "conditioning/edge_ops.h"
#include "conditioning/gauss_smooth.h"
#include "conditioning/histogram_stretch.h"
#include "core/disc.h"

namespace {

constexpr int32_t kPad = 32;
constexpr uint8_t kPadLevel = 250;
// The mask is computed at half resolution; the padding is kHalfPad there.
constexpr int32_t kHalfPad = kPad / 2;
// Gradient magnitudes (|gx| + |gy|, Sobel) that ridges produce.
constexpr int32_t kRidgeGradientMin = 80;
constexpr int32_t kRidgeGradientMax = 370;
// Frame of the half image that the background growth leaves alone.
constexpr int32_t kDilateFrame = 10;
constexpr uint8_t kFinger = 0;
constexpr uint8_t kBackground = 255;
constexpr uint8_t kGrowMark = 128;
constexpr int32_t kDarkLevel = 128;

int32_t sobelMagnitude(const uint8_t *p, int32_t w, int32_t r, int32_t c) {
    auto at = [&](int32_t y, int32_t x) { return static_cast<int32_t>(p[y * w + x]); };
    const int32_t gx =
        at(r + 1, c + 1) - at(r + 1, c - 1) + 2 * at(r, c + 1) - 2 * at(r, c - 1) + at(r - 1, c + 1) - at(r - 1, c - 1);
    const int32_t gy =
        at(r + 1, c - 1) - at(r - 1, c - 1) + 2 * at(r + 1, c) - 2 * at(r - 1, c) + at(r + 1, c + 1) - at(r - 1, c + 1);
    return (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
}

}  // namespace

void zoomout1(const uint8_t *image, int32_t w, int32_t h, uint8_t *out) {
    const int32_t w2 = w / 2;
    const int32_t h2 = h / 2;
    if (w2 <= 0 || h2 <= 0) return;
    for (int32_t i = 0; i < h2; ++i) {
        out[i * w2] = image[2 * i * w];
        out[i * w2 + w2 - 1] = image[2 * i * w + w - 1];
    }
    for (int32_t j = 0; j < w2; ++j) {
        out[j] = image[2 * j];
        out[(h2 - 1) * w2 + j] = image[(h - 1) * w + 2 * j];
    }
    for (int32_t i = 1; 2 * i < h - 2; ++i)
        for (int32_t j = 1; 2 * j < w - 2; ++j)
            out[i * w2 + j] = static_cast<uint8_t>(GaussKernel3x3(image, w, 2 * i, 2 * j));
}

int32_t vwn_ImageErode(uint8_t *mask, int32_t w, int32_t h, int32_t r) {
    if (!BuildDiscTable(r)) return 0;
    const int32_t side = 2 * r + 1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (mask[y * w + x] != kFinger) continue;
            for (int32_t dy = -r; dy <= r; ++dy) {
                const int32_t yy = y + dy;
                if (yy < 0 || yy >= h) continue;
                for (int32_t dx = -r; dx <= r; ++dx) {
                    const int32_t xx = x + dx;
                    if (xx < 0 || xx >= w || !nImageFilter[(dy + r) * side + dx + r]) continue;
                    mask[yy * w + xx] &= kGrowMark;
                }
            }
        }
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; ++i)
        if (mask[i] < kBackground) mask[i] = kFinger;
    return 1;
}

int16_t vwn_GetImgAreaScore(const uint8_t *image, uint8_t *work, int32_t w, int32_t h, uint8_t lo, uint8_t hi) {
    // The half image must stay within the dilation's byte coordinates, and the
    // padded image within g_pImgbuf; the half image, its mask and the
    // dilation's scratch (twice the mask) follow one another in the workspace.
    if (image == nullptr || work == nullptr || w < 2 || h < 2) return 0;
    if (w > QV_WORKSPACE_SIZE || h > QV_WORKSPACE_SIZE) return 0;
    const int32_t paddedW = w + 2 * kPad;
    const int32_t paddedH = h + 2 * kPad;
    if (paddedW / 2 > kMaxByteCoordImage || paddedH / 2 > kMaxByteCoordImage) return 0;
    if (paddedW * paddedH > static_cast<int32_t>(sizeof g_pImgbuf)) return 0;

    std::memcpy(g_pImgbuf, image, static_cast<size_t>(w * h));
    if (ExpandHistogram(g_pImgbuf, w, h) == 0) return 0;
    vwn_GaussSmooth(g_pImgbuf, work, w, h);
    std::memcpy(g_pImgbuf, work, static_cast<size_t>(w * h));
    int32_t pw = w;
    int32_t ph = h;
    vwn_ExpandEdge(g_pImgbuf, &pw, &ph, kPad, kPadLevel);

    std::memset(work, 0, static_cast<size_t>(pw * ph));
    int32_t w2 = pw / 2;
    int32_t h2 = ph / 2;
    uint8_t *half = work;
    uint8_t *mask = work + w2 * h2;
    uint8_t *scratch = mask + w2 * h2;
    zoomout1(g_pImgbuf, pw, ph, half);

    for (int32_t r = 1; r <= h2 - 2; ++r)
        for (int32_t c = 1; c <= w2 - 2; ++c) {
            const int32_t m = sobelMagnitude(half, w2, r, c);
            const bool inside = r >= kHalfPad && r <= h2 - kHalfPad && c >= kHalfPad && c <= w2 - kHalfPad;
            mask[r * w2 + c] = (inside && m >= kRidgeGradientMin && m <= kRidgeGradientMax) ? kFinger : kBackground;
        }
    vwn_ImageErode(mask, w2, h2, kDetectDiscRadius);
    if (vwn_ImageDilate3(mask, scratch, w2, h2, kDetectDiscRadius, kDilateFrame, h2 - kDilateFrame, kDilateFrame,
                         w2 - kDilateFrame) == 0)
        return 0;

    int32_t cw = w2;
    int32_t ch = h2;
    vwn_CropEdge(mask, &cw, &ch, kHalfPad, kHalfPad);
    vwn_CropEdge(half, &w2, &h2, kHalfPad, kHalfPad);
    const int32_t area = cw * ch;
    int32_t count = 0;
    int32_t sum = 0;
    for (int32_t i = 0; i < area; ++i)
        if (mask[i] == kFinger) {
            ++count;
            sum += half[i];
        }
    const int32_t mean = count > 0 ? sum / count : 0;
    if (mean <= lo || mean >= hi) return 0;
    return static_cast<int16_t>(count * 100 / area);
}

int32_t CalFingerCentroid(const uint8_t *image, uint8_t *, int32_t w, int32_t h, int32_t *column, int32_t *row) {
    int64_t sumX = 0;
    int64_t sumY = 0;
    int32_t count = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (image[y * w + x] < kDarkLevel) {
                sumX += x;
                sumY += y;
                ++count;
            }
    if (count == 0) return 0;
    *column = static_cast<int32_t>(sumX / count);
    *row = static_cast<int32_t>(sumY / count);
    return 1;
}

extern "C" int16_t Quorvane_DetectFinger(const uint8_t *image, int16_t width, int16_t height, uint8_t meanLow,
                                         uint8_t meanHigh) {
    return vwn_GetImgAreaScore(image, tempbuf, width, height, meanLow, meanHigh);
}

extern "C" int32_t Quorvane_CalCentroid(const uint8_t *image, int32_t width, int32_t height, int32_t *column,
                                        int32_t *row) {
    if (image == nullptr || column == nullptr || row == nullptr || width <= 0 || height <= 0) return 0;
    return CalFingerCentroid(image, tempbuf, width, height, column, row);
}
