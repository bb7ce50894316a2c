// The variant table: a host's QV_CURRENT_VER selects its row, and a value
// outside 1 to 6 gets the row of its side instead of reading past the table.
#include "core/variant_rules.h"

#include <gtest/gtest.h>

#include <climits>

#include "QVAlgDll.h"
#include "matching/feature_match.h"

namespace {

TEST(VariantRules, TheHostsValueSelectsTheRowAndOutsideValuesTakeTheirSide) {
    const int32_t saved = QV_CURRENT_VER;
    QV_CURRENT_VER = 4;
    EXPECT_EQ(&CurrentVariantRules(), &VariantRulesFor(4));
    EXPECT_TRUE(CurrentVariantRules().doubledQuality);
    QV_CURRENT_VER = saved;

    EXPECT_EQ(&VariantRulesFor(INT32_MIN), &VariantRulesFor(0));
    EXPECT_EQ(&VariantRulesFor(INT32_MAX), &VariantRulesFor(7));
    for (int32_t v = 1; v <= 6; ++v) {
        EXPECT_NE(&VariantRulesFor(v), &VariantRulesFor(0)) << v;
        EXPECT_NE(&VariantRulesFor(v), &VariantRulesFor(7)) << v;
    }
    // Below 1: the channel path without valleys; above 6: the column-quad
    // path with valleys; neither corrects for overlap or spread.
    EXPECT_EQ(VariantRulesFor(-3).conditioning, Conditioning::kChannels);
    EXPECT_FALSE(VariantRulesFor(-3).valleys);
    EXPECT_EQ(VariantRulesFor(9).conditioning, Conditioning::kColumnQuads);
    EXPECT_TRUE(VariantRulesFor(9).valleys);
    for (int32_t v : {0, 7}) {
        EXPECT_EQ(OverlapCorrection(v, INT32_MAX, 0), 0) << v;
        EXPECT_FALSE(SpreadCheckApplies(v, INT32_MAX)) << v;
    }
}

}  // namespace
