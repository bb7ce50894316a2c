// Exported entry points that are small enough to live with the interface: the
// version query, the white-level setter and the fixed-result functions that the
// wider interface keeps for hosts of other sensor families.
#include "QVAlgDll.h"

#include <cstring>

extern "C" {

char *Quorvane_GetAlgVersion(char *out) {
    std::memcpy(out, g_cAlgVerNo, QV_VERSION_FIELD_SIZE);
    return out;
}

int32_t Quorvane_GetMaskSegmentThreshold(const int16_t *whiteLevel) {
    const int32_t v = *whiteLevel;
    if (v < 2500 || v >= 4096) return 0;
    IMG_DATA_WHITE = v;
    return 1;
}

int32_t Quorvane_CutRefImg16(void *, void *, int16_t, int16_t) { return 1; }
int32_t Quorvane_CutRefImg8(void *, void *, void *, int16_t, int16_t) { return 1; }
int32_t Quorvane_CutBlankImage(void *, void *, void *, void *, int16_t, int16_t) { return 1; }
int32_t Quorvane_CutBlankImage_EX(void *, void *, void *, void *, int16_t, int16_t, int16_t, int16_t) { return 1; }
int32_t Quorvane_CutBlankImage16(void *, void *, int16_t, int16_t) { return 1; }
int32_t Quorvane_Navi_CutBlankImage(void *, void *, void *, void *, int16_t, int16_t) { return 1; }
int32_t Quorvane_IsBlankImage(void *, int32_t, int32_t) { return 1; }
int32_t Quorvane_FingerNavigation(void *, int32_t, int32_t, int32_t, void *, int32_t) { return 0; }
int32_t Quorvane_AgoCreateTemplate16(void *, int16_t, int16_t, void *, void *) { return 1; }
int32_t Quorvane_CreatePermanentTemplate16(void *, int16_t, int16_t, void *) { return 1; }
void Quorvane_GetImage(void *, void *, void *, int32_t, int32_t) {}

}  // extern "C"
