// The library calls of the service's enrolment and verification workers,
// without the sensor and the bus: the same conversion of raw bytes, the same
// initialisation rules, the same merge sequence.
#pragma once

#include <cstdint>
#include <vector>

#include "QVAlgDll.h"
#include "capture_sets.h"

namespace fpeval {

using Template = std::vector<uint8_t>;  // QV_TEMPLATE_SIZE bytes

// Converts the raw capture as the service does and creates its template.
// Initialises the library for the capture's model when it changes, and again
// after -31 (as the service does during verification and at the first
// enrolment stage). Returns the library's result (1 = created).
int createTemplate(const Capture &capture, Template &out, bool firstStageOrVerify);

struct EnrolmentResult {
    bool enrolled = false;
    int capturesUsed = 0;  // captures taken until the tenth was accepted (or all of them)
    int creationFailures = 0;
    int mergeRefusals = 0;
    Template merged;  // the template the service would save
};

// Accepted captures merged into one template, as many as the profile's
// enrolment takes (10, or 16 under profile 2): the second merged with the
// first (a refused second capture replaces the first), every later one into
// the merged template; a capture without a template or whose merge is refused
// is skipped and the stage taken again. Templates are made under `profile`.
EnrolmentResult enrol(const std::vector<Capture> &captures, int profile = 1);

// Touches an enrolment of the profile takes.
int enrolTouches(int profile);

// Score of a live template against a stored one (stored is the reference).
int matchScore(const Template &stored, const Template &live);

// The two scores profile 3 fused in the last match (zero for other profiles):
// the best plus second best pose-checked island score and the best correlation
// peak anywhere.
struct MatchParts {
    int gallery = 0;
    int peak = 0;
};
MatchParts lastMatchParts(int profile);

// Renewal right after an accepting match: replaces `stored` with the renewed
// template when the library renews it. Returns true when it did.
bool renewAfterMatch(Template &stored);

inline constexpr int kAcceptScore = 45;  // a score above this is a match

}  // namespace fpeval
