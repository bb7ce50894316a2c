// What the tests that pin bytes and scores across architectures share: a
// running FNV-1a hash of everything a test produces, and the geometries of
// the three sensor models (the library's configuration type and the capture
// size).
#ifndef QV_TEST_PINNED_BYTES_H
#define QV_TEST_PINNED_BYTES_H

#include <cstddef>
#include <cstdint>

namespace pinned {

class Fnv1a {
  public:
    void mix(const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) value_ = (value_ ^ p[i]) * 1099511628211ull;
    }
    uint64_t value() const { return value_; }

  private:
    uint64_t value_ = 14695981039346656037ull;
};

struct SensorGeometry {
    int32_t type, w, h;
};

inline constexpr SensorGeometry kSensorGeometries[] = {{1, 112, 88}, {3, 68, 118}, {5, 96, 96}};

}  // namespace pinned

#endif
