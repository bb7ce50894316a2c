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
constexpr bool Y = true, N = false;
inline constexpr OverlapRule kNoOverlapRule{kNever, kNone, kNone, 0};
// Index 0: values below 1; 1 to 6: the variants; 7: values above 6. Columns
// in the order of VariantRules.
// clang-format off
inline constexpr VariantRules kTable[8] = {
//   conditioning     tall  floor enh. vall. dry/wet  dbl  pen. knee  align    overlap                  spread  simple merge 3pairs
    {C::kChannels,    N,    50,   N,   N,    {8, 8},  N,   N,   0,    {2, 10}, kNoOverlapRule,          kNever, N,     144,  N},
    {C::kChannels,    N,    50,   N,   N,    {8, 8},  N,   N,   0,    {2, 10}, {100, 44, 76, 77},       51,     Y,     144,  N},
    {C::kChannels,    Y,    50,   N,   N,    {9, 8},  N,   N,   0,    {2, 10}, {100, kNone, 44, 77},    51,     Y,     150,  Y},
    {C::kColumnPairs, Y,    110,  Y,   Y,    {11, 9}, N,   Y,   0,    {3, 20}, {80, kNone, 35, 36},     21,     N,     120,  Y},
    {C::kColumnQuads, N,    110,  Y,   Y,    {8, 8},  Y,   Y,   10,   {3, 20}, {kNone, kNone, 15, 16},  21,     N,     75,   N},
    {C::kColumnQuads, N,    110,  Y,   Y,    {8, 8},  N,   Y,   0,    {3, 20}, {90, 43, 71, 72},        21,     N,     135,  N},
    {C::kColumnQuads, Y,    110,  Y,   Y,    {7, 8},  N,   Y,   0,    {3, 20}, {65, 31, 51, 52},        26,     N,     98,   Y},
    {C::kColumnQuads, N,    110,  Y,   Y,    {8, 8},  N,   Y,   0,    {3, 20}, kNoOverlapRule,          kNever, N,     144,  N},
};
// clang-format on
}  // namespace variant_rules_detail

constexpr const VariantRules &VariantRulesFor(int32_t variant) {
    return variant_rules_detail::kTable[variant < 1 ? 0 : (variant > 6 ? 7 : variant)];
}

// The rules of the variant the host selected.
inline const VariantRules &CurrentVariantRules() { return VariantRulesFor(QV_CURRENT_VER); }

#endif
