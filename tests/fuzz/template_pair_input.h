// The input of the fuzz targets that take two templates: two bytes
// (big-endian) giving the length of the first template, the first, then the
// second. Each goes into a 28000-byte buffer, zero padded, with the given
// version code written over bytes 5..9 so that mutations reach the code
// behind the version check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QVAlgDll.h"

namespace fuzz {

inline void loadTemplate(uint8_t *templ, const uint8_t *data, size_t size, const uint8_t *versionCode) {
    std::memset(templ, 0, QV_TEMPLATE_SIZE);
    std::memcpy(templ, data, size < QV_TEMPLATE_SIZE ? size : QV_TEMPLATE_SIZE);
    std::memcpy(templ + 5, versionCode, QV_VERSION_CODE_SIZE);
}

// False when the input is too short to name a split.
inline bool loadTemplatePair(const uint8_t *data, size_t size, const uint8_t *versionCode, uint8_t *first,
                             uint8_t *second) {
    if (size < 2) return false;
    const size_t split = static_cast<size_t>(data[0]) << 8 | data[1];
    const uint8_t *rest = data + 2;
    const size_t restSize = size - 2;
    const size_t firstSize = split < restSize ? split : restSize;
    loadTemplate(first, rest, firstSize, versionCode);
    loadTemplate(second, rest + firstSize, restSize - firstSize, versionCode);
    return true;
}

}  // namespace fuzz
