// Synthetic feature sets and their templates for the matching, merging and
// renewal tests: random but deterministic points with distinct descriptors on
// a full finger mask, and the same print moved by a rigid transform.
#ifndef QV_TEST_FEATURE_FIXTURES_H
#define QV_TEST_FEATURE_FIXTURES_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "QVAlgDll.h"
#include "core/featureset.h"
#include "core/fixedmath.h"
#include "core/template_codec.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

struct Print {
    std::unique_ptr<FeatureSet> set = std::make_unique<FeatureSet>();
    int32_t maskWidth = 0;  // cells, template frame
    int32_t maskHeight = 0;
    Bytes cells;
};

class Lcg {
  public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t next(uint32_t range) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % range;
    }

  private:
    uint32_t state_;
};

// A print of the given counts inside a full widthCells x heightCells mask.
// Points keep at least 10 pixels apart and a margin from the mask edge; when
// even is set every coordinate is even.
inline Print makePrint(uint32_t minutiae, uint32_t knees, int32_t widthCells, int32_t heightCells, uint32_t seed,
                       bool even = false, int32_t margin = 8, int32_t spacing = 10) {
    Print p;
    std::memset(p.set.get(), 0, sizeof(FeatureSet));
    p.maskWidth = widthCells;
    p.maskHeight = heightCells;
    p.cells.assign(static_cast<size_t>(widthCells * heightCells), kMaskFinger);
    FeatureSet &s = *p.set;
    s.minutiaCount = minutiae;
    s.kneeCount = knees;
    Lcg rng(seed);
    const int32_t w = widthCells * kCellPixels - 2 * margin;
    const int32_t h = heightCells * kCellPixels - 2 * margin;
    for (uint32_t i = 0; i < minutiae + knees; ++i) {
        Minutia &m = s.points[i];
        for (int32_t attempt = 0; attempt < 1000; ++attempt) {
            int32_t x = margin + static_cast<int32_t>(rng.next(static_cast<uint32_t>(w)));
            int32_t y = margin + static_cast<int32_t>(rng.next(static_cast<uint32_t>(h)));
            if (even) {
                x &= ~1;
                y &= ~1;
            }
            bool clear = true;
            for (uint32_t k = 0; k < i && clear; ++k) {
                const int32_t ex = x - static_cast<int32_t>(s.points[k].x);
                const int32_t ey = y - static_cast<int32_t>(s.points[k].y);
                clear = ex * ex + ey * ey >= spacing * spacing;
            }
            m.x = static_cast<uint32_t>(x);
            m.y = static_cast<uint32_t>(y);
            if (clear) break;
        }
        m.angle = rng.next(360);
        m.type = i < minutiae ? 1 + rng.next(2) : 0;
        m.coverage = 55;
        m.hitCount = 1;
        // Spread like real descriptors: far enough apart, never so far that the
        // runner-up distance makes a match unreliable.
        for (auto &d : m.descriptor) d = static_cast<int16_t>(static_cast<int32_t>(rng.next(41)) - 20);
    }
    return p;
}

// The template of a print.
inline Bytes encode(const Print &p) {
    Bytes out(QV_TEMPLATE_SIZE, 0);
    if (EncodeTemplate(p.set.get(), p.cells.data(), p.maskWidth, p.maskHeight, out.data(), QV_TEMPLATE_SIZE) !=
        kCodecOk)
        out.clear();
    return out;
}

// The print turned by degrees about its mask centre and moved by (dx, dy)
// pixels, on the same mask. Points that leave the mask stay.
inline Print moved(const Print &p, int32_t degrees, int32_t dx, int32_t dy) {
    Print q;
    std::memcpy(q.set.get(), p.set.get(), sizeof(FeatureSet));
    q.maskWidth = p.maskWidth;
    q.maskHeight = p.maskHeight;
    q.cells = p.cells;
    const double a = degrees * M_PI / 180.0;
    const double cx = p.maskWidth * 2.0;
    const double cy = p.maskHeight * 2.0;
    for (uint32_t i = 0; i < FeaturePointCount(*q.set); ++i) {
        Minutia &m = q.set->points[i];
        const double ex = static_cast<int32_t>(m.x) - cx;
        const double ey = static_cast<int32_t>(m.y) - cy;
        m.x = static_cast<uint32_t>(std::lround(cx + ex * std::cos(a) - ey * std::sin(a) + dx));
        m.y = static_cast<uint32_t>(std::lround(cy + ex * std::sin(a) + ey * std::cos(a) + dy));
        m.angle = static_cast<uint32_t>((static_cast<int32_t>(m.angle) + degrees + 360) % 360);
    }
    return q;
}

}  // namespace fixtures

#endif
