// Template renewal: after a confident match, fold the verified capture into
// the stored template along the alignment the match found (profile 1).
#ifndef QV_TEMPLATE_RENEW_H
#define QV_TEMPLATE_RENEW_H

#include <cstdint>

// Renews from the state the last match left: 0 with the renewed template in
// out and its mask size in pixels in width and height, or 1 with nothing
// written (score below EATURE_RENEW_THRESHOLD, too few pairs where the
// variant asks for them, or no unconsumed match state).
int32_t FeatureRenew(uint8_t *out, uint16_t *width, uint16_t *height);

#endif
