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
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "core/template_codec.h"
#include "matching/gallery_match.h"
#include "template_pair_input.h"

namespace {

uint8_t g_first[QV_TEMPLATE_SIZE];
uint8_t g_second[QV_TEMPLATE_SIZE];
uint8_t g_out[QV_TEMPLATE_SIZE];

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "gallery check failed: %s\n", what);
        std::abort();
    }
}

void requireGallery(const uint8_t *templ) {
    GalleryView view{};
    require(ReadGallery(templ, QV_TEMPLATE_SIZE, view), "a written gallery reads");
    require(view.count >= 1 && view.count <= kMaxIslands, "island count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!fuzz::loadTemplatePair(data, size, ProfileVersionCode(kProfileGallery), g_first, g_second)) return 0;

    const int16_t score = Quorvane_MatchScore(g_first, g_second);
    require(score >= -10000, "match score range");
    std::memset(g_out, 0, sizeof g_out);
    uint16_t width = 0, height = 0;
    const int16_t renewed = Quorvane_RenewFeature(g_out, nullptr, &width, &height);
    require(renewed == 0 || renewed == 1, "renewal result");
    if (renewed == 0) {
        require(score >= kGalleryRenewScore, "renewal only after a confident match");
        requireGallery(g_out);
    }
    std::memset(g_out, 0xA5, sizeof g_out);
    uint16_t overlap = 0;
    const int16_t merged = Quorvane_MergeFeature(g_first, g_second, g_out, &overlap, &width, &height);
    require(merged == 0 || merged == 1, "merge result");
    if (merged == 0) {
        requireGallery(g_out);
    } else {
        for (uint8_t v : g_out) require(v == 0xA5, "a refused merge leaves the output untouched");
    }
    require(Quorvane_RenewFeature(g_out, nullptr, &width, &height) == 1, "no renewal after a merge");
    return 0;
}
