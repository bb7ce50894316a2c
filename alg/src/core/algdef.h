// Library configuration per sensor type and the version stamp.
#ifndef QV_ALGDEF_H
#define QV_ALGDEF_H

#include <cstdint>

#include "QVAlgDll.h"

// The library's version string; the 5-byte version code is derived from it.
inline constexpr char kAlgVersionString[] = "QVAlg_C_V01.05.17S10";

// Version code of a version string of at least 20 characters (NUL padded):
// the packed number most significant byte first, then the character at index 17.
struct VersionCode {
    uint8_t bytes[QV_VERSION_CODE_SIZE];
};
constexpr VersionCode DeriveVersionCode(const char *c) {
    const auto digit = [](char d) { return static_cast<uint32_t>(d - '0'); };
    const uint32_t major = 10 * digit(c[9]) + digit(c[10]);
    const uint32_t minor = 10 * digit(c[12]) + digit(c[13]);
    const uint32_t patch = 10 * digit(c[15]) + digit(c[16]);
    uint32_t build = 0;
    if (c[17] != '\0' && c[18] != '\0') build = c[19] != '\0' ? 10 * digit(c[18]) + digit(c[19]) : digit(c[18]);
    const uint32_t v = (major << 3) + (minor << 10) + (patch << 17) + (build << 24);
    return VersionCode{{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v), static_cast<uint8_t>(c[17])}};
}

// Padding of the expanded image on each side of the source image.
inline constexpr int32_t kExpandBorder = 32;

#endif
