// Template renewal: after a confident match, fold the verified capture into
// the stored template along the alignment the match found. Nothing is decoded
// again: the canvas merge runs on the two sets the match left in the slots.
#include "matching/template_renew.h"

#include <cstring>

#include "QVAlgDll.h"
#include "matching/feature_match.h"
#include "matching/image_merge.h"
#include "matching/template_merge.h"

namespace {

constexpr int32_t kRenewed = 0;
constexpr int32_t kNotRenewed = 1;
// Fewest matched pairs a renewal needs under the variants that ask for them.
constexpr int32_t kMinRenewPairs = 3;

}  // namespace

int32_t FeatureRenew(uint8_t *out, uint16_t *width, uint16_t *height) {
    // Only the state of a match that nothing has consumed since can be
    // renewed: after a merge or an earlier renewal the reference set is gone.
    if (out == nullptr || !MatchStateForRenewal()) return kNotRenewed;
    if (resultMax[kResultScore] < EATURE_RENEW_THRESHOLD) return kNotRenewed;
    if (CurrentVariantRules().renewNeedsThreePairs && resultMax[kResultPairs] < kMinRenewPairs) return kNotRenewed;
    g_bRenewFlag = 1;
    ConsumeMatchState();
    if (MFeatureTemp.set == nullptr || MFeatureWait.set == nullptr || MFeatureMerge.set == nullptr ||
        pxlyMatchPtMax == nullptr)
        return kNotRenewed;

    std::memset(MFeatureMerge.set, 0, sizeof(FeatureSet));
    std::memset(MFeatureMerge.mask, 0, sizeof(FeatureMask));
    int32_t alignment[kResultFields];
    std::memcpy(alignment, resultMax, sizeof alignment);
    if (ImageMerge2(*MFeatureTemp.set, *MFeatureTemp.mask, *MFeatureWait.set, *MFeatureWait.mask, &MFeatureMerge,
                    alignment, *pxlyMatchPtMax) != 0)
        return kNotRenewed;
    uint16_t w = 0;
    uint16_t h = 0;
    if (!EncodeMergedSlot(MFeatureMerge, out, w, h)) return kNotRenewed;
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return kRenewed;
}
