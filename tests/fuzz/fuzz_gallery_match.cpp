// Fuzz target of profile 2: galleries come from disk as finger files, so any
// pair of 28000-byte buffers carrying profile 2's version code must give a
// defined match, merge and renewal, without a read or write outside the
// library's buffers, and every gallery the library writes must read again.
//
// Input: two bytes (big-endian) giving the length of the first template, the
// first template (the stored gallery), then the second (the touch). Each goes
// into a 28000-byte buffer, zero padded, with profile 2's version code written
// over bytes 5..9 so that mutations reach the gallery code behind the version
// check (the seed corpus holds real galleries, whose islands carry the code).
#include <cstdint>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "core/template_codec.h"
#include "match_checks.h"
#include "matching/gallery_match.h"
#include "template_pair_input.h"

namespace {

uint8_t g_first[QV_TEMPLATE_SIZE];
uint8_t g_second[QV_TEMPLATE_SIZE];
uint8_t g_out[QV_TEMPLATE_SIZE];

bool readsAsGallery(const uint8_t *templ) {
    GalleryView view{};
    return ReadGallery(templ, QV_TEMPLATE_SIZE, view) && view.count >= 1 && view.count <= kMaxIslands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!fuzz::loadTemplatePair(data, size, ProfileVersionCode(kProfileGallery), g_first, g_second)) return 0;
    fuzz::matchThenRenew(g_first, g_second, g_out, kGalleryRenewScore, readsAsGallery);
    fuzz::mergeThenNoRenewal(g_first, g_second, g_out, readsAsGallery);
    return 0;
}
