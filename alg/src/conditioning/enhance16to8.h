// Raw capture to stretched 8-bit image: channel offsets removed, finger mask
// and finger mean measured, raw levels between two percentiles of the finger
// pixels stretched onto 0..255.
//
// The enhancement entry points lay their work out in tempbuf; the finger mask
// stays in its first W x H bytes and g_bData16Bit is left at 2, which the
// 8-bit template creation that may follow relies on.
#ifndef QV_ENHANCE16TO8_H
#define QV_ENHANCE16TO8_H

#include <cstdint>

// Offsets in tempbuf of the enhancement workspace for a W x H image.
struct EnhanceLayout {
    int32_t corrected;  // channel-corrected raw image, 2 x W x H bytes; the mask sits at offset 0
    int32_t dilation;   // boundary list of the mask erosion
    int32_t stripe;     // scratch of the horizontal stripe removal
    int32_t end;        // first byte past the workspace
    int32_t budget;     // bytes of tempbuf the call claims and clears
};

// Workspace of an enhancement of a w x h image on the current variant's
// conditioning path, with or without stripe removal. Returns false when the image cannot
// be processed within tempbuf (or within the byte coordinates of the mask
// erosion); the entry points then return -1.
bool PlanEnhanceLayout(int32_t w, int32_t h, bool stripe, EnhanceLayout *layout);

// Stretches the finger levels of a raw image (bits significant bits) onto
// 0..255. Returns the lower stretch bound, or 0 when there is no finger pixel
// or the finger levels are too narrow; the output then holds the raw image
// shifted down to 8 bits.
int32_t ExpandHistogram16to8(const uint16_t *raw, uint8_t *out, const uint8_t *mask, int32_t n, int32_t bits);

// The conditioning of Quorvane_Enhance16to8_EX without touching
// g_bData16Bit (raw template creation runs it too): claims and clears the
// workspace, removes the channel offsets (and horizontal stripes when asked),
// leaves the finger mask at the start of tempbuf and writes the stretched
// image. Returns 1, or -1 when the image does not fit the workspace.
int32_t ConditionRawImage(uint16_t *raw, uint8_t *image, int32_t width, int32_t height, bool stripe);

#endif
