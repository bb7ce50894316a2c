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
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "correlation/phase_records.h"
#include "matching/correlated_match.h"
#include "template_pair_input.h"

namespace {

uint8_t g_first[QV_TEMPLATE_SIZE];
uint8_t g_second[QV_TEMPLATE_SIZE];
uint8_t g_out[QV_TEMPLATE_SIZE];

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "profile 3 check failed: %s\n", what);
        std::abort();
    }
}

void requireCorrelatedGallery(const uint8_t *templ) {
    GalleryView view{};
    PhaseRecords phases{};
    require(ReadCorrelatedTemplate(templ, QV_TEMPLATE_SIZE, view, phases), "a written template reads");
    require(view.count >= 1 && view.count <= kMaxIslands, "island count");
    require(phases.count == view.count, "one phase record per island");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!fuzz::loadTemplatePair(data, size, ProfileVersionCode(kProfileCorrelated), g_first, g_second)) return 0;

    const int16_t score = Quorvane_MatchScore(g_first, g_second);
    require(score >= -10000, "match score range");
    std::memset(g_out, 0, sizeof g_out);
    uint16_t width = 0, height = 0;
    const int16_t renewed = Quorvane_RenewFeature(g_out, nullptr, &width, &height);
    require(renewed == 0 || renewed == 1, "renewal result");
    if (renewed == 0) {
        require(score >= kCorrelatedRenewScore, "renewal only after a confident match");
        requireCorrelatedGallery(g_out);
    }
    std::memset(g_out, 0xA5, sizeof g_out);
    uint16_t overlap = 0;
    const int16_t merged = Quorvane_MergeFeature(g_first, g_second, g_out, &overlap, &width, &height);
    require(merged == 0 || merged == 1, "merge result");
    if (merged == 0) {
        requireCorrelatedGallery(g_out);
    } else {
        for (uint8_t v : g_out) require(v == 0xA5, "a refused merge leaves the output untouched");
    }
    require(Quorvane_RenewFeature(g_out, nullptr, &width, &height) == 1, "no renewal after a merge");
    return 0;
}
