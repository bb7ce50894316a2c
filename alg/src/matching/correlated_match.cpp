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

// An island the engine scores at least kPoseIslandScore is checked where the
// engine put the touch: the correlation peak at that rotation and shift
// (within a cell) adds one point per kPoseStep permille above kPoseBase to
// the island's score. kPoseBase lies above the peak most impostors reach at
// the engine's pose (median about 210 permille, 99th percentile 460-510; a
// genuine touch's median 580-610), so that chance agreement adds little; an
// impostor's best peak anywhere, over every rotation and shift, often comes
// close to a genuine one. The fused score then adds to the sum of the two
// best island scores one point per kPeakStep permille of the best peak
// anywhere above kPeakBase (touches the engine cannot place), less
// kCorrelatedOffset. The constants were chosen on one cut of the real sets at
// 96 x 96 and confirmed on another (tools/fpeval --csv gives the parts); the
// offset puts the highest impostor sum measured (85: real and SFinGe sets,
// both cuts, all three sensor sizes, three draws of the 96 x 96 model's
// readout noise) 10 below the service's threshold, the margin profile 2's
// offset keeps too; one cut under one draw gave anything from 55 to 85. A
// lower kPoseBase gained up to two points more on the real sets but let far
// more generated fingers and renewed galleries through.
constexpr int32_t kPoseIslandScore = 18;
constexpr int32_t kPoseBase = 300;
constexpr int32_t kPoseStep = 10;
constexpr int32_t kPeakBase = 900;
constexpr int32_t kPeakStep = 4;
constexpr int32_t kCorrelatedOffset = 50;

FusionParts g_parts{0, 0};

}  // namespace

FusionParts LastFusionParts() { return g_parts; }

int32_t FuseScores(int32_t islandSum, int32_t correlationPeak) {
    const int64_t bonus = correlationPeak > kPeakBase ? (correlationPeak - kPeakBase) / kPeakStep : 0;
    const int64_t fused = static_cast<int64_t>(islandSum) + bonus - kCorrelatedOffset;
    return fused < 0 ? 0 : (fused > INT32_MAX ? INT32_MAX : static_cast<int32_t>(fused));
}

int32_t PoseCheckedScore(int32_t engineScore, int32_t posePeak) {
    if (engineScore < kPoseIslandScore || posePeak <= kPoseBase) return engineScore;
    const int64_t checked = static_cast<int64_t>(engineScore) + (posePeak - kPoseBase) / kPoseStep;
    return checked > INT32_MAX ? INT32_MAX : static_cast<int32_t>(checked);
}

namespace {

// The touch's two rotation records nearest the engine's rotation of the touch
// onto the island (the records turn the other way), or false when the
// rotation lies beyond the records.
bool nearestRecords(int32_t rotation, int32_t &first, int32_t &second) {
    int32_t angle = (360 - rotation % 360) % 360;  // 0..359
    if (angle > 180) angle -= 360;
    constexpr int32_t half = kRotationStep / 2;
    const int32_t t = angle - kFirstRotation;
    if (t < -half || t > (kTouchRotations - 1) * kRotationStep + half) return false;
    first = (t + half) / kRotationStep;
    if (first > kTouchRotations - 1) first = kTouchRotations - 1;
    second = t > first * kRotationStep ? first + 1 : first - 1;
    if (second < 0 || second > kTouchRotations - 1) second = first;
    return true;
}

// The correlation peak of island record `stored` at the engine's pose of the
// touch (0 when the island scored too little or the pose lies beyond the
// touch's rotations).
int32_t posePeak(const uint8_t *stored, const PhaseRecords &touch, const IslandPose &pose) {
    int32_t first = 0, second = 0;
    if (pose.score < kPoseIslandScore || !nearestRecords(pose.rotation, first, second)) return 0;
    const auto record = [&touch](int32_t r) { return touch.records + static_cast<int64_t>(r) * kPhaseBytes; };
    // A frame cell is two pixels, four half pixels; the peak's 2 x 2 block
    // starts half a cell before the shift.
    return PosePeak(stored, record(first), record(second), pose.shiftX2 >> 2, pose.shiftY2 >> 2);
}

}  // namespace

int32_t CorrelatedMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize) {
    ForgetGalleryMatch();
    g_parts = FusionParts{0, 0};
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return kMatchScratchTooSmall;
    GalleryView gallery{}, live{};
    PhaseRecords galleryPhases{}, livePhases{};
    if (!ReadCorrelatedTemplate(stored, QV_TEMPLATE_SIZE, gallery, galleryPhases) ||
        !ReadCorrelatedTemplate(probe, QV_TEMPLATE_SIZE, live, livePhases))
        return kMatchDecodeFailed;
    IslandPose poses[kMaxIslands]{};
    const IslandScores engine = ScoreIslands(gallery, live.islands[0], scratch, scratchSize, poses);
    if (engine.best == kMatchDecodeFailed) return kMatchDecodeFailed;
    // A touch searches over its rotations; a gallery given as the probe
    // offers its first island unrotated and no pose check.
    const bool touch = livePhases.count == kTouchRotations && live.count == 1;
    const uint8_t *probeRecords = touch ? livePhases.records : IslandRecord(live, livePhases, 0);
    const int32_t probeCount = touch ? kTouchRotations : 1;
    int32_t peak = 0, peakIsland = -1;
    int32_t best = 0, second = 0, bestIsland = -1;
    for (int32_t k = 0; k < gallery.count; ++k) {
        const uint8_t *record = IslandRecord(gallery, galleryPhases, k);
        const int32_t p = BestCorrelationPeak(record, probeRecords, probeCount, nullptr);
        if (p > peak) {
            peak = p;
            peakIsland = k;
        }
        const int32_t checked = PoseCheckedScore(poses[k].score, touch ? posePeak(record, livePhases, poses[k]) : 0);
        if (checked > best) {
            second = best;
            best = checked;
            bestIsland = k;
        } else if (checked > second) {
            second = checked;
        }
    }
    const int32_t islandSum = best + second;
    g_parts = FusionParts{islandSum, peak};
    const int32_t score = FuseScores(islandSum, peak);
    // Renewal credits the island of the best checked score, or the best
    // correlated island when no island scored.
    const int32_t island = bestIsland >= 0 ? bestIsland : peakIsland;
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
