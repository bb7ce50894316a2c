// The matching engine: decode both templates, collect descriptor candidates,
// try the heaviest as anchors under seven rotations, keep the best trial, then
// correct its score (match) or hand it to the merge (merge).
#include "matching/feature_match.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/fixedmath.h"
#include "core/template_codec.h"
#include "matching/descriptor_match.h"
#include "matching/match_rules.h"
#include "matching/minutiae_align.h"
#include "matching/template_merge.h"

namespace {

// Rotations tried around an anchor's angle difference: -3..+3 degrees.
constexpr int32_t kRotationSpread = 3;
// One pair's worth of score, subtracted before a trial is scored.
constexpr int32_t kPairWorth = 55;
constexpr int32_t kMinScoreDivisor = 65;
// Squared distances of the spread check.
constexpr int32_t kCloseSquared = 80;
constexpr int32_t kWideSquared = 1000;
constexpr int32_t kNarrowKindOneSquared = 399;
constexpr int32_t kNarrowMeanSquared = 269;
constexpr int32_t kNarrowBase = 450;

bool g_matchState = false;
// Fingerprint of the match state when the match ended. Template creation
// reuses tempbuf, so renewal checks that the state is still what the match
// left rather than trusting the flag alone.
uint64_t g_matchStamp = 0;

uint64_t hashBytes(uint64_t h, const void *data, size_t size) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, p + i, sizeof word);
        h = (h ^ word) * 1099511628211ull;
        h ^= h >> 29;
    }
    for (; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

uint64_t hashSet(uint64_t h, const FeatureSet *set) {
    uint64_t total = static_cast<uint64_t>(set->minutiaCount) + set->kneeCount + set->valleyKneeCount;
    if (total > static_cast<uint64_t>(kMaxFeaturePoints)) total = kMaxFeaturePoints;
    return hashBytes(h, set, offsetof(FeatureSet, points) + total * sizeof(Minutia));
}

uint64_t matchStamp() {
    if (MFeatureTemp.set == nullptr || MFeatureWait.set == nullptr || pxlyMatchPtMax == nullptr) return 0;
    uint64_t h = 14695981039346656037ull;
    h = hashSet(h, MFeatureTemp.set);
    h = hashSet(h, MFeatureWait.set);
    h = hashBytes(h, MFeatureTemp.mask, offsetof(FeatureMask, cells));
    h = hashBytes(h, MFeatureWait.mask, offsetof(FeatureMask, cells));
    // The alignment, not its score: the score is checked on its own.
    h = hashBytes(h, resultMax + kResultRotation, sizeof resultMax - sizeof resultMax[0]);
    return hashBytes(h, pxlyMatchPtMax, sizeof(PairList));
}

int32_t coord(uint32_t v) { return static_cast<int32_t>(v); }

void clearAligned(FeatureSet &set, uint32_t points) {
    std::memset(&set, 0, offsetof(FeatureSet, points) + points * sizeof(Minutia));
}

struct TrialRun {
    int32_t best = 0;
    bool stopped = false;
};

// One anchor under one rotation; updates resultMax and the best list.
void runTrial(const MatchWorkspace &ws, bool merging, const AlignmentLimits &limits, uint32_t i, uint32_t j, int32_t dx,
              int32_t dy, int32_t r, TrialRun &run) {
    clearAligned(*ws.alignedProbe, FeaturePointCount(*ws.probe));
    clearAligned(*ws.alignedRef, FeaturePointCount(*ws.ref));
    MinuMatchAlign(*ws.probe, *ws.alignedProbe, *ws.candidates, static_cast<int32_t>(j), dx, dy, r, kAlignProbeSide);
    int32_t trial[kTrialFields] = {};
    LibAlignMatch(*ws.alignedProbe, *ws.ref, *ws.candidates, trial, *ws.trial);
    if (!merging && trial[kTrialPairs] <= limits.minPairs) return;
    MinuMatchAlign(*ws.ref, *ws.alignedRef, *ws.candidates, static_cast<int32_t>(i), -dx, -dy, (360 - r) % 360,
                   kAlignReferenceSide);
    for (uint32_t k = 0; k < ws.ref->minutiaCount; ++k)
        ws.alignedRef->points[k].pairState = ws.ref->points[k].pairState;
    int32_t unpaired = 0;
    const int32_t kneeCandidates =
        CalNoMatchedNum3(*ws.refMask, *ws.probeMask, *ws.alignedRef, *ws.alignedProbe, *ws.candidates, unpaired);
    int32_t score = 0;
    if (!TrialScore(trial[kTrialPairScore], static_cast<int32_t>(ws.trial->kneePairs),
                    static_cast<int32_t>(ws.trial->valleyKneePairs), kneeCandidates, unpaired, score))
        return;
    if (score > run.best) {
        run.best = score;
        resultMax[kResultScore] = score;
        resultMax[kResultRotation] = r;
        resultMax[kResultDx] = dx;
        resultMax[kResultDy] = dy;
        resultMax[kResultPairs] = trial[kTrialPairs];
        resultMax[kResultRefAnchor] = static_cast<int32_t>(i);
        resultMax[kResultProbeAnchor] = static_cast<int32_t>(j);
        std::memcpy(ws.best, ws.trial, sizeof(PairList));
    }
    if (resultMax[kResultPairs] > limits.earlyStopPairs && resultMax[kResultScore] > kEarlyStopScore)
        run.stopped = true;
}

void runAnchorTrials(const MatchWorkspace &ws, bool merging, const AlignmentLimits &limits) {
    TrialRun run;
    const uint32_t maxAnchors = static_cast<uint32_t>(ActiveMatchRules().maxAnchors);
    const uint32_t anchors = ws.candidates->total < maxAnchors ? ws.candidates->total : maxAnchors;
    for (uint32_t k = 0; k < anchors && !run.stopped; ++k) {
        const uint32_t j = ws.candidates->pairs[k].waitIndex;
        const uint32_t i = ws.candidates->pairs[k].tempIndex;
        const Minutia &p = ws.probe->points[j];
        const Minutia &q = ws.ref->points[i];
        if (p.weakFlag || q.weakFlag) continue;
        const int32_t dx = coord(q.x) - coord(p.x);
        const int32_t dy = coord(q.y) - coord(p.y);
        const int32_t d = GetAngleDis(coord(p.angle), coord(q.angle));
        const int32_t step = ActiveMatchRules().rotationStep;
        for (int32_t delta = -(kRotationSpread / step) * step; delta <= kRotationSpread && !run.stopped; delta += step)
            runTrial(ws, merging, limits, i, j, dx, dy, (d + delta + 360) % 360, run);
    }
}

// Leaves the best alignment's pairing on the decoded sets.
void markBestPairs(const MatchWorkspace &ws) {
    const uint32_t probeTotal = FeaturePointCount(*ws.probe);
    const uint32_t refTotal = FeaturePointCount(*ws.ref);
    for (uint32_t k = 0; k < probeTotal; ++k) ws.probe->points[k].pairState = 0;
    for (uint32_t k = 0; k < refTotal; ++k) ws.ref->points[k].pairState = 0;
    for (uint32_t k = 0; k < ws.best->total; ++k) {
        const CandidatePair &e = ws.best->pairs[k];
        if (e.waitIndex < probeTotal) ws.probe->points[e.waitIndex].pairState = static_cast<uint8_t>(e.kind);
        if (e.tempIndex < refTotal) ws.ref->points[e.tempIndex].pairState = static_cast<uint8_t>(e.kind);
    }
    std::memcpy(ws.best->nearDuplicate, ws.candidates->nearDuplicate, sizeof ws.best->nearDuplicate);
}

int32_t finish(int32_t score) {
    if (score < kMinMatchScore) score = kMinMatchScore;
    resultMax[kResultScore] = score;
    return score;
}

// Final scoring of the best alignment on the match path.
int32_t finalScore(const MatchWorkspace &ws, const AlignmentLimits &limits) {
    const int32_t pairs = resultMax[kResultPairs];
    int32_t score = resultMax[kResultScore];
    if (score < kMinMatchScore) score = kMinMatchScore;
    if (pairs <= limits.minPairs) return finish(0);
    if (score < kCorrectionScore) return finish(score);
    int32_t visited = 0;
    if (pairs <= limits.earlyStopPairs) {
        const Minutia &a = ws.probe->points[resultMax[kResultProbeAnchor]];
        int32_t overlapping = 0;
        MaskOverlap(*ws.probeMask, *ws.refMask, coord(a.x), coord(a.y), resultMax[kResultDx], resultMax[kResultDy],
                    resultMax[kResultRotation], visited, overlapping);
        score += OverlapCorrection(QV_CURRENT_VER, visited, overlapping);
    }
    if (score < kCorrectionScore) return finish(score);
    if (pairs < 2 || pairs > limits.earlyStopPairs) return finish(score);
    if (!SpreadCheckApplies(QV_CURRENT_VER, visited)) return finish(score);
    return finish(SpreadCorrection(QV_CURRENT_VER, score, *ws.best, *ws.ref));
}

}  // namespace

