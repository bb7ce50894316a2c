// Knee points: places where a ridge of the thinned skeleton bends sharply,
// away from minutiae. Every ridge is traced from its endings and from the
// branches of its bifurcations; at each ridge point the angle between the
// ridge a few points back and a few points ahead is measured, and the points
// where that angle is sharpest within a small radius are kept.
#ifndef QV_KNEE_POINTS_H
#define QV_KNEE_POINTS_H

#include <cstdint>

#include "core/featureset.h"
#include "extraction/skeleton_walk.h"

// One point of a candidate list, a ridge trace or the knee list. For a
// minutia candidate `angle` is unused, `value` holds the smoothness score and
// `flag` the edge-at-detection flag. For a ridge trace or knee point `angle`
// is the knee direction (0..359), `value` the knee angle (0..180, 180 =
// straight) and `flag` one of the KneeFlag values.
struct PointRecord {
    uint32_t x;
    uint32_t y;
    uint32_t angle;
    int32_t value;
    uint8_t flag;
};
static_assert(sizeof(PointRecord) == 20);

enum KneeFlag : uint8_t { kKneeKept = 0, kKneeSuppressed = 1, kKneeRejected = 2 };

inline constexpr int32_t kKneeListCapacity = 300;
inline constexpr int32_t kTraceCapacity = 300;
inline constexpr int32_t kStartCapacity = 200;

// Scratch of one knee search. vwn_GetKneePoint receives the knee list; the
// trace and the start list (x then y per start) follow it in this record.
struct KneeWorkspace {
    PointRecord knees[kKneeListCapacity];
    PointRecord trace[kTraceCapacity];
    uint8_t starts[2 * kStartCapacity];
};
static_assert(sizeof(KneeWorkspace) == 12400);

// Crossing sums of a line ending and of a bifurcation (one and three black
// runs around the pixel), and CrossingSum with the neighbour offsets of the
// scan computed once: the skeleton scans test every black pixel.
inline constexpr int32_t kEndCrossing = 2 * kWhite;
inline constexpr int32_t kForkCrossing = 3 * kEndCrossing;
inline int32_t ScanCrossingSum(const uint8_t *p, const NeighbourOffsets &n) {
    int32_t sum = 0;
    for (int32_t k = 0; k < 8; ++k) {
        const int32_t d = p[n.at[(k + 1) & 7]] - p[n.at[k]];
        sum += d < 0 ? -d : d;
    }
    return sum;
}

// Result when the start list or the knee list overflows.
inline constexpr int32_t kKneeOverflow = -54;

// Finds the knee points of a w x h skeleton (0 = ridge, 255 = white, white
// frame of at least one pixel). `copy` (at least w x h bytes) receives a copy
// of the skeleton that tracing consumes; it is all zeros again on success.
// Knee points near any minutia candidate of the two lists (false ones
// included) are rejected. On success returns 0 and the number of knee
// records, suppressed ones included, in *kneeCount; returns kKneeOverflow
// when 200 starts or 300 knee records are reached (copy then not cleared).
int32_t vwn_GetKneePoint(const uint8_t *skeleton, const uint8_t *grownMask, KneeWorkspace *knees, uint8_t *copy,
                         int32_t w, int32_t h, const PointRecord *forks, const PointRecord *endings,
                         int32_t endingCount, int32_t forkCount, int32_t *kneeCount);

// Traces the ridge that starts at `start` (which must have exactly one black
// neighbour once it is made white): every point is made white and recorded
// in the trace (x, y; other fields cleared), at most kTraceCapacity of them;
// a longer ridge is still followed and whitened to its end. Stops where the
// ridge ends or at a junction, which stays black. Reports the last position in
// *end and the last neighbour count in *status; returns the number of points
// of the ridge, 0 when the start is not a line ending.
int32_t GetRidgeDis(uint8_t *start, const uint8_t *origin, uint8_t **end, PointRecord *trace, int32_t *status,
                    int32_t w, int32_t h);

// Knee angle and knee direction, with arms of k points, of every trace point
// k .. n-k-1. Returns -1 when the trace is too short (n - k - 1 <= k), else 0.
int32_t vwn_CalKneeOrinetByRidge(PointRecord *trace, int32_t n, int32_t k);

// Knee angle of trace point i with arms of k points into *out. Returns -1
// when point i - k or i + k lies outside the trace, else 0.
int32_t vwn_GetCurKneeAngletByRidge(const PointRecord *trace, int32_t n, int32_t k, int32_t i, uint8_t *out);

// Dominant direction class 0..3 of the ridge knee points of the set: 0 around
// 180 degrees, 1 around 90, 2 around 0, 3 around 270; the lowest class wins
// a tie, 0 when there are no knee points.
int32_t CalKneePtMaxOrient(const FeatureSet *set);

#endif
