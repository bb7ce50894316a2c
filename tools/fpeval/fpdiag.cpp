// fpdiag: where genuine matches are lost, measured on generated fingers whose
// geometry is known.
//
// Every impression of a generated finger knows where each of its pixels lies
// on the finger (impressionToMaster), so two captures of one finger have a
// ground truth: a point of the probe and a point of the reference are true
// partners when they belong to the same group (minutia, ridge knee, valley
// knee), land within 4 pixels of each other on the master and point the same
// way there (within 15 degrees). Every pair of captures of one finger is
// matched (reference = earlier capture, probe = later one) and followed stage
// by stage.
//
// Table 1, capture pairs grouped by how many true partners they share:
//   pairs      capture pairs in the group
//   partners   true partners per pair
//   repeat%    probe knee points inside the reference's window that have one
//   cand.      descriptor candidates per pair, and the true ones among them
//   anchor%    pairs with a true candidate among the 12 anchors tried
//   accept%    pairs scoring above 45
//   acc|anch%  the same among pairs with a true anchor
// Table 2, every true partner: where it drops out of the descriptor stage
// (not the nearest descriptor, ratio test, claimed by another probe point),
// and the descriptor distance between partners by how far apart they land.
//
// --rigid takes the elastic skin distortion and pressure out of every
// impression, --clean also the skin moisture, blur, noise and partial contact.
//
// --check P fails (exit 1) unless at least P percent of the accepted matches
// won on an anchor pair of true partners, which checks the ground truth.
//
// usage: fpdiag [--fingers N] [--seed S] [--captures M] [--rigid] [--clean] [--check P]
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "capture_sets.h"
#include "core/featureset.h"
#include "core/pair_list.h"
#include "core/template_codec.h"
#include "impression.h"
#include "library_flow.h"
#include "master_print.h"
#include "matching/descriptor_match.h"
#include "sensor_output.h"

namespace {

constexpr double kSamePoint = 4.0;  // pixels on the master
constexpr double kSameTurn = 15.0;  // degrees on the master
constexpr double kBorder = 8.0;     // pixels along a window's edge where no point is found
constexpr uint32_t kAnchors = 12;
constexpr double kPi = 3.14159265358979323846;

struct Decoded {
    std::unique_ptr<FeatureSet> set = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureMask> mask = std::make_unique<FeatureMask>();
    std::vector<double> mx, my, ma;           // every point's position and direction (degrees) on the master
    double cornerX[4] = {}, cornerY[4] = {};  // the window less its border, on the master, in turning order
    bool ok = false;
};

struct Capture {
    fpgen::SyntheticCapture synthetic;
    fpeval::Template templ;
    Decoded decoded;
};

int groupOf(const FeatureSet &set, uint32_t i) {
    if (i < set.minutiaCount) return 0;
    return i < set.minutiaCount + set.kneeCount ? 1 : 2;
}

// Decodes the capture's template and places every point on the master.
void decode(Capture &c, const fpgen::SensorModel &model) {
    Decoded &d = c.decoded;
    FeatureSlot slot{d.set.get(), d.mask.get()};
    if (DecodeTemplate(c.templ.data(), QV_TEMPLATE_SIZE, &slot) < 0) return;
    const auto toMaster = [&](double x, double y, double &mx, double &my) {
        fpgen::impressionToMaster(c.synthetic.params, model.width, model.height, x, y, mx, my);
    };
    for (uint32_t i = 0; i < FeaturePointCount(*d.set); ++i) {
        const Minutia &p = d.set->points[i];
        const double x = static_cast<double>(p.x) - kWorkingFrameShift,
                     y = static_cast<double>(p.y) - kWorkingFrameShift;
        const double rad = p.angle * kPi / 180.0;
        double mx, my, ax, ay;
        toMaster(x, y, mx, my);
        toMaster(x + 5 * std::cos(rad), y + 5 * std::sin(rad), ax, ay);
        d.mx.push_back(mx);
        d.my.push_back(my);
        d.ma.push_back(std::atan2(ay - my, ax - mx) * 180.0 / kPi);
    }
    const double b = kBorder, w = model.width - 1 - kBorder, h = model.height - 1 - kBorder;
    const double cx[4] = {b, w, w, b}, cy[4] = {b, b, h, h};
    for (int k = 0; k < 4; ++k) toMaster(cx[k], cy[k], d.cornerX[k], d.cornerY[k]);
    d.ok = true;
}

// True when point i of a lies on the master inside b's window (less its border).
bool insideWindow(const Decoded &a, uint32_t i, const Decoded &b) {
    int side = 0;
    for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        const double cross = (b.cornerX[n] - b.cornerX[k]) * (a.my[i] - b.cornerY[k]) -
                             (b.cornerY[n] - b.cornerY[k]) * (a.mx[i] - b.cornerX[k]);
        const int s = cross > 0 ? 1 : -1;
        if (side != 0 && s != side) return false;
        side = s;
    }
    return true;
}