AlignmentLimits AlignmentLimitsFor(int32_t version) { return VariantRulesFor(version).alignment; }

bool TrialScore(int32_t pairScore, int32_t ridgeKneePairs, int32_t valleyKneePairs, int32_t kneeCandidates,
                int32_t unpaired, int32_t &score) {
    const int64_t s = static_cast<int64_t>(pairScore) - kPairWorth;
    if (s < 0) return false;
    const int64_t kneePairs = static_cast<int64_t>(ridgeKneePairs) + valleyKneePairs;
    const int64_t kneesUnpaired = kneeCandidates - kneePairs;
    int64_t m = kneePairs > kneesUnpaired ? kneePairs : kneesUnpaired;
    if (ActiveMatchRules().halveKneeTerm) m /= 2;
    const int64_t d = (2 * m + unpaired) * kPairWorth;
    const int64_t t1 = 16 * (s / (d > kMinScoreDivisor ? d : kMinScoreDivisor));
    const int64_t sd = s + d;
    const int64_t t2 = s * s / (2 * (sd > kMinScoreDivisor ? sd : kMinScoreDivisor));
    const int64_t total = (t1 + t2) >> 1;
    score = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    return true;
}

int32_t OverlapCorrection(int32_t version, int32_t visited, int32_t overlapping) {
    const OverlapRule &rule = VariantRulesFor(version).overlap;
    if (visited <= rule.visitedAbove) return 0;
    if (overlapping <= rule.fullUpTo) return overlapping - rule.base;
    if (overlapping <= rule.halfUpTo) return (overlapping - rule.base) / 2;
    return 0;
}

