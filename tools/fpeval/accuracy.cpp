#include "accuracy.h"

#include <algorithm>
#include <chrono>

#include "QVAlgDll.h"
#include "library_flow.h"

namespace fpeval {

Evaluation evaluate(const std::vector<Finger> &fingers, const Options &options) {
    const auto start = std::chrono::steady_clock::now();
    Evaluation ev;
    const int n = static_cast<int>(fingers.size());
    std::vector<Template> enrolled(fingers.size());
    ev.fingers.resize(fingers.size());
    for (int f = 0; f < n; ++f) {
        EnrolmentResult r = enrol(fingers[f].enrol, options.profile);
        ev.fingers[f] = {r.enrolled, r.capturesUsed, static_cast<int>(fingers[f].probe.size())};
        if (r.enrolled) enrolled[f] = std::move(r.merged);
    }
    Quorvane_SetRecognitionProfile(options.profile);
    // Probe templates once; a probe without a template is a failed genuine
    // attempt and takes part in no impostor attempt.
    std::vector<std::vector<Template>> probes(fingers.size());
    std::vector<std::vector<int>> probeCodes(fingers.size());
    for (int f = 0; f < n; ++f) {
        for (const Capture &c : fingers[f].probe) {
            Template t;
            probeCodes[f].push_back(createTemplate(c, t, true));
            if (probeCodes[f].back() != 1) ++ev.probeCreationFailures;
            probes[f].push_back(std::move(t));
        }
    }
    for (int f = 0; f < n; ++f) {
        if (!ev.fingers[f].enrolled) continue;
        for (size_t p = 0; p < probes[f].size(); ++p) {
            int score = probeCodes[f][p];
            if (score == 1) {
                score = matchScore(enrolled[f], probes[f][p]);
                const MatchParts parts = lastMatchParts(options.profile);
                if (options.renew && score > kAcceptScore) renewAfterMatch(enrolled[f]);
                ev.attempts.push_back({true, f, static_cast<int>(p), f, score, parts.gallery, parts.peak});
                continue;
            }
            ev.attempts.push_back({true, f, static_cast<int>(p), f, score});
        }
    }
    for (int f = 0; f < n; ++f) {
        for (size_t p = 0; p < probes[f].size(); ++p) {
            if (probeCodes[f][p] != 1) continue;
            for (int g = 0; g < n; ++g) {
                if (g == f || !ev.fingers[g].enrolled) continue;
                const int score = matchScore(enrolled[g], probes[f][p]);
                const MatchParts parts = lastMatchParts(options.profile);
                ev.attempts.push_back({false, f, static_cast<int>(p), g, score, parts.gallery, parts.peak});
            }
        }
    }
    ev.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ev;
}

namespace {

void percentiles(std::vector<int> v, int out[7]) {
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    const double qs[7] = {0, 0.05, 0.25, 0.5, 0.75, 0.95, 1.0};
    for (int i = 0; i < 7; ++i) out[i] = v[static_cast<size_t>(qs[i] * static_cast<double>(v.size() - 1) + 0.5)];
}

// Share of genuine scores at or below t (rejected) and impostor scores above t (accepted).
double rejectedShare(const std::vector<int> &sortedGenuine, int t) {
    const auto it = std::upper_bound(sortedGenuine.begin(), sortedGenuine.end(), t);
    return sortedGenuine.empty() ? 0 : static_cast<double>(it - sortedGenuine.begin()) / sortedGenuine.size();
}
double acceptedShare(const std::vector<int> &sortedImpostor, int t) {
    const auto it = std::upper_bound(sortedImpostor.begin(), sortedImpostor.end(), t);
    return sortedImpostor.empty() ? 0 : static_cast<double>(sortedImpostor.end() - it) / sortedImpostor.size();
}

}  // namespace

void scoresOf(const Evaluation &ev, const std::vector<int> &include, const std::vector<int> *templates,
              std::vector<int> &genuine, std::vector<int> &impostor) {
    std::vector<bool> in(ev.fingers.size(), false);
    std::vector<bool> against(ev.fingers.size(), templates == nullptr);
    for (int f : include) in[f] = true;
    if (templates != nullptr)
        for (int f : *templates) against[f] = true;
    genuine.clear();
    impostor.clear();
    for (const Attempt &a : ev.attempts) {
        if (!in[a.fingerIndex] || !against[a.templateFinger]) continue;
        (a.genuine ? genuine : impostor).push_back(a.score);
    }
    std::sort(genuine.begin(), genuine.end());
    std::sort(impostor.begin(), impostor.end());
}

namespace {

// Three-touch attempts of the fingers in `in` (see Summary).
void threeTouch(const Evaluation &ev, const std::vector<bool> &in, Summary &s) {
    // Accepted genuine captures by finger and capture index.
    std::vector<std::vector<bool>> accepted(ev.fingers.size());
    for (size_t f = 0; f < ev.fingers.size(); ++f) accepted[f].assign(static_cast<size_t>(ev.fingers[f].probes), false);
    // An attempt naming a capture the finger's outcome does not count (a
    // hand-built or truncated evaluation) cannot be placed in a touch group.
    for (const Attempt &a : ev.attempts) {
        if (!a.genuine || a.score <= kAcceptScore || a.probeIndex < 0) continue;
        std::vector<bool> &row = accepted[static_cast<size_t>(a.fingerIndex)];
        if (static_cast<size_t>(a.probeIndex) < row.size()) row[static_cast<size_t>(a.probeIndex)] = true;
    }
    for (size_t f = 0; f < ev.fingers.size(); ++f) {
        if (!in[f]) continue;
        for (int first = 0; first + kThreeTouchTries <= ev.fingers[f].probes; first += kProbesPerImpression) {
            bool any = false;
            for (int t = 0; t < kThreeTouchTries; ++t) any = any || accepted[f][static_cast<size_t>(first + t)];
            ++s.threeTouchAttempts;
            if (!any) ++s.threeTouchFailures;
        }
    }
    s.threeTouchFailureRate =
        s.threeTouchAttempts ? static_cast<double>(s.threeTouchFailures) / s.threeTouchAttempts : 0;
}

// Genuine attempts and their rejections by impression.
void fnmrByImpression(const Evaluation &ev, const std::vector<bool> &in, Summary &s) {
    std::vector<int> attempts, rejected;
    for (const Attempt &a : ev.attempts) {
        if (!a.genuine || !in[static_cast<size_t>(a.fingerIndex)] || a.probeIndex < 0) continue;
        const size_t impression = static_cast<size_t>(a.probeIndex / kProbesPerImpression);
        if (impression >= attempts.size()) {
            attempts.resize(impression + 1, 0);
            rejected.resize(impression + 1, 0);
        }
        ++attempts[impression];
        rejected[impression] += a.score <= kAcceptScore;
    }
    s.fnmrByImpression.clear();
    for (size_t i = 0; i < attempts.size(); ++i)
        s.fnmrByImpression.push_back(attempts[i] ? static_cast<double>(rejected[i]) / attempts[i] : 0);
}

}  // namespace

Summary summarise(const Evaluation &ev, const std::vector<int> &include, const std::vector<int> *templates) {
    Summary s;
    std::vector<bool> in(ev.fingers.size(), false);
    for (int f : include) in[f] = true;
    double captures = 0;
    for (int f : include) {
        ++s.fingers;
        if (ev.fingers[f].enrolled) {
            captures += ev.fingers[f].capturesUsed;
        } else {
            ++s.enrolFailures;
            s.unenrolledProbes += ev.fingers[f].probes;
        }
    }
    const int enrolledCount = s.fingers - s.enrolFailures;
    s.meanCapturesToEnrol = enrolledCount ? captures / enrolledCount : 0;

    std::vector<int> genuine, impostor;
    scoresOf(ev, include, templates, genuine, impostor);
    s.genuine = static_cast<int>(genuine.size());
    s.impostor = static_cast<int>(impostor.size());
    for (int v : genuine) s.falseNonMatches += v <= kAcceptScore;
    for (int v : impostor) s.falseMatches += v > kAcceptScore;
    s.fnmr = s.genuine ? static_cast<double>(s.falseNonMatches) / s.genuine : 0;
    s.fmr = s.impostor ? static_cast<double>(s.falseMatches) / s.impostor : 0;
    const int attempted = s.genuine + s.unenrolledProbes;
    s.productFnmr = attempted ? static_cast<double>(s.falseNonMatches + s.unenrolledProbes) / attempted : 0;
    s.highestImpostor = impostor.empty() ? 0 : impostor.back();
    const double atMargin = rejectedShare(genuine, s.highestImpostor + kMarginBelowThreshold) * s.genuine;
    s.productFnmrAtMargin = attempted ? (atMargin + s.unenrolledProbes) / attempted : 0;

    // Thresholds: every score that occurs (accept when score > t).
    std::vector<int> thresholds = genuine;
    thresholds.insert(thresholds.end(), impostor.begin(), impostor.end());
    std::sort(thresholds.begin(), thresholds.end());
    thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    double bestGap = 2;
    for (int t : thresholds) {
        const double fnmr = rejectedShare(genuine, t), fmr = acceptedShare(impostor, t);
        const double gap = fnmr > fmr ? fnmr - fmr : fmr - fnmr;
        if (gap < bestGap) {
            bestGap = gap;
            s.eer = (fnmr + fmr) / 2;
            s.eerThreshold = t;
        }
    }
    s.zeroFmrThreshold = impostor.empty() ? 0 : impostor.back();
    s.fnmrAtZeroFmr = rejectedShare(genuine, s.zeroFmrThreshold);
    threeTouch(ev, in, s);
    fnmrByImpression(ev, in, s);
    percentiles(genuine, s.genuinePercentiles);
    percentiles(impostor, s.impostorPercentiles);
    return s;
}

void printHeader(FILE *out) {
    std::fprintf(out, "%-2s %-22s %-7s %7s %8s %5s %7s %9s %7s %8s %7s %9s %6s %8s %7s %5s %10s %6s\n", "p", "set",
                 "size", "fingers", "enr.fail", "capt", "genuine", "impostor", "FNMR%", "prodFNMR", "3touch%", "FMR%",
                 "maxImp", "prod@m+10", "EER%", "@thr", "FNMR%@FMR0", "@thr");
}

void printRow(FILE *out, int profile, const std::string &set, const std::string &size, const Summary &s) {
    std::fprintf(out, "%-2d %-22s %-7s %7d %8d %5.1f %7d %9d %7.2f %8.2f %7.2f %9.4f %6d %8.2f %7.2f %5d %10.2f %6d\n",
                 profile, set.c_str(), size.c_str(), s.fingers, s.enrolFailures, s.meanCapturesToEnrol, s.genuine,
                 s.impostor, 100 * s.fnmr, 100 * s.productFnmr, 100 * s.threeTouchFailureRate, 100 * s.fmr,
                 s.highestImpostor, 100 * s.productFnmrAtMargin, 100 * s.eer, s.eerThreshold, 100 * s.fnmrAtZeroFmr,
                 s.zeroFmrThreshold);
    std::fprintf(out, "    genuine scores  min/5/25/50/75/95/max: %d %d %d %d %d %d %d\n", s.genuinePercentiles[0],
                 s.genuinePercentiles[1], s.genuinePercentiles[2], s.genuinePercentiles[3], s.genuinePercentiles[4],
                 s.genuinePercentiles[5], s.genuinePercentiles[6]);
    std::fprintf(out, "    impostor scores min/5/25/50/75/95/max: %d %d %d %d %d %d %d\n", s.impostorPercentiles[0],
                 s.impostorPercentiles[1], s.impostorPercentiles[2], s.impostorPercentiles[3], s.impostorPercentiles[4],
                 s.impostorPercentiles[5], s.impostorPercentiles[6]);
    if (s.fnmrByImpression.empty()) return;
    std::fprintf(out, "    FNMR%% by impression:");
    for (double v : s.fnmrByImpression) std::fprintf(out, " %.1f", 100 * v);
    std::fprintf(out, "\n");
}

void writeCsv(FILE *out, const std::vector<Finger> &fingers, const Evaluation &ev, const char *size, int profile) {
    for (const Attempt &a : ev.attempts) {
        const Finger &f = fingers[a.fingerIndex];
        std::fprintf(out, "%d,%s,%s,%s,%s,%s,%s,%d,%d,%d\n", profile, f.set.c_str(), size,
                     a.genuine ? "genuine" : "impostor", f.name.c_str(), f.probe[a.probeIndex].name.c_str(),
                     fingers[a.templateFinger].name.c_str(), a.score, a.galleryPart, a.peakPart);
    }
}

bool isRealSet(const std::string &set) { return set != "synthetic" && set.rfind("sfinge", 0) != 0; }

}  // namespace fpeval
