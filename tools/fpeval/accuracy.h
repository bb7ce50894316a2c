// Runs enrolment, genuine and impostor attempts over a group of fingers and
// sums up the error rates at the service's threshold and over all thresholds.
#pragma once

#include <cstdio>
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
};

struct FingerOutcome {
    bool enrolled = false;
    int capturesUsed = 0;
};

struct Evaluation {
    std::vector<FingerOutcome> fingers;
    std::vector<Attempt> attempts;
    int probeCreationFailures = 0;
    double seconds = 0;
};

struct Options {
    bool renew = false;  // renew the stored template after each accepted genuine attempt
};

// Enrols every finger and runs every probe against its own template (genuine)
// and against every other enrolled finger's template (impostor). All fingers
// must share one sensor model.
Evaluation evaluate(const std::vector<Finger> &fingers, const Options &options);

struct Summary {
    int fingers = 0, enrolFailures = 0;
    double meanCapturesToEnrol = 0;
    int genuine = 0, impostor = 0;
    int falseNonMatches = 0, falseMatches = 0;  // at the service's threshold
    double fnmr = 0, fmr = 0;
    double eer = 0;
    int eerThreshold = 0;
    double fnmrAtZeroFmr = 0;  // at the lowest threshold with no false match
    int zeroFmrThreshold = 0;
    int genuinePercentiles[7] = {};  // min, 5, 25, 50, 75, 95, max
    int impostorPercentiles[7] = {};
};

// Summary over the attempts whose capture belongs to the fingers selected by
// `include` (an index list into the evaluation's fingers).
Summary summarise(const Evaluation &evaluation, const std::vector<int> &include);

void printHeader(FILE *out);
void printRow(FILE *out, const std::string &set, const std::string &size, const Summary &s);
void writeCsv(FILE *out, const std::vector<Finger> &fingers, const Evaluation &evaluation, const char *size);

}  // namespace fpeval