bool SpreadCheckApplies(int32_t version, int32_t visited) {
    return visited >= VariantRulesFor(version).spreadMinVisited;
}

int32_t SpreadCorrection(int32_t version, int32_t score, const PairList &matched, const FeatureSet &ref) {
    const uint32_t n = matched.total;
    const uint32_t refTotal = FeaturePointCount(ref);
    int32_t kindOne = 0;
    for (uint32_t k = 0; k < n; ++k)
        if (matched.pairs[k].kind == kPairDescriptor) ++kindOne;
    int64_t qMax = 0;
    int64_t q1Max = 0;
    int64_t q1Sum = 0;
    int64_t c1 = 0;
    int64_t close = 0;
    const bool simpleClose = VariantRulesFor(version).simpleSpread;
    for (uint32_t a = 0; a < n; ++a) {
        const uint32_t ia = matched.pairs[a].tempIndex;
        if (ia >= refTotal) continue;
        for (uint32_t b = a + 1; b < n; ++b) {
            const uint32_t ib = matched.pairs[b].tempIndex;
            if (ib >= refTotal) continue;
            const int64_t ex = coord(ref.points[ia].x) - coord(ref.points[ib].x);
            const int64_t ey = coord(ref.points[ia].y) - coord(ref.points[ib].y);
            const int64_t q = ex * ex + ey * ey;
            if (q > qMax) qMax = q;
            if (kindOne > 2 && matched.pairs[a].kind == kPairDescriptor && matched.pairs[b].kind == kPairDescriptor) {
                ++c1;
                q1Sum += q;
                if (q > q1Max) q1Max = q;
                if (q < kCloseSquared)
                    close += simpleClose ? 1 : ((10 - getSqrtByInt(static_cast<int32_t>(q))) * 3) >> 1;
            }
        }
    }
    const int32_t pairs = static_cast<int32_t>(n);
    int64_t s = score;
    auto fewKindOne = [&]() {
        if (pairs < 5) s -= 10 * (pairs - kindOne);
        if (qMax < kWideSquared) s += (qMax - kWideSquared) / 10;
    };
    if (simpleClose) {
        if (kindOne > 2 && q1Max > kNarrowKindOneSquared) {
            const int64_t mean = c1 > 0 ? q1Sum / c1 : 0;
            if (mean > kNarrowMeanSquared) {
                if (qMax < kWideSquared)
                    s += (qMax - kWideSquared) / 10;
                else
                    s -= 10 * close;
            } else {
                s += (mean - (kNarrowMeanSquared + 1)) / 2;
                if (qMax < kWideSquared) s += (qMax - kWideSquared) / 10;
            }
        } else if (kindOne > 2) {
            s += (q1Max - kNarrowBase) / 2;
        } else {
            fewKindOne();
        }
    } else if (kindOne >= 3) {
        if (close >= 1) {
            if (pairs < 11)
                s -= close;
            else
                s += (3 * pairs) / 2 - close;
        } else if (kindOne < 5) {
            s >>= 1;
        }
        if (q1Max <= kNarrowKindOneSquared) s += (q1Max - kNarrowBase) / 2;
    } else {
        fewKindOne();
    }
    if (s < kMinMatchScore) s = kMinMatchScore;
    if (s > INT32_MAX) s = INT32_MAX;
    return static_cast<int32_t>(s);
}

