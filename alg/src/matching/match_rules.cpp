#include "matching/match_rules.h"

namespace {
const MatchRules *g_active = &kOriginalMatchRules;
}

const MatchRules &ActiveMatchRules() { return *g_active; }

ScopedMatchRules::ScopedMatchRules(const MatchRules &rules) : previous_(g_active) { g_active = &rules; }
ScopedMatchRules::~ScopedMatchRules() { g_active = previous_; }
