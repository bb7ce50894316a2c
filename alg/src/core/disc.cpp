#include "core/disc.h"

#include "QVAlgDll.h"

static_assert((2 * kMaxDiscRadius + 1) * (2 * kMaxDiscRadius + 1) <= static_cast<int>(sizeof nImageFilter));

bool BuildDiscTable(int32_t r) {
    if (r < 0 || r > kMaxDiscRadius) return false;
    uint8_t *cell = nImageFilter;
    for (int32_t dy = -r; dy <= r; ++dy)
        for (int32_t dx = -r; dx <= r; ++dx) *cell++ = (dy * dy + dx * dx <= r * r) ? 1 : 0;
    return true;
}
