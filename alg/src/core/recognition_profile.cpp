#include "core/recognition_profile.h"

#include <cstring>

#include "core/algdef.h"

namespace {

constexpr int32_t kVersionOffset = 5;
constexpr VersionCode kGalleryCode = DeriveVersionCode(kGalleryVersionString);
constexpr VersionCode kCorrelatedCode = DeriveVersionCode(kCorrelatedVersionString);

int32_t g_profile = kProfileDescribed;

}  // namespace

int32_t CurrentRecognitionProfile() { return g_profile; }

const uint8_t *ProfileVersionCode(int32_t profile) {
    if (profile == kProfileGallery) return kGalleryCode.bytes;
    return profile == kProfileCorrelated ? kCorrelatedCode.bytes : g_cAlgVerNoKey;
}

int32_t TemplateProfile(const uint8_t *templ) {
    if (templ == nullptr) return 0;
    if (std::memcmp(templ + kVersionOffset, g_cAlgVerNoKey, QV_VERSION_CODE_SIZE) == 0) return kProfileDescribed;
    if (std::memcmp(templ + kVersionOffset, kGalleryCode.bytes, QV_VERSION_CODE_SIZE) == 0) return kProfileGallery;
    if (std::memcmp(templ + kVersionOffset, kCorrelatedCode.bytes, QV_VERSION_CODE_SIZE) == 0)
        return kProfileCorrelated;
    return 0;
}

extern "C" int32_t Quorvane_SetRecognitionProfile(int32_t profile) {
    if (profile != kProfileDescribed && !IsGalleryProfile(profile)) return -1;
    g_profile = profile;
    return 0;
}

extern "C" int32_t Quorvane_TemplateProfile(const uint8_t *templ) { return TemplateProfile(templ); }
