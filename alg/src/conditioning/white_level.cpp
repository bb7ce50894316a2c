#include "conditioning/white_level.h"

#include <cstring>

#include "QVAlgDll.h"

namespace {

constexpr int32_t kWindow = (2 * kMedianHalf + 1) * (2 * kMedianHalf + 1);
constexpr int32_t kMedianPlace = kWindow / 2;  // place 24 of the descending order
constexpr int32_t kBrightFloor = 2048;         // values above it enter the mean
constexpr int32_t kMeanDrop = 300;
constexpr int32_t kLevelCeiling = 4095;
constexpr int32_t kWhiteMargin = 120;

}  // namespace

void MedianFilter16(const uint16_t *frame, uint16_t *out, int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return;
    std::memcpy(out, frame, sizeof(uint16_t) * static_cast<size_t>(w * h));
    uint16_t window[kWindow];
    for (int32_t r = kMedianHalf; r < h - kMedianHalf; ++r)
        for (int32_t c = kMedianHalf; c < w - kMedianHalf; ++c) {
            int32_t k = 0;
            for (int32_t dy = -kMedianHalf; dy <= kMedianHalf; ++dy)
                for (int32_t dx = -kMedianHalf; dx <= kMedianHalf; ++dx) window[k++] = frame[(r + dy) * w + c + dx];
            // Descending order of the first places, as far as the median.
            for (int32_t i = 0; i <= kMedianPlace; ++i)
                for (int32_t j = i + 1; j < kWindow; ++j)
                    if (window[j] > window[i]) {
                        const uint16_t t = window[i];
                        window[i] = window[j];
                        window[j] = t;
                    }
            out[r * w + c] = window[kMedianPlace];
        }
}

int32_t GetMaskThresholdByBack16(const uint16_t *frame, uint16_t *out, int32_t w, int32_t h) {
    if (w > 0 && h > 0) std::memset(out, 0, sizeof(uint16_t) * static_cast<size_t>(w * h));
    MedianFilter16(frame, out, w, h);

    int64_t sum = 0;
    int32_t count = 0;
    for (int32_t r = kMedianHalf; r < h - kMedianHalf; ++r)
        for (int32_t c = kMedianHalf; c < w - kMedianHalf; ++c)
            if (out[r * w + c] > kBrightFloor) {
                sum += out[r * w + c];
                ++count;
            }
    int32_t mean = count > 0 ? static_cast<int32_t>(sum / count) : 0;
    if (mean > kMeanDrop) mean -= kMeanDrop;

    int32_t level = kLevelCeiling;
    for (int32_t r = kMedianHalf; r < h - kMedianHalf; ++r)
        for (int32_t c = kMedianHalf; c < w - kMedianHalf; ++c) {
            const int32_t v = out[r * w + c];
            if (v > mean && v < level) level = v;
        }
    return level - kWhiteMargin;
}

extern "C" int32_t Quorvane_GetMaskThresholdByBack16(const uint16_t *background, int32_t width, int32_t height) {
    // The filtered frame must fit tempbuf; otherwise the white level is kept.
    if (background == nullptr || width <= 0 || height <= 0 ||
        height > QV_WORKSPACE_SIZE / static_cast<int32_t>(sizeof(uint16_t)) / width)
        return IMG_DATA_WHITE;
    IMG_DATA_WHITE = GetMaskThresholdByBack16(background, reinterpret_cast<uint16_t *>(tempbuf), width, height);
    return IMG_DATA_WHITE;
}
