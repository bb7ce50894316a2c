#include "extraction/average_sample.h"

#include <cstring>

void avergeSample(uint8_t *image, int32_t w, int32_t h, uint8_t *scratch, int32_t step) {
    const int32_t hw = w / 2;
    const int32_t hh = h / 2;
    for (int32_t y = 0; y + 1 < h; y += step) {
        uint8_t *out = scratch + (y / 2) * hw;
        for (int32_t x = 0; x + 1 < w; x += step) {
            const uint8_t *p = image + y * w + x;
            *out++ = static_cast<uint8_t>((p[0] + p[1] + p[w] + p[w + 1]) / 4);
        }
    }
    std::memset(image, 0, static_cast<size_t>(w * h));
    std::memcpy(image, scratch, static_cast<size_t>(hw * hh));

    // Half image in `image`, the 3 x 3 means into the scratch; the corners keep
    // the 2 x 2 means already there.
    for (int32_t y = 0; y < hh; ++y)
        for (int32_t x = 0; x < hw; ++x) {
            const bool top = y == 0, bottom = y == hh - 1, left = x == 0, right = x == hw - 1;
            if ((top || bottom) && (left || right)) continue;
            int32_t sum = 0;
            int32_t n = 0;
            for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
                if (yy < 0 || yy >= hh) continue;
                for (int32_t xx = x - 1; xx <= x + 1; ++xx) {
                    if (xx < 0 || xx >= hw) continue;
                    sum += image[yy * hw + xx];
                    ++n;
                }
            }
            scratch[y * hw + x] = static_cast<uint8_t>(sum / n);
        }

    std::memset(image, 0, static_cast<size_t>(w * h));
    for (int32_t y = 0; y < 2 * hh; ++y)
        for (int32_t x = 0; x < 2 * hw; ++x) image[y * w + x] = scratch[(y / 2) * hw + x / 2];
}
