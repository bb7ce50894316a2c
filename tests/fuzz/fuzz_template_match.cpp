// Fuzz target of matching, merging and renewal: finger files come from disk,
// so any pair of 28000-byte buffers must give a defined result without a read
// or write outside the library's buffers, and every template the library
// writes must decode again.
//
// Input: two bytes (big-endian) giving the length of the first template, the
// first template, then the second. Each goes into a 28000-byte buffer, zero
// padded, with the library's version code written over bytes 5..9 so that
// mutations reach the code behind the version check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QVAlgDll.h"
#include "core/featureset.h"
#include "core/template_codec.h"
#include "match_checks.h"
#include "template_pair_input.h"

namespace {

uint8_t g_first[QV_TEMPLATE_SIZE];
uint8_t g_second[QV_TEMPLATE_SIZE];
uint8_t g_out[QV_TEMPLATE_SIZE];
uint8_t g_guard[QV_TEMPLATE_SIZE];
FeatureSet g_set;
FeatureMask g_mask;

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "template match check failed: %s\n", what);
        std::abort();
    }
}

bool decodes(const uint8_t *templ) {
    const FeatureSlot slot{&g_set, &g_mask};
    return DecodeTemplate(templ, QV_TEMPLATE_SIZE, &slot) >= 0;
}

void requireDecodable(const uint8_t *templ) { require(decodes(templ), "a written template decodes"); }

// Runs a merge and checks that a refusal leaves the output and out-values alone.
void mergeAndCheck(const uint8_t *a, const uint8_t *b) {
    std::memset(g_out, 0xA5, sizeof g_out);
    uint16_t overlap = 0x1234, width = 0x1234, height = 0x1234;
    const int16_t r = Quorvane_MergeFeature(a, b, g_out, &overlap, &width, &height);
    require(r == 0 || r == 1 || r == -10000, "merge result");
    if (r == 0) {
        requireDecodable(g_out);
        return;
    }
    std::memset(g_guard, 0xA5, sizeof g_guard);
    require(std::memcmp(g_out, g_guard, sizeof g_out) == 0, "a refused merge leaves the output untouched");
    require(overlap == 0x1234 && width == 0x1234 && height == 0x1234, "a refused merge leaves the out-values");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!fuzz::loadTemplatePair(data, size, g_cAlgVerNoKey, g_first, g_second)) return 0;

    fuzz::matchThenRenew(g_first, g_second, g_out, EATURE_RENEW_THRESHOLD, decodes);
    mergeAndCheck(g_first, g_second);
    // Renewal right after a merge has no match state left to use.
    uint16_t width = 0, height = 0;
    require(Quorvane_RenewFeature(g_out, nullptr, &width, &height) == 1, "no renewal after a merge");
    return 0;
}
