// pairtrain: learns the descriptor basis from corresponding points of
// different touches of the same finger, so that the 24 directions keep what
// tells points apart and drop what changes between touches of one point.
//
// For every finger of the capture folders (laid out as fpeval reads them),
// each capture goes through the library's template creation exactly as the
// service runs it. Every pair of captures of one finger is then matched; a
// pair that scores at least --min-score gives an alignment, under which the
// points of both captures that land within 3 pixels and 20 degrees of each
// other (same group: minutia or knee point) are taken as one point seen twice.
//
// With T the covariance of all normalised gradient vectors, N the mean outer
// product of the differences between points 5 to 12 pixels apart in one
// capture (what the ratio test must tell apart) and G that of the differences
// of corresponding vectors, the basis is the 24 leading eigenvectors of
// (1 - h) 2T + h N - lambda G: h = 0 and lambda = 0 is plain principal
// components; a larger lambda trades spread between points for stability of
// one point. The rows are unit vectors at scale 8192, as the library needs.
// Every --lambda writes one file (FILE.<lambda> when there are several).
//
// It also reports how often the corresponding point is the nearest descriptor
// and a descriptor candidate with the library's basis. Bases learnt this way
// did not lower the false non-match rate on the real sets, so the library
// keeps the principal components of pcatrain.
//
// usage: pairtrain [--lambda L]... [--hard h] [--min-score S] [--out FILE] [--command TEXT] FOLDER...
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "basis_writer.h"
#include "capture_sets.h"
#include "core/fixedmath.h"
#include "core/pair_list.h"
#include "extraction/descriptors.h"
#include "extraction/template_pipeline.h"
#include "library_flow.h"
#include "matching/descriptor_match.h"
#include "point_gradients.h"
#include "sensor_output.h"

