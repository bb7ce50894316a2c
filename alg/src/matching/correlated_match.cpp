#include "matching/correlated_match.h"

#include <cstring>

#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "correlation/phase_correlation.h"
#include "correlation/phase_records.h"
#include "matching/gallery_match.h"
#include "matching/gallery_merge.h"
#include "matching/match_workspace.h"

namespace {

constexpr int32_t kRefused = 1;
constexpr int32_t kDone = 0;
static_assert(kMaxIslands * (2 + 16 + 31 * kCorrelatedIslandPoints + 78) + 4 + kMaxIslands + kPhaseBlockHeader +
                      kMaxIslands * kPhaseBytes <=
                  QV_TEMPLATE_SIZE,
              "sixteen trimmed islands of the 112 x 88 sensor and their phase records");

// The fused score adds to the engine's sum of the two best island scores one
// point per kPeakStep permille of correlation peak above kPeakBase, less
// kCorrelatedOffset. The bonus was chosen on one cut of the real sets at
// 96 x 96 and confirmed on another (tools/fpeval --csv gives both parts); the
// offset puts the highest impostor sum measured (105: real and SFinGe sets,
// both cuts, all three sensor sizes) 10 below the service's threshold, the
// margin profile 2's offset keeps too.
constexpr int32_t kPeakBase = 350;
constexpr int32_t kPeakStep = 8;
constexpr int32_t kCorrelatedOffset = 70;

FusionParts g_parts{0, 0};

}  // namespace

FusionParts LastFusionParts() { return g_parts; }

int32_t FuseScores(int32_t islandSum, int32_t correlationPeak) {
    const int64_t bonus = correlationPeak > kPeakBase ? (correlationPeak - kPeakBase) / kPeakStep : 0;
    const int64_t fused = static_cast<int64_t>(islandSum) + bonus - kCorrelatedOffset;
    return fused < 0 ? 0 : (fused > INT32_MAX ? INT32_MAX : static_cast<int32_t>(fused));
}

int32_t CorrelatedMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize) {
    ForgetGalleryMatch();
    g_parts = FusionParts{0, 0};
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return kMatchScratchTooSmall;
    GalleryView gallery{}, live{};
    PhaseRecords galleryPhases{}, livePhases{};
    if (!ReadCorrelatedTemplate(stored, QV_TEMPLATE_SIZE, gallery, galleryPhases) ||
        !ReadCorrelatedTemplate(probe, QV_TEMPLATE_SIZE, live, livePhases))
        return kMatchDecodeFailed;
    const IslandScores islands = ScoreIslands(gallery, live.islands[0], scratch, scratchSize);
    if (islands.best == kMatchDecodeFailed) return kMatchDecodeFailed;
    const int32_t islandSum = islands.best + islands.second;
    // A touch searches over its rotations; a gallery given as the probe
    // offers its first island unrotated.
    const bool touch = livePhases.count == kTouchRotations && live.count == 1;
    const uint8_t *probeRecords = touch ? livePhases.records : IslandRecord(live, livePhases, 0);
    const int32_t probeCount = touch ? kTouchRotations : 1;
    int32_t peak = 0, peakIsland = -1;
    for (int32_t k = 0; k < gallery.count; ++k) {
        const int32_t p =
            BestCorrelationPeak(IslandRecord(gallery, galleryPhases, k), probeRecords, probeCount, nullptr);
        if (p > peak) {
            peak = p;
            peakIsland = k;
        }
    }
    g_parts = FusionParts{islandSum, peak};
    const int32_t score = FuseScores(islandSum, peak);
    // Renewal credits the island of the best engine score, or the best
    // correlated island when no island scored.
    const int32_t island = islands.bestIsland >= 0 ? islands.bestIsland : peakIsland;
    RecordGalleryMatch(stored, probe, score, island < 0 ? 0 : island);
    return score;
}

namespace {

// Appends the records of `view` (one per island, slot `slot` taken by
// `fresh`, appended when slot == count) after the gallery written in scratch.
int32_t finish(int32_t bytes, const GalleryView &before, const PhaseRecords &phases, int32_t slot, const uint8_t *fresh,
               uint8_t *scratch, uint8_t *out) {
    if (bytes < 0) return kRefused;
    const uint8_t *records[kMaxIslands];
    int32_t count = 0;
    for (int32_t k = 0; k < before.count; ++k) records[count++] = IslandRecord(before, phases, k);
    if (slot >= count) {
        if (count >= kMaxIslands) return kRefused;
        records[count++] = fresh;
    } else {
        records[slot] = fresh;
    }
    const int32_t end = AppendPhaseBlock(scratch, bytes, QV_TEMPLATE_SIZE, records, count);
    if (end < 0) return kRefused;
    std::memcpy(out, scratch, static_cast<size_t>(end));
    std::memset(out + end, 0, static_cast<size_t>(QV_TEMPLATE_SIZE - end));
    return kDone;
}

}  // namespace

int32_t CorrelatedMerge(const uint8_t *base, const uint8_t *add, uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    GalleryView gallery{}, touch{};
    PhaseRecords galleryPhases{}, touchPhases{};
    if (out == nullptr || scratch == nullptr) return kRefused;
    if (!ReadCorrelatedTemplate(base, QV_TEMPLATE_SIZE, gallery, galleryPhases) ||
        !ReadCorrelatedTemplate(add, QV_TEMPLATE_SIZE, touch, touchPhases))
        return kRefused;
    const int32_t bytes = GalleryMergeInto(base, add, kCorrelatedIslandPoints, scratch, scratchSize);
    return finish(bytes, gallery, galleryPhases, gallery.count, IslandRecord(touch, touchPhases, 0), scratch, out);
}

int32_t CorrelatedRenew(uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    const GalleryMatchState &last = LastGalleryMatch();
    GalleryView gallery{}, touch{};
    PhaseRecords galleryPhases{}, touchPhases{};
    if (out == nullptr || scratch == nullptr || !last.valid) return kRefused;
    if (!ReadCorrelatedTemplate(last.stored, QV_TEMPLATE_SIZE, gallery, galleryPhases) ||
        !ReadCorrelatedTemplate(last.probe, QV_TEMPLATE_SIZE, touch, touchPhases)) {
        ForgetGalleryMatch();
        return kRefused;
    }
    int32_t slot = 0;
    const int32_t bytes = GalleryRenewInto(kCorrelatedRenewScore, kCorrelatedIslandPoints, scratch, scratchSize, slot);
    return finish(bytes, gallery, galleryPhases, slot, IslandRecord(touch, touchPhases, 0), scratch, out);
}