double gap(const Decoded &a, uint32_t i, const Decoded &b, uint32_t k) {
    return std::hypot(a.mx[i] - b.mx[k], a.my[i] - b.my[k]);
}

double turn(const Decoded &a, uint32_t i, const Decoded &b, uint32_t k) {
    const double t = std::fmod(std::fabs(a.ma[i] - b.ma[k]), 360.0);
    return t > 180.0 ? 360.0 - t : t;
}

bool truePartners(const Decoded &a, uint32_t i, const Decoded &b, uint32_t k) {
    return groupOf(*a.set, i) == groupOf(*b.set, k) && gap(a, i, b, k) <= kSamePoint && turn(a, i, b, k) <= kSameTurn;
}

// The reference point that is probe point p's true partner, -1 when none.
int32_t partnerOf(const Decoded &probe, uint32_t p, const Decoded &ref) {
    for (uint32_t k = 0; k < FeaturePointCount(*ref.set); ++k)
        if (truePartners(probe, p, ref, k)) return static_cast<int32_t>(k);
    return -1;
}

// Table 1: one band of capture pairs.
struct Band {
    const char *name;
    int low, high;  // true partners
    long pairs = 0, partners = 0, candidates = 0, trueCandidates = 0, anchorFound = 0, accepted = 0;
    long acceptedWithAnchor = 0, knees = 0, repeatedKnees = 0;
};

// Accepted matches, and those whose winning anchor pair are true partners: the
// library's own alignment checks the ground truth.
struct Anchors {
    long accepted = 0, trueWinner = 0;
};

// Table 2: every true partner.
struct PartnerLoss {
    long partners = 0, notNearest = 0, ratio = 0, claimed = 0, candidate = 0;
    long byGap[4][2] = {};               // [1 px bins][count, summed descriptor distance]
    long others = 0, otherDistance = 0;  // the nearest other reference point
};

double share(long part, long whole) {
    return 100.0 * static_cast<double>(part) / static_cast<double>(std::max(1L, whole));
}

bool listed(const PairList &list, uint32_t p, uint32_t q) {
    for (uint32_t c = 0; c < list.total; ++c)
        if (list.pairs[c].waitIndex == p && list.pairs[c].tempIndex == q) return true;
    return false;
}

