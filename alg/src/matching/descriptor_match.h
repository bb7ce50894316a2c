// Descriptor matching: proposes candidate pairs between a probe set and a
// reference set from the points' gradient descriptors alone, before any
// geometric alignment. Every candidate passes a ratio test against the second
// best reference point; the heaviest candidates become alignment anchors.
#ifndef QV_DESCRIPTOR_MATCH_H
#define QV_DESCRIPTOR_MATCH_H

#include <cstdint>

#include "core/featureset.h"
#include "core/pair_list.h"

// Result of the best-match search when nothing passes the ratio test.
inline constexpr int32_t kNoDescriptorMatch = 100;

// Sum of squared differences of the two points' descriptors.
int32_t Distance(const Minutia &a, const Minutia &b);

// Best match of probe among the reference minutiae and ridge knee points.
// Returns the ratio best/second distance in percent (0..80) and sets index and
// distance, or kNoDescriptorMatch. Reference points within 4 pixels of a
// better match are marked in flags (one per reference point).
int32_t PointMatchList(const FeatureSet &ref, const Minutia &probe, int32_t &index, int32_t &distance, uint8_t *flags);
// The same over the reference's valley knee points.
int32_t PointMatchList1(const FeatureSet &ref, const Minutia &probe, int32_t &index, int32_t &distance, uint8_t *flags);

// Fills list with at most one probe point per reference point, heaviest 12
// first, and returns the summed weight; 0 with list untouched when either set
// has fewer than 2 points.
int32_t SiftMatch3(const FeatureSet &ref, const FeatureSet &probe, PairList &list);

struct MatchRules;
// Candidate collection with several proposals per probe point (rules with
// proposalsPerPoint above 1; SiftMatch3 calls it under such rules): every
// probe point proposes its nearest reference points of its own group, the
// first under the ratio test, further ones while each is at most
// nextProposalRatio % of the next; the list is ordered heaviest first and
// carries no near-duplicate flags. Returns the total weight.
int32_t ProposeCandidates(const FeatureSet &ref, const FeatureSet &probe, PairList &list, const MatchRules &rules);

#endif
