// Runs enrolment, genuine and impostor attempts over a group of fingers under
// one recognition profile and sums up the error rates at the service's
// threshold and over all thresholds.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "capture_sets.h"

namespace fpeval {

struct Attempt {
    bool genuine;
    int fingerIndex;  // whose capture
    int probeIndex;
    int templateFinger;  // whose enrolled template
    int score;           // the match score, or the creation failure code when the capture gave no template
    // Profile 3: the two scores it fuses (gallery score, correlation peak in
    // permille); 0 for the other profiles.
    int galleryPart = 0;
    int peakPart = 0;
};

struct FingerOutcome {
    bool enrolled = false;
    int capturesUsed = 0;
    int probes = 0;  // verification captures of the finger
};

struct Evaluation {
    std::vector<FingerOutcome> fingers;
    std::vector<Attempt> attempts;
    int probeCreationFailures = 0;
    double seconds = 0;
};

struct Options {
    bool renew = false;  // renew the stored template after each accepted genuine attempt
    int profile = 1;     // recognition profile of every template
};

// Enrols every finger and runs every probe against its own template (genuine)
// and against every other enrolled finger's template (impostor). All fingers
// must share one sensor model.
Evaluation evaluate(const std::vector<Finger> &fingers, const Options &options);

inline constexpr int kMarginBelowThreshold = 10;  // a threshold this far above the highest impostor score
// Verification captures per impression, and the tries of a three-touch attempt.
inline constexpr int kProbesPerImpression = 5;
inline constexpr int kThreeTouchTries = 3;

struct Summary {
    int fingers = 0, enrolFailures = 0;
    double meanCapturesToEnrol = 0;
    int genuine = 0, impostor = 0;
    int falseNonMatches = 0, falseMatches = 0;  // at the service's threshold
    double fnmr = 0, fmr = 0;
    // Genuine captures of fingers that did not enrol counted as rejections.
    int unenrolledProbes = 0;
    double productFnmr = 0;
    int highestImpostor = 0;
    double productFnmrAtMargin = 0;  // at a threshold kMarginBelowThreshold above the highest impostor score
    double eer = 0;
    int eerThreshold = 0;
    double fnmrAtZeroFmr = 0;  // at the lowest threshold with no false match
    int zeroFmrThreshold = 0;
    // Three-touch attempts: the first three verification captures of one
    // impression (captures 5i .. 5i+2) tried in order, failed when none is
    // accepted; every attempt of a finger that did not enrol fails.
    int threeTouchAttempts = 0, threeTouchFailures = 0;
    double threeTouchFailureRate = 0;
    // FNMR of the genuine attempts by impression (captures 5i .. 5i+4): with
    // renewal, how the stored template learns from one impression to the next.
    std::vector<double> fnmrByImpression;
    int genuinePercentiles[7] = {};  // min, 5, 25, 50, 75, 95, max
    int impostorPercentiles[7] = {};
};

// Summary over the attempts whose capture belongs to one of the fingers in
// `include` (indices into the evaluation's fingers); with `templates` given,
// only impostor attempts against those fingers' templates count.
Summary summarise(const Evaluation &evaluation, const std::vector<int> &include,
                  const std::vector<int> *templates = nullptr);

// Genuine and impostor scores of the same selection, for curves.
void scoresOf(const Evaluation &evaluation, const std::vector<int> &include, const std::vector<int> *templates,
              std::vector<int> &genuine, std::vector<int> &impostor);

void printHeader(FILE *out);
void printRow(FILE *out, int profile, const std::string &set, const std::string &size, const Summary &s);
void writeCsv(FILE *out, const std::vector<Finger> &fingers, const Evaluation &evaluation, const char *size,
              int profile);

// Sets whose figures count as real: not generated (synthetic) and not SFinGe.
bool isRealSet(const std::string &set);

}  // namespace fpeval
