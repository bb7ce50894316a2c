// Fuzz target of profile 3: a stored finger file and a touch, each carrying a
// gallery (or a touch's points) and a block of phase records, must give a
// defined match, merge and renewal for any bytes, without a read or write
// outside the library's buffers, and every template the library writes must
// read again with one phase record per island.
//
// Input as the other two-template targets (template_pair_input.h), with
// profile 3's version code written over bytes 5..9. The seed corpus holds a
// gallery of three touches of a generated finger with a touch of its own
// finger and of another, and two single touches.
//
// A profile 3 match correlates a touch against every island over its
// rotations (about 13 ms here under the sanitizers), so CI runs fewer inputs:
// CI runs: 10000
#include <cstdint>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "correlation/phase_records.h"
#include "match_checks.h"
#include "matching/correlated_match.h"
#include "template_pair_input.h"

namespace {

uint8_t g_first[QV_TEMPLATE_SIZE];
uint8_t g_second[QV_TEMPLATE_SIZE];
uint8_t g_out[QV_TEMPLATE_SIZE];

// A gallery of 1 to 16 islands with one phase record each.
bool readsAsCorrelatedGallery(const uint8_t *templ) {
    GalleryView view{};
    PhaseRecords phases{};
    return ReadCorrelatedTemplate(templ, QV_TEMPLATE_SIZE, view, phases) && view.count >= 1 &&
           view.count <= kMaxIslands && phases.count == view.count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!fuzz::loadTemplatePair(data, size, ProfileVersionCode(kProfileCorrelated), g_first, g_second)) return 0;
    fuzz::matchThenRenew(g_first, g_second, g_out, kCorrelatedRenewScore, readsAsCorrelatedGallery);
    fuzz::mergeThenNoRenewal(g_first, g_second, g_out, readsAsCorrelatedGallery);
    return 0;
}
