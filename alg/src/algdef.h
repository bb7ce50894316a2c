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
VersionCode DeriveVersionCode(const char *version);

// Padding of the expanded image on each side of the source image.
inline constexpr int32_t kExpandBorder = 32;

#endif