namespace {

// One point of a capture with its normalised gradient vector (when its
// window lies wholly inside the image).
struct PointRecord {
    Minutia point;
    int group;   // 0 minutia, 1 ridge knee point, 2 valley knee point
    int vector;  // index into the vector store, -1 when none
};

struct CaptureRecord {
    fpeval::Template templ;
    std::unique_ptr<FeatureSet> set;  // points in sensor coordinates, descriptors included
    std::vector<PointRecord> points;
};

struct Store {
    std::vector<int16_t> vectors;  // kGradientLength values each
    int count() const { return static_cast<int>(vectors.size() / kGradientLength); }
};

int groupOf(const FeatureSet &set, uint32_t i) {
    if (i < set.minutiaCount) return 0;
    return i < set.minutiaCount + set.kneeCount ? 1 : 2;
}

// Creates the capture's template and keeps its points and their vectors.
bool addCapture(const fpeval::Capture &capture, CaptureRecord &record, Store &store,
                std::vector<std::pair<int, int>> &neighbours) {
    if (fpeval::createTemplate(capture, record.templ, true) != 1) return false;
    const auto *set = reinterpret_cast<const FeatureSet *>(tempbuf + pipeline_layout::kFeatureSet);
    record.set = std::make_unique<FeatureSet>(*set);
    int width = 0, height = 0;
    for (const auto &model : fpgen::kSensorModels)
        if (model.productId == capture.productId) width = model.width, height = model.height;
    const uint32_t n = FeaturePointCount(*set);
    int16_t gradient[kGradientLength];
    for (uint32_t i = 0; i < n; ++i) {
        PointRecord rec{set->points[i], groupOf(*set, i), -1};
        if (pcatrain::pointGradients(g_fGaussSmooth, width, height, *set, i, gradient)) {
            rec.vector = store.count();
            store.vectors.insert(store.vectors.end(), gradient, gradient + kGradientLength);
        }
        record.points.push_back(rec);
    }
    // Points of one capture that the descriptor must tell apart from each
    // other: same group, 5 to 12 pixels apart (neighbours along a ridge and
    // on the next ridges).
    for (size_t i = 0; i < record.points.size(); ++i)
        for (size_t k = i + 1; k < record.points.size(); ++k) {
            const PointRecord &a = record.points[i], &b = record.points[k];
            if (a.vector < 0 || b.vector < 0 || a.group != b.group) continue;
            const int32_t ex = static_cast<int32_t>(a.point.x) - static_cast<int32_t>(b.point.x);
            const int32_t ey = static_cast<int32_t>(a.point.y) - static_cast<int32_t>(b.point.y);
            const int32_t d2 = ex * ex + ey * ey;
            if (d2 >= 25 && d2 <= 144) neighbours.emplace_back(a.vector, b.vector);
        }
    return true;
}

struct Diagnostics {
    long positives = 0, flipped = 0, descriptorBest = 0, candidate = 0;
    long alignedPairs = 0, indexMismatch = 0;
};

// Maps probe point p by the best alignment of the last match (probe anchor a).
void mapPoint(const Minutia &p, const Minutia &a, int32_t dx, int32_t dy, int32_t r, int32_t &x, int32_t &y,
              int32_t &angle) {
    const int32_t c = cos512(r), s = sin512(r);
    const int32_t ex = static_cast<int32_t>(p.x) - static_cast<int32_t>(a.x);
    const int32_t ey = static_cast<int32_t>(p.y) - static_cast<int32_t>(a.y);
    x = static_cast<int32_t>(a.x) + dx + ((ex * c - ey * s + 256) >> 9);
    y = static_cast<int32_t>(a.y) + dy + ((ex * s + ey * c + 256) >> 9);
    angle = (static_cast<int32_t>(p.angle) + r + 360) % 360;
}

int angleGap(int32_t a, int32_t b) {
    int d = std::abs(a - b) % 360;
    return d > 180 ? 360 - d : d;
}

// Collects corresponding points of two captures of one finger.
void collectPairs(const CaptureRecord &ref, const CaptureRecord &probe, int minScore,
                  std::vector<std::pair<int, int>> &pairs, Diagnostics &diag) {
    const int score = fpeval::matchScore(ref.templ, probe.templ);
    if (score < minScore) return;
    const int32_t r = resultMax[kResultRotation], dx = resultMax[kResultDx], dy = resultMax[kResultDy];
    const int32_t ri = resultMax[kResultRefAnchor], pj = resultMax[kResultProbeAnchor];
    if (ri < 0 || pj < 0 || ri >= static_cast<int>(ref.points.size()) || pj >= static_cast<int>(probe.points.size()))
        return;
    const Minutia &a = probe.points[pj].point;
    if (static_cast<int32_t>(ref.points[ri].point.x) - static_cast<int32_t>(a.x) != dx ||
        static_cast<int32_t>(ref.points[ri].point.y) - static_cast<int32_t>(a.y) != dy) {
        ++diag.indexMismatch;
        return;
    }
    ++diag.alignedPairs;
    static uint8_t flags[kMaxFeaturePoints];
    for (const PointRecord &p : probe.points) {
        if (p.vector < 0) continue;
        int32_t x, y, angle;
        mapPoint(p.point, a, dx, dy, r, x, y, angle);
        int best = -1, bestD2 = 10;
        bool flip = false;
        for (size_t k = 0; k < ref.points.size(); ++k) {
            const PointRecord &q = ref.points[k];
            if (q.vector < 0 || q.group != p.group) continue;
            const int32_t ex = static_cast<int32_t>(q.point.x) - x, ey = static_cast<int32_t>(q.point.y) - y;
            const int d2 = ex * ex + ey * ey;
            if (d2 > 9) continue;
            const int gap = angleGap(static_cast<int32_t>(q.point.angle), angle);
            if (gap > 160) flip = true;
            if (gap <= 20 && d2 < bestD2) best = static_cast<int>(k), bestD2 = d2;
        }
        if (best < 0) {
            diag.flipped += flip;
            continue;
        }
        ++diag.positives;
        pairs.emplace_back(p.vector, ref.points[best].vector);
        // Would the descriptor stage find this partner?
        int32_t index = -1, distance = 0;
        std::memset(flags, 0, sizeof flags);
        const int32_t ratio = p.group == 2 ? PointMatchList1(*ref.set, p.point, index, distance, flags)
                                           : PointMatchList(*ref.set, p.point, index, distance, flags);
        int32_t nearest = -1, nearestDistance = 1 << 30;
        for (size_t k = 0; k < ref.points.size(); ++k) {
            if (ref.points[k].group != p.group) continue;
            const int32_t dd = Distance(p.point, ref.points[k].point);
            if (dd < nearestDistance) nearestDistance = dd, nearest = static_cast<int32_t>(k);
        }
        diag.descriptorBest += nearest == best;
        diag.candidate += ratio < 81 && index == best;
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<double> lambdas;
    double hard = 0;
    int minScore = 60;
    std::string out = "descriptor_basis.cpp", command;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--hard" && i + 1 < argc)
            hard = std::atof(argv[++i]);
        else if (arg == "--lambda" && i + 1 < argc)
            lambdas.push_back(std::atof(argv[++i]));
        else if (arg == "--min-score" && i + 1 < argc)
            minScore = std::atoi(argv[++i]);
        else if (arg == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (arg == "--command" && i + 1 < argc)
            command = argv[++i];
        else if (arg == "-h" || arg == "--help") {
            std::puts(
                "usage: pairtrain [--lambda L]... [--hard h] [--min-score S] [--out FILE] [--command TEXT] FOLDER...");
            return 0;
        } else
            folders.push_back(arg);
    }
    if (lambdas.empty()) lambdas.push_back(1.0);
    std::vector<fpeval::Finger> fingers;
    for (const auto &folder : folders) {
        std::string error;
        if (!fpeval::loadCaptureFolder(folder, fingers, error)) {
            std::fprintf(stderr, "pairtrain: %s\n", error.c_str());
            return 2;
        }
    }
    Store store;
    std::vector<std::pair<int, int>> pairs, neighbours;
    Diagnostics diag;
    long matches = 0;
    for (const auto &finger : fingers) {
        std::vector<CaptureRecord> records;
        for (const auto *list : {&finger.enrol, &finger.probe})
            for (const auto &capture : *list) {
                CaptureRecord record;
                if (addCapture(capture, record, store, neighbours)) records.push_back(std::move(record));
            }
        for (size_t i = 0; i < records.size(); ++i)
            for (size_t j = i + 1; j < records.size(); ++j, ++matches)
                collectPairs(records[i], records[j], minScore, pairs, diag);
    }
    std::fprintf(stderr,
                 "pairtrain: %zu fingers, %d vectors, %ld matches, %ld aligned (%ld index mismatches), %ld "
                 "corresponding points (%ld more only with the direction turned round)\n",
                 fingers.size(), store.count(), matches, diag.alignedPairs, diag.indexMismatch, diag.positives,
                 diag.flipped);
    std::fprintf(stderr, "pairtrain: partner is the nearest descriptor for %.1f%%, a candidate for %.1f%%\n",
                 100.0 * diag.descriptorBest / std::max(1L, diag.positives),
                 100.0 * diag.candidate / std::max(1L, diag.positives));
    if (pairs.size() < 1000) {
        std::fputs("pairtrain: too few corresponding points to learn a basis\n", stderr);
        return 1;
    }

    const int n = store.count();
    Eigen::MatrixXd x(n, kGradientLength);
    for (int s = 0; s < n; ++s)
        for (int k = 0; k < kGradientLength; ++k) x(s, k) = store.vectors[static_cast<size_t>(s) * kGradientLength + k];
    const Eigen::VectorXd mean = x.colwise().mean().transpose();
    x.rowwise() -= pcatrain::roundedMean(mean).transpose();
    const Eigen::MatrixXd spread = (x.transpose() * x) / static_cast<double>(n);
    Eigen::MatrixXd d(pairs.size(), kGradientLength);
    for (size_t p = 0; p < pairs.size(); ++p)
        d.row(static_cast<Eigen::Index>(p)) = x.row(pairs[p].first) - x.row(pairs[p].second);
    const Eigen::MatrixXd change = (d.transpose() * d) / static_cast<double>(pairs.size());
    Eigen::MatrixXd e(neighbours.size(), kGradientLength);
    for (size_t p = 0; p < neighbours.size(); ++p)
        e.row(static_cast<Eigen::Index>(p)) = x.row(neighbours[p].first) - x.row(neighbours[p].second);
    const Eigen::MatrixXd near = (e.transpose() * e) / static_cast<double>(neighbours.size());
    std::fprintf(stderr, "pairtrain: %zu neighbour pairs\n", neighbours.size());

    for (const double lambda : lambdas) {
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver((1 - hard) * 2.0 * spread + hard * near -
                                                              lambda * change);
        if (solver.info() != Eigen::Success) {
            std::fputs("pairtrain: eigen decomposition failed\n", stderr);
            return 1;
        }
        // Eigenvalues come in increasing order; take the largest.
        const Eigen::MatrixXd directions = solver.eigenvectors().rightCols(kDescriptorLength).rowwise().reverse();
        const double between = (directions.transpose() * (2.0 * spread) * directions).trace();
        const double neighbour = (directions.transpose() * near * directions).trace();
        const double within = (directions.transpose() * change * directions).trace();
        std::fprintf(stderr,
                     "pairtrain: lambda %.2f: distance between points %.0f, neighbours %.0f, between touches of one "
                     "point %.0f (%.2f, %.2f)\n",
                     lambda, between, neighbour, within, within / between, within / neighbour);
        char how[160];
        std::snprintf(how, sizeof how, "%d windows and %zu corresponding points from %zu fingers, lambda %.2f.", n,
                      pairs.size(), fingers.size(), lambda);
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%g", lambda);
        const std::string path = lambdas.size() == 1 ? out : out + suffix;
        if (!pcatrain::writeBasis(path, mean, directions, how, command)) {
            std::fprintf(stderr, "pairtrain: cannot write %s\n", path.c_str());
            return 2;
        }
    }
    return 0;
}
