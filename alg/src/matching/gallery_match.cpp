#include "matching/gallery_match.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/fixedmath.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "matching/feature_match.h"
#include "matching/match_rules.h"

namespace {

uint8_t g_storedCopy[QV_TEMPLATE_SIZE];
uint8_t g_probeCopy[QV_TEMPLATE_SIZE];
GalleryMatchState g_state{false, 0, -1, g_storedCopy, g_probeCopy};

// The pose of the engine's best alignment (resultMax) of the prepared touch.
// Points move about the touch's anchor a by the rotation r and the offset
// (dx, dy) (minutiae_align.h); here the touch's centre does, in doubled
// coordinates so that the centre of an even-sized image is whole.
IslandPose poseOf(const MatchWorkspace &ws, int32_t score) {
    IslandPose pose{score, 0, 0, 0};
    const int32_t anchor = resultMax[kResultProbeAnchor];
    if (score <= 0 || anchor < 0 || anchor >= kMaxFeaturePoints) return pose;
    const Minutia &a = ws.probe->points[anchor];
    // The mask covers the image and kMaskBorderCells on every side; points
    // are in the working frame, kWorkingFrameShift pixels in.
    const auto centre2 = [](uint32_t cells) {
        return (static_cast<int64_t>(cells) - 2 * kMaskBorderCells) * kCellPixels - 1 + 2 * kWorkingFrameShift;
    };
    const int64_t cx = centre2(ws.probeMask->width), cy = centre2(ws.probeMask->height);
    const int64_t ax = 2 * static_cast<int64_t>(a.x), ay = 2 * static_cast<int64_t>(a.y);
    const int32_t r = resultMax[kResultRotation];
    const int64_t c = cos512(r), s = sin512(r);
    const int64_t x = ax + 2 * int64_t{resultMax[kResultDx]} + (((cx - ax) * c - (cy - ay) * s + 256) >> 9);
    const int64_t y = ay + 2 * int64_t{resultMax[kResultDy]} + (((cx - ax) * s + (cy - ay) * c + 256) >> 9);
    // A template that decodes keeps its points and mask within a few
    // thousand pixels; the clamp only keeps a corrupt one from overflowing.
    const auto clamp = [](int64_t v) {
        constexpr int64_t kFar = int64_t{1} << 20;
        return static_cast<int32_t>(v < -kFar ? -kFar : (v > kFar ? kFar : v));
    };
    return IslandPose{score, r, clamp(x - cx), clamp(y - cy)};
}

}  // namespace

const GalleryMatchState &LastGalleryMatch() { return g_state; }
void ForgetGalleryMatch() { g_state.valid = false; }

IslandScores ScoreIslands(const GalleryView &gallery, const GalleryIsland &touch, uint8_t *scratch, int32_t scratchSize,
                          IslandPose *poses) {
    IslandScores r{0, 0, -1};
    const ScopedMatchRules rules(kGalleryMatchRules);
    MatchWorkspace ws{};
    if (!PrepareProbe(touch.templ, touch.length, gallery.profile, scratch, scratchSize, ws))
        return IslandScores{kMatchDecodeFailed, 0, -1};
    // The best island and the second best: a touch of the enrolled finger
    // usually overlaps several touches of the enrolment, another finger's
    // rarely two at once.
    for (int32_t k = 0; k < gallery.count; ++k) {
        const GalleryIsland &island = gallery.islands[k];
        const int32_t score = MatchPreparedProbe(ws, island.templ, island.length, gallery.profile);
        if (score == kMatchDecodeFailed) return IslandScores{kMatchDecodeFailed, 0, -1};
        if (poses != nullptr) poses[k] = poseOf(ws, score);
        if (score > r.best) {
            r.second = r.best;
            r.best = score;
            r.bestIsland = k;
        } else if (score > r.second) {
            r.second = score;
        }
    }
    // The engine's own renewal state belongs to the last island tried.
    ConsumeMatchState();
    return r;
}

int32_t GalleryScore(const IslandScores &s) {
    const int64_t combined = static_cast<int64_t>(s.best) + s.second - kGalleryScoreOffset;
    return combined < 0 ? 0 : (combined > INT32_MAX ? INT32_MAX : static_cast<int32_t>(combined));
}

void RecordGalleryMatch(const uint8_t *stored, const uint8_t *probe, int32_t score, int32_t island) {
    std::memcpy(g_storedCopy, stored, QV_TEMPLATE_SIZE);
    std::memcpy(g_probeCopy, probe, QV_TEMPLATE_SIZE);
    g_state.score = score;
    g_state.island = island;
    g_state.valid = true;
}

int32_t GalleryMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize) {
    g_state.valid = false;
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return kMatchScratchTooSmall;
    GalleryView gallery{};
    GalleryView live{};
    if (!ReadGallery(stored, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(probe, QV_TEMPLATE_SIZE, live))
        return kMatchDecodeFailed;
    const IslandScores islands = ScoreIslands(gallery, live.islands[0], scratch, scratchSize);
    if (islands.best == kMatchDecodeFailed) return kMatchDecodeFailed;
    const int32_t score = GalleryScore(islands);
    RecordGalleryMatch(stored, probe, score, islands.bestIsland);
    return score;
}
