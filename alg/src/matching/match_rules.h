// The rules of the matching engine that differ between recognition profiles.
// Profile 1 runs with the original rules; a profile 2 match switches to the
// gallery rules for its own duration (ScopedMatchRules), so every engine stage
// called on its own keeps the original behaviour.
#ifndef QV_MATCH_RULES_H
#define QV_MATCH_RULES_H

#include <cstdint>

struct MatchRules {
    // Reference points a probe point proposes as candidates. 1: the original
    // best-match search with its ratio test and one owner per reference point.
    // More: the nearest points of the probe point's own kind, each kept while
    // its distance is at most nextProposalRatio % of the next one's, and
    // several probe points may propose one reference point.
    int32_t proposalsPerPoint;
    int32_t nextProposalRatio;
    int32_t minProposalWeight;
    // Halve the knee term of a trial's score (the penalty for knee candidates
    // left unpaired): several proposals per point would otherwise inflate it.
    bool halveKneeTerm;
    // Rotations an anchor is tried under: its angle difference and steps of
    // this many degrees up to 3 either side.
    int32_t rotationStep;
    // Candidates tried as anchors: the first of the list, which descriptor
    // matching orders heaviest first.
    int32_t maxAnchors;
};

inline constexpr MatchRules kOriginalMatchRules{1, 0, 0, false, 1, 12};
inline constexpr MatchRules kGalleryMatchRules{2, 95, 10, true, 3, 8};

const MatchRules &ActiveMatchRules();

class ScopedMatchRules {
  public:
    explicit ScopedMatchRules(const MatchRules &rules);
    ~ScopedMatchRules();
    ScopedMatchRules(const ScopedMatchRules &) = delete;
    ScopedMatchRules &operator=(const ScopedMatchRules &) = delete;

  private:
    const MatchRules *previous_;
};

#endif
