#include "matching/match_workspace.h"

#include <cstddef>

MatchWorkspace MatchWorkspaceAt(uint8_t *scratch) {
    MatchWorkspace ws{};
    uint8_t *p = scratch;
    auto take = [&p](size_t bytes) {
        uint8_t *at = p;
        p += bytes;
        return at;
    };
    ws.ref = reinterpret_cast<FeatureSet *>(take(sizeof(FeatureSet)));
    ws.probe = reinterpret_cast<FeatureSet *>(take(sizeof(FeatureSet)));
    ws.alignedProbe = reinterpret_cast<FeatureSet *>(take(sizeof(FeatureSet)));
    ws.alignedRef = reinterpret_cast<FeatureSet *>(take(sizeof(FeatureSet)));
    ws.refMask = reinterpret_cast<FeatureMask *>(take(sizeof(FeatureMask)));
    ws.probeMask = reinterpret_cast<FeatureMask *>(take(sizeof(FeatureMask)));
    ws.mergeMask = reinterpret_cast<FeatureMask *>(take(sizeof(FeatureMask)));
    ws.best = reinterpret_cast<PairList *>(take(sizeof(PairList)));
    ws.candidates = reinterpret_cast<PairList *>(take(sizeof(PairList)));
    ws.trial = reinterpret_cast<PairList *>(take(sizeof(PairList)));
    return ws;
}
