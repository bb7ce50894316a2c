// The rules that differ between the sensor variants selected by QV_CURRENT_VER
// (its values 1 to 6 name the same variants as the sensor types of algdef).
// Each stage that differs reads its rule from this table instead of
// branching on the number; a value outside 1 to 6 gets the row of its side.
#ifndef QV_VARIANT_RULES_H
#define QV_VARIANT_RULES_H

#include <cstdint>

#include "QVAlgDll.h"

// How raw captures are conditioned and stripes removed.
enum class Conditioning : uint8_t {
    kChannels,     // period-8 channel offsets
    kColumnPairs,  // column groups of 2; mean and range in 8-bit levels; own 16-to-8 conversion
    kColumnQuads,  // column groups of 4; the finger mask is eroded before the stretch
};

// Column groups (and row-and-phase stripe phases) of the column-group paths.
constexpr int32_t ColumnGroups(Conditioning c) { return c == Conditioning::kColumnPairs ? 2 : 4; }

struct BlockSize {
    int32_t w;
    int32_t h;
};

// Pair limits of an alignment.
struct AlignmentLimits {
    int32_t minPairs;        // a match needs more pairs than this
    int32_t earlyStopPairs;  // more pairs than this (and a good score) end the search
};

// Score change for a small overlap of the two finger areas: with more than
// visitedAbove sampled finger cells, an overlap o up to fullUpTo costs
// o - base, one up to halfUpTo costs (o - base) / 2.
struct OverlapRule {
    int64_t visitedAbove;
    int64_t fullUpTo;
    int64_t halfUpTo;
    int32_t base;
};

// Bounds of OverlapRule and spreadMinVisited: every count lies below kNever
// and above kNone, so "above kNone" always holds and "up to kNone" never.
inline constexpr int64_t kNever = INT64_MAX;
inline constexpr int64_t kNone = INT64_MIN;

struct VariantRules {
    Conditioning conditioning;
    bool tallStretchWindow;      // the contrast stretch window is 101 rows high, not 51
    int32_t strengthFloor;       // gradient-strength low bound of package 0
    bool enhancedOrientation;    // the orientation is estimated again on a contrast-enhanced image
    bool valleys;                // a valley skeleton is built and its knee points kept
    BlockSize dryWetBlock;       // block of the dry/wet measure
    bool doubledQuality;         // the quality word is doubled
    bool rawLevelPenalty;        // bright or washed-out raw captures lose quality
    int32_t kneeCandidateAngle;  // descriptor candidates after a knee: angle tolerance (0: unchanged)
    AlignmentLimits alignment;
    OverlapRule overlap;
    int64_t spreadMinVisited;     // the spread check runs from this many sampled finger cells
    bool simpleSpread;            // the spread check counts each close pair once
    int32_t mergeOverlapDivisor;  // sampled finger cells that count as full overlap
    bool renewNeedsThreePairs;    // a renewal needs three matched pairs
};

namespace variant_rules_detail {
using C = Conditioning;
inline constexpr OverlapRule kNoOverlapRule{kNever, kNone, kNone, 0};
// Index 0: values below 1; 1 to 6: the variants; 7: values above 6.
inline constexpr VariantRules kTable[8] = {
    {C::kChannels,
     false,
     50,
     false,
     false,
     {8, 8},
     false,
     false,
     0,
     {2, 10},
     kNoOverlapRule,
     kNever,
     false,
     144,
     false},
    {C::kChannels, false, 50, false, false, {8, 8}, false, false, 0, {2, 10}, {100, 44, 76, 77}, 51, true, 144, false},
    {C::kChannels, true, 50, false, false, {9, 8}, false, false, 0, {2, 10}, {100, kNone, 44, 77}, 51, true, 150, true},
    {C::kColumnPairs,
     true,
     110,
     true,
     true,
     {11, 9},
     false,
     true,
     0,
     {3, 20},
     {80, kNone, 35, 36},
     21,
     false,
     120,
     true},
    {C::kColumnQuads,
     false,
     110,
     true,
     true,
     {8, 8},
     true,
     true,
     10,
     {3, 20},
     {kNone, kNone, 15, 16},
     21,
     false,
     75,
     false},
    {C::kColumnQuads, false, 110, true, true, {8, 8}, false, true, 0, {3, 20}, {90, 43, 71, 72}, 21, false, 135, false},
    {C::kColumnQuads, true, 110, true, true, {7, 8}, false, true, 0, {3, 20}, {65, 31, 51, 52}, 26, false, 98, true},
    {C::kColumnQuads,
     false,
     110,
     true,
     true,
     {8, 8},
     false,
     true,
     0,
     {3, 20},
     kNoOverlapRule,
     kNever,
     false,
     144,
     false},
};
}  // namespace variant_rules_detail

constexpr const VariantRules &VariantRulesFor(int32_t variant) {
    return variant_rules_detail::kTable[variant < 1 ? 0 : (variant > 6 ? 7 : variant)];
}

// The rules of the variant the host selected.
inline const VariantRules &CurrentVariantRules() { return VariantRulesFor(QV_CURRENT_VER); }

#endif