// Follows every true partner of the probe through the descriptor stage.
void followPartners(const Decoded &ref, const Decoded &probe, const PairList &list, PartnerLoss &loss) {
    static uint8_t flags[kMaxFeaturePoints];
    for (uint32_t p = 0; p < FeaturePointCount(*probe.set); ++p) {
        const int32_t q = partnerOf(probe, p, ref);
        if (q < 0) continue;
        const auto uq = static_cast<uint32_t>(q);
        ++loss.partners;
        const Minutia &point = probe.set->points[p];
        const bool valley = groupOf(*probe.set, p) == 2;
        const int32_t dq = Distance(point, ref.set->points[uq]);
        const int bin = std::min(3, static_cast<int>(gap(probe, p, ref, uq)));
        ++loss.byGap[bin][0];
        loss.byGap[bin][1] += dq;
        // The search ranges of the descriptor stage: minutiae and ridge knee
        // points together, valley knee points apart.
        int32_t other = INT32_MAX;
        for (uint32_t k = 0; k < FeaturePointCount(*ref.set); ++k)
            if ((groupOf(*ref.set, k) == 2) == valley && k != uq)
                other = std::min(other, Distance(point, ref.set->points[k]));
        if (other != INT32_MAX) {
            ++loss.others;
            loss.otherDistance += other;
        }
        if (other < dq) {
            ++loss.notNearest;
            continue;
        }
        int32_t index = -1, distance = 0;
        std::memset(flags, 0, sizeof flags);
        const int32_t ratio = valley ? PointMatchList1(*ref.set, point, index, distance, flags)
                                     : PointMatchList(*ref.set, point, index, distance, flags);
        if (ratio >= 81 || index != q)
            ++loss.ratio;
        else if (!listed(list, p, uq))
            ++loss.claimed;
        else
            ++loss.candidate;
    }
}

void tallyPair(const Capture &refCapture, const Capture &probeCapture, Band (&bands)[4], PartnerLoss &loss,
               Anchors &anchors) {
    const Decoded &ref = refCapture.decoded, &probe = probeCapture.decoded;
    static PairList list;
    int partners = 0, knees = 0, repeatedKnees = 0;
    for (uint32_t p = 0; p < FeaturePointCount(*probe.set); ++p) {
        const bool partner = partnerOf(probe, p, ref) >= 0;
        partners += partner;
        if (groupOf(*probe.set, p) != 0 && insideWindow(probe, p, ref)) {
            ++knees;
            repeatedKnees += partner;
        }
    }
    std::memset(&list, 0, sizeof list);
    SiftMatch3(*ref.set, *probe.set, list);
    followPartners(ref, probe, list, loss);
    int trueCandidates = 0;
    bool anchorFound = false;
    for (uint32_t c = 0; c < list.total; ++c) {
        const CandidatePair &pair = list.pairs[c];
        if (!truePartners(probe, pair.waitIndex, ref, pair.tempIndex)) continue;
        ++trueCandidates;
        anchorFound |=
            c < kAnchors && !probe.set->points[pair.waitIndex].weakFlag && !ref.set->points[pair.tempIndex].weakFlag;
    }
    const bool accepted = fpeval::matchScore(refCapture.templ, probeCapture.templ) > fpeval::kAcceptScore;
    if (accepted) {
        ++anchors.accepted;
        anchors.trueWinner += truePartners(probe, static_cast<uint32_t>(resultMax[kResultProbeAnchor]), ref,
                                           static_cast<uint32_t>(resultMax[kResultRefAnchor]));
    }
    for (Band &b : bands) {
        if (partners < b.low || partners > b.high) continue;
        ++b.pairs;
        b.partners += partners;
        b.knees += knees;
        b.repeatedKnees += repeatedKnees;
        b.candidates += list.total;
        b.trueCandidates += trueCandidates;
        b.anchorFound += anchorFound;
        b.accepted += accepted;
        b.acceptedWithAnchor += accepted && anchorFound;
    }
}

}  // namespace

