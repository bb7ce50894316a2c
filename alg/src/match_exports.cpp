// The exported match, merge and renewal: each follows the recognition
// profile recorded in the templates it is given (renewal: in the last match),
// and templates of different profiles never match or merge.
#include "QVAlgDll.h"
#include "core/recognition_profile.h"
#include "matching/correlated_match.h"
#include "matching/feature_match.h"
#include "matching/gallery_match.h"
#include "matching/gallery_merge.h"
#include "matching/template_merge.h"
#include "matching/template_renew.h"

extern "C" int16_t Quorvane_MatchScore(const uint8_t *templA, const uint8_t *templB) {
    ForgetGalleryMatch();
    const int32_t pa = TemplateProfile(templA);
    const int32_t pb = TemplateProfile(templB);
    int32_t score;
    if (pa == kProfileGallery && pb == kProfileGallery) {
        score = GalleryMatch(templA, templB, tempbuf, QV_WORKSPACE_SIZE);
    } else if (pa == kProfileCorrelated && pb == kProfileCorrelated) {
        score = CorrelatedMatch(templA, templB, tempbuf, QV_WORKSPACE_SIZE);
    } else if (pa != 0 && pb != 0 && pa != pb) {
        // Templates of different profiles never match; the engine's state of
        // an earlier match is no longer the last match.
        ConsumeMatchState();
        score = 0;
    } else {
        score = Match2Features(templA, templB, tempbuf, QV_WORKSPACE_SIZE);
    }
    // A score beyond the 16-bit range saturates instead of wrapping negative.
    return static_cast<int16_t>(score > INT16_MAX ? INT16_MAX : score);
}

extern "C" int16_t Quorvane_MergeFeature(const uint8_t *templA, const uint8_t *templB, uint8_t *merged,
                                         uint16_t *overlap, uint16_t *width, uint16_t *height) {
    ForgetGalleryMatch();
    const int32_t pa = TemplateProfile(templA);
    const int32_t pb = TemplateProfile(templB);
    if (pa == kProfileGallery && pb == kProfileGallery) {
        ConsumeMatchState();
        return static_cast<int16_t>(GalleryMerge(templA, templB, merged, tempbuf, QV_WORKSPACE_SIZE));
    }
    if (pa == kProfileCorrelated && pb == kProfileCorrelated) {
        ConsumeMatchState();
        return static_cast<int16_t>(CorrelatedMerge(templA, templB, merged, tempbuf, QV_WORKSPACE_SIZE));
    }
    if (pa != 0 && pb != 0 && pa != pb) {
        ConsumeMatchState();
        return static_cast<int16_t>(kMergeRefused);
    }
    return static_cast<int16_t>(
        FeatureMerge(templA, templB, merged, overlap, width, height, tempbuf, QV_WORKSPACE_SIZE));
}

extern "C" int16_t Quorvane_RenewFeature(uint8_t *templ, void *, uint16_t *width, uint16_t *height) {
    // A gallery match leaves no engine state and an engine match no gallery
    // state, so at most one of the two renews.
    const GalleryMatchState &last = LastGalleryMatch();
    if (last.valid && TemplateProfile(last.stored) == kProfileCorrelated)
        return static_cast<int16_t>(CorrelatedRenew(templ, tempbuf, QV_WORKSPACE_SIZE));
    if (last.valid) return static_cast<int16_t>(GalleryRenew(templ, tempbuf, QV_WORKSPACE_SIZE));
    return static_cast<int16_t>(FeatureRenew(templ, width, height));
}
