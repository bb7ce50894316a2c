#include "matching/gallery_match.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "matching/feature_match.h"
#include "matching/match_rules.h"

namespace {

uint8_t g_storedCopy[QV_TEMPLATE_SIZE];
uint8_t g_probeCopy[QV_TEMPLATE_SIZE];
GalleryMatchState g_state{false, 0, -1, g_storedCopy, g_probeCopy};

}  // namespace

const GalleryMatchState &LastGalleryMatch() { return g_state; }
void ForgetGalleryMatch() { g_state.valid = false; }

int32_t GalleryMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize) {
    g_state.valid = false;
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return kMatchScratchTooSmall;
    GalleryView gallery{};
    GalleryView live{};
    if (!ReadGallery(stored, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(probe, QV_TEMPLATE_SIZE, live))
        return kMatchDecodeFailed;
    const GalleryIsland &touch = live.islands[0];
    const ScopedMatchRules rules(kGalleryMatchRules);
    MatchWorkspace ws{};
    if (!PrepareProbe(touch.templ, touch.length, kProfileGallery, scratch, scratchSize, ws)) return kMatchDecodeFailed;
    // The best island and the second best: a touch of the enrolled finger
    // usually overlaps several touches of the enrolment, another finger's
    // rarely two at once.
    int32_t best = 0;
    int32_t second = 0;
    int32_t bestIsland = -1;
    for (int32_t k = 0; k < gallery.count; ++k) {
        const GalleryIsland &island = gallery.islands[k];
        const int32_t score = MatchPreparedProbe(ws, island.templ, island.length, kProfileGallery);
        if (score == kMatchDecodeFailed) return kMatchDecodeFailed;
        if (score > best) {
            second = best;
            best = score;
            bestIsland = k;
        } else if (score > second) {
            second = score;
        }
    }
    // The engine's own renewal state belongs to the last island tried.
    ConsumeMatchState();
    std::memcpy(g_storedCopy, stored, QV_TEMPLATE_SIZE);
    std::memcpy(g_probeCopy, probe, QV_TEMPLATE_SIZE);
    const int64_t combined = static_cast<int64_t>(best) + second - kGalleryScoreOffset;
    const int32_t score = combined < 0 ? 0 : (combined > INT32_MAX ? INT32_MAX : static_cast<int32_t>(combined));
    g_state.score = score;
    g_state.island = bestIsland;
    g_state.valid = true;
    return score;
}
