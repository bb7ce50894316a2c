// Checks the two-template fuzz targets share: a match followed by renewal,
// and a merge followed by a refused renewal. `readsBack` tells whether a
// template the library wrote reads again under the target's profile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QVAlgDll.h"

namespace fuzz {

using ReadsBack = bool (*)(const uint8_t *templ);

// Ends the run; libFuzzer keeps the input that caused it.
inline void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Scores `touch` against `stored`, then asks for a renewal into `out`: it may
// only follow a score of at least renewScore, and what it writes must read.
inline void matchThenRenew(const uint8_t *stored, const uint8_t *touch, uint8_t *out, int32_t renewScore,
                           ReadsBack readsBack) {
    const int16_t score = Quorvane_MatchScore(stored, touch);
    require(score >= -10000, "match score range");
    std::memset(out, 0, QV_TEMPLATE_SIZE);
    uint16_t width = 0, height = 0;
    const int16_t renewed = Quorvane_RenewFeature(out, nullptr, &width, &height);
    require(renewed == 0 || renewed == 1, "renewal result");
    if (renewed == 0) {
        require(score >= renewScore, "renewal only after a confident match");
        require(readsBack(out), "a renewed template reads");
    }
}

// Merges `add` into `base`: the result reads, or a refusal leaves `out`
// untouched; renewal right after a merge has no match state left to use.
inline void mergeThenNoRenewal(const uint8_t *base, const uint8_t *add, uint8_t *out, ReadsBack readsBack) {
    std::memset(out, 0xA5, QV_TEMPLATE_SIZE);
    uint16_t overlap = 0, width = 0, height = 0;
    const int16_t merged = Quorvane_MergeFeature(base, add, out, &overlap, &width, &height);
    require(merged == 0 || merged == 1, "merge result");
    if (merged == 0) {
        require(readsBack(out), "a merged template reads");
    } else {
        for (int32_t i = 0; i < QV_TEMPLATE_SIZE; ++i)
            require(out[i] == 0xA5, "a refused merge leaves the output untouched");
    }
    require(Quorvane_RenewFeature(out, nullptr, &width, &height) == 1, "no renewal after a merge");
}

}  // namespace fuzz
