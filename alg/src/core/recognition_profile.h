// Recognition profiles. Profile 1 is the library's original algorithm and the
// default. Profile 2 keeps every enrolment touch as an island of a gallery
// instead of merging touches into one canvas, describes points with a wider
// descriptor window and lets descriptor matching propose more candidates.
// Profile 3 is profile 2 plus the phase spectrum of every touch, compared by
// phase-only correlation, and a score that fuses the two.
// A host selects the profile of the templates it creates; matching, merging
// and renewal follow the profile recorded in the templates' version code, and
// templates of different profiles never match.
#ifndef QV_RECOGNITION_PROFILE_H
#define QV_RECOGNITION_PROFILE_H

#include <cstdint>

#include "QVAlgDll.h"

inline constexpr int32_t kProfileDescribed = 1;
inline constexpr int32_t kProfileGallery = 2;
inline constexpr int32_t kProfileCorrelated = 3;

// Version string whose code profile 2 templates carry (profile 1 templates
// carry g_cAlgVerNoKey).
inline constexpr char kGalleryVersionString[] = "QVAlg_C_V01.05.17S20";
inline constexpr char kCorrelatedVersionString[] = "QVAlg_C_V01.05.17S30";

// Profiles whose templates are galleries of islands.
constexpr bool IsGalleryProfile(int32_t profile) { return profile == kProfileGallery || profile == kProfileCorrelated; }

// Profile of the templates that template creation makes now.
int32_t CurrentRecognitionProfile();

// Profile recorded in a template's version code: 1, 2, 3, or 0 when the code
// is none of them (or the pointer is null).
int32_t TemplateProfile(const uint8_t *templ);

// The five version bytes a template of the profile carries.
const uint8_t *ProfileVersionCode(int32_t profile);

#endif
