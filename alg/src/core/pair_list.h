// Lists of point pairs between a reference set and a probe set, and the record
// of the best alignment that matching leaves for merging and renewal.
//
// A candidate list (descriptor matching) holds one entry per reference point
// that some probe point claimed, with the descriptor weight and kind 0. A
// matched list (alignment) holds the pairs one trial confirmed, with kind 1, 2
// or 3. Both carry one near-duplicate flag per reference point.
#ifndef QV_PAIR_LIST_H
#define QV_PAIR_LIST_H

#include <cstddef>
#include <cstdint>

#include "QVAlgDll.h"
#include "core/featureset.h"

// Kinds of a pair.
inline constexpr uint32_t kPairCandidate = 0;   // descriptor candidate, not yet confirmed
inline constexpr uint32_t kPairDescriptor = 1;  // candidate confirmed by the alignment
inline constexpr uint32_t kPairSameType = 2;    // two minutiae of the same type, by position
inline constexpr uint32_t kPairCrossType = 3;   // two minutiae of different types, by position

struct CandidatePair {
    uint32_t waitIndex;  // index into the probe set
    uint32_t tempIndex;  // index into the reference set
    int32_t weight;      // descriptor weight of a candidate; 0 in a matched list
    uint32_t kind;
};

struct PairList {
    uint32_t total;
    uint32_t minutiaPairs;
    uint32_t kneePairs;        // pairs of ridge knee points
    uint32_t valleyKneePairs;  // pairs of valley knee points
    CandidatePair pairs[kMaxFeaturePoints];
    uint8_t nearDuplicate[kMaxFeaturePoints];  // per reference point
};
static_assert(sizeof(PairList) == 13616 && offsetof(PairList, pairs) == 16 &&
              offsetof(PairList, nearDuplicate) == 12816);

// Fields of resultMax, the best alignment of the last match or merge.
enum MatchResultField : int32_t {
    kResultScore = 0,
    kResultRotation = 1,  // degrees 0..359, probe onto reference
    kResultDx = 2,        // reference anchor x - probe anchor x
    kResultDy = 3,
    kResultPairs = 4,
    kResultRefAnchor = 5,
    kResultProbeAnchor = 6,
    kResultFields = 7,
};

#endif