int32_t FeatureMatch(const uint8_t *reference, const uint8_t *probe, uint8_t *merged, uint16_t *overlap,
                     uint16_t *width, uint16_t *height, uint8_t *scratch, int32_t scratchSize) {
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return kMatchScratchTooSmall;
    g_matchState = false;
    std::memset(scratch, 0, static_cast<size_t>(scratchSize));
    std::memset(resultMax, 0, sizeof resultMax);
    const MatchWorkspace ws = MatchWorkspaceAt(scratch);
    MFeatureTemp = FeatureSlot{ws.ref, ws.refMask};
    MFeatureWait = FeatureSlot{ws.probe, ws.probeMask};
    MFeatureMerge = FeatureSlot{ws.alignedRef, ws.mergeMask};
    pxlyMatchPtMax = ws.best;
    const bool merging = merged != nullptr;

    if (reference == nullptr || probe == nullptr) return kMatchDecodeFailed;
    if (DecodeTemplate(probe, QV_TEMPLATE_SIZE, &MFeatureWait) < 0) return kMatchDecodeFailed;
    if (DecodeTemplate(reference, QV_TEMPLATE_SIZE, &MFeatureTemp) < 0) return kMatchDecodeFailed;

    if (SiftMatch3(*ws.ref, *ws.probe, *ws.candidates) < 1) return merging ? kMergeRefused : 0;
    const AlignmentLimits limits = AlignmentLimitsFor(QV_CURRENT_VER);
    runAnchorTrials(ws, merging, limits);
    markBestPairs(ws);
    if (merging) return MergeAligned(ws, merged, overlap, width, height);
    const int32_t score = finalScore(ws, limits);
    g_matchState = true;
    g_matchStamp = matchStamp();
    return score;
}

bool PrepareProbe(const uint8_t *probe, int32_t probeSize, int32_t profile, uint8_t *scratch, int32_t scratchSize,
                  MatchWorkspace &ws) {
    g_matchState = false;
    if (scratch == nullptr || scratchSize < kMatchScratchSize) return false;
    ws = MatchWorkspaceAt(scratch);
    MFeatureTemp = FeatureSlot{ws.ref, ws.refMask};
    MFeatureWait = FeatureSlot{ws.probe, ws.probeMask};
    MFeatureMerge = FeatureSlot{ws.alignedRef, ws.mergeMask};
    pxlyMatchPtMax = ws.best;
    // The decoders clear the sets and fill the masks they use; the aligned
    // sets are cleared trial by trial; only the lists start from nothing.
    std::memset(ws.best, 0, 3 * sizeof(PairList));
    // Each reference decoded later clears only what the one before it used.
    std::memset(ws.ref, 0, sizeof(FeatureSet));
    return DecodeTemplateAs(probe, probeSize, &MFeatureWait, profile) >= 0;
}

int32_t MatchPreparedProbe(const MatchWorkspace &ws, const uint8_t *reference, int32_t referenceSize, int32_t profile) {
    std::memset(resultMax, 0, sizeof resultMax);
    ws.best->total = 0;
    if (DecodeTemplateOver(reference, referenceSize, &MFeatureTemp, profile, FeaturePointCount(*ws.ref)) < 0)
        return kMatchDecodeFailed;
    if (SiftMatch3(*ws.ref, *ws.probe, *ws.candidates) < 1) return 0;
    const AlignmentLimits limits = AlignmentLimitsFor(QV_CURRENT_VER);
    runAnchorTrials(ws, false, limits);
    return finalScore(ws, limits);
}

int32_t FeatureMerge(const uint8_t *reference, const uint8_t *probe, uint8_t *out, uint16_t *overlap, uint16_t *width,
                     uint16_t *height, uint8_t *scratch, int32_t scratchSize) {
    if (out == nullptr) return kMergeRefused;
    return FeatureMatch(reference, probe, out, overlap, width, height, scratch, scratchSize);
}

int32_t Match2Features(const uint8_t *reference, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize) {
    return FeatureMatch(reference, probe, nullptr, nullptr, nullptr, nullptr, scratch, scratchSize);
}

bool MatchStateForRenewal() { return g_matchState && matchStamp() == g_matchStamp; }
void ConsumeMatchState() { g_matchState = false; }