int main(int argc, char **argv) {
    int fingers = 10, captures = 12;
    uint64_t seed = 1;
    bool rigid = false, clean = false;
    double check = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fingers" && i + 1 < argc)
            fingers = std::atoi(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--captures" && i + 1 < argc)
            captures = std::atoi(argv[++i]);
        else if (arg == "--check" && i + 1 < argc)
            check = std::atof(argv[++i]);
        else if (arg == "--rigid")
            rigid = true;
        else if (arg == "--clean")
            rigid = clean = true;
        else {
            std::puts("usage: fpdiag [--fingers N] [--seed S] [--captures M] [--rigid] [--clean] [--check P]");
            return arg == "-h" || arg == "--help" ? 0 : 2;
        }
    }
    if (fingers < 1 || captures < 2) {
        std::fputs("fpdiag: needs at least one finger and two captures\n", stderr);
        return 2;
    }
    const fpgen::SensorModel &model = fpgen::kSensorModels[0];  // 96 x 96 through the raw path
    Band bands[4] = {{"0-2 partners", 0, 2}, {"3-5", 3, 5}, {"6-9", 6, 9}, {"10+", 10, 1 << 30}};
    PartnerLoss loss;
    Anchors anchors;
    for (int f = 0; f < fingers; ++f) {
        const fpgen::MasterPrint master = fpgen::generateMaster(seed + static_cast<uint64_t>(f));
        std::vector<Capture> set(static_cast<size_t>(captures));
        for (int i = 0; i < captures; ++i) {
            fpgen::ImpressionParams params = fpgen::impressionFor(master, model.width, model.height, model.productId, i,
                                                                  fpgen::Placement::NearCentre);
            if (rigid) {
                params.scale = 1.0;
                for (fpgen::DistortionWave &wave : params.waves) wave.amplitudeX = wave.amplitudeY = 0.0;
            }
            if (clean) {
                params.moisture = 0.0;
                params.blurSigma = 0.5;
                params.noiseSigma = 1.0;
                params.contactRadiusX = params.contactRadiusY = 1e9;
            }
            Capture &c = set[static_cast<size_t>(i)];
            c.synthetic = fpgen::renderCapture(master, model, params);
            if (fpeval::createTemplate(fpeval::Capture{"", model.productId, c.synthetic.raw}, c.templ, true) == 1)
                decode(c, model);
        }
        for (size_t i = 0; i < set.size(); ++i)
            for (size_t j = i + 1; j < set.size(); ++j)
                if (set[i].decoded.ok && set[j].decoded.ok) tallyPair(set[i], set[j], bands, loss, anchors);
    }

    std::printf("%-14s %6s %9s %8s %7s %10s %8s %8s %10s\n", "capture pairs", "pairs", "partners", "repeat%", "cand.",
                "true cand.", "anchor%", "accept%", "acc|anch%");
    for (const Band &b : bands) {
        const double n = static_cast<double>(std::max(1L, b.pairs));
        std::printf("%-14s %6ld %9.1f %8.1f %7.1f %10.1f %8.1f %8.1f %10.1f\n", b.name, b.pairs,
                    static_cast<double>(b.partners) / n, share(b.repeatedKnees, b.knees),
                    static_cast<double>(b.candidates) / n, static_cast<double>(b.trueCandidates) / n,
                    share(b.anchorFound, b.pairs), share(b.accepted, b.pairs),
                    share(b.acceptedWithAnchor, b.anchorFound));
    }
    std::printf(
        "\ntrue partners: %ld; lost as not the nearest descriptor %.1f%%, in the ratio test %.1f%%, "
        "claimed by another probe point %.1f%%; candidates %.1f%%\n",
        loss.partners, share(loss.notNearest, loss.partners), share(loss.ratio, loss.partners),
        share(loss.claimed, loss.partners), share(loss.candidate, loss.partners));
    for (int k = 0; k < 4; ++k)
        std::printf("partners %d-%d px apart on the master: %ld, mean descriptor distance %ld\n", k, k + 1,
                    loss.byGap[k][0], loss.byGap[k][1] / std::max(1L, loss.byGap[k][0]));
    std::printf("nearest other reference point: mean descriptor distance %ld\n",
                loss.otherDistance / std::max(1L, loss.others));
    const double trueWinners = share(anchors.trueWinner, anchors.accepted);
    std::printf("accepted matches won on true partners: %ld of %ld (%.1f%%)\n", anchors.trueWinner, anchors.accepted,
                trueWinners);
    if (check >= 0 && (anchors.accepted == 0 || trueWinners < check)) {
        std::fprintf(stderr, "fpdiag: below %.1f%%\n", check);
        return 1;
    }
    return 0;
}
