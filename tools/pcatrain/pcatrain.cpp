// pcatrain: learns the mean gradient vector and the 24 principal directions of
// the local gradient descriptor from 8-bit captures, and writes them as the
// library's descriptor_basis.cpp.
//
// Each capture goes through the library's own template creation; for every
// extracted point whose descriptor window lies wholly inside the image, the
// window is sampled exactly as the descriptor stage samples it and turned into
// its normalised gradient vector. The mean of those vectors and the leading
// eigenvectors of their covariance (unit length at scale 8192) form the basis.
//
// usage: pcatrain [--out FILE] [--command TEXT] [--profile 1|2] DIR...
//   --profile 2 learns profile 2's basis (windows sampled 1.5 pixels apart)
//   every *.pgm below the DIRs whose size is a sensor size (96x96, 112x88,
//   68x118) is used.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "basis_writer.h"
#include "extraction/descriptors.h"
#include "extraction/template_pipeline.h"
#include "pgm.h"
#include "point_gradients.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBasisRows = kDescriptorLength;

// Sensor type whose source size is w x h, 0 when none.
int sensorTypeFor(int w, int h) {
    if (w == 112 && h == 88) return 1;
    if (w == 68 && h == 118) return 3;
    if (w == 96 && h == 96) return 5;
    return 0;
}

struct Samples {
    std::vector<int16_t> vectors;  // kGradientLength values per sample
    size_t count() const { return vectors.size() / kGradientLength; }
};

// Runs template creation on one capture and appends the gradient vector of
// every point whose window lies wholly inside the image.
int addCapture(const imageio::GrayImage &capture, Samples &samples, int32_t spacingQuarters) {
    const int type = sensorTypeFor(capture.width, capture.height);
    if (type == 0) return -1;
    Quorvane_Init(type);
    std::vector<uint8_t> image = capture.pixels;
    static uint8_t templ[QV_TEMPLATE_SIZE];
    int32_t info[QV_INFO_WORDS] = {};
    if (Quorvane_CreateTemplate(image.data(), static_cast<int16_t>(capture.width), static_cast<int16_t>(capture.height),
                                templ, info) != 1)
        return -1;
    // The feature set stays in the workspace in sensor coordinates, and the
    // smoothed image the descriptors sample stays in g_fGaussSmooth.
    const auto *set = reinterpret_cast<const FeatureSet *>(tempbuf + pipeline_layout::kFeatureSet);
    const uint32_t n = FeaturePointCount(*set);
    int added = 0;
    int16_t gradient[kGradientLength];
    for (uint32_t i = 0; i < n; ++i) {
        if (!pcatrain::pointGradients(g_fGaussSmooth, capture.width, capture.height, *set, i, gradient,
                                      spacingQuarters))
            continue;
        samples.vectors.insert(samples.vectors.end(), gradient, gradient + kGradientLength);
        ++added;
    }
    return added;
}

}  // namespace

int main(int argc, char **argv) {
    std::string out = "descriptor_basis.cpp";
    std::string command;
    bool gallery = false;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--command" && i + 1 < argc) {
            command = argv[++i];
        } else if (arg == "--profile" && i + 1 < argc) {
            const std::string p = argv[++i];
            if (p != "1" && p != "2") {
                std::fputs("pcatrain: --profile takes 1 or 2\n", stderr);
                return 2;
            }
            gallery = p == "2";
        } else if (arg == "-h" || arg == "--help") {
            std::puts("usage: pcatrain [--out FILE] [--command TEXT] [--profile 1|2] DIR...");
            return 0;
        } else {
            dirs.push_back(arg);
        }
    }
    if (dirs.empty()) {
        std::fputs("pcatrain: no capture folder given\n", stderr);
        return 2;
    }

    std::vector<fs::path> files;
    for (const auto &dir : dirs) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_regular_file() && it->path().extension() == ".pgm") files.push_back(it->path());
        if (ec) {
            std::fprintf(stderr, "pcatrain: cannot read %s\n", dir.c_str());
            return 2;
        }
    }
    std::sort(files.begin(), files.end());  // the same files in the same order give the same basis

    Samples samples;
    int used = 0, refused = 0;
    for (const auto &file : files) {
        imageio::GrayImage capture;
        std::string error;
        if (!imageio::readPgm(file.string(), capture, &error)) {
            std::fprintf(stderr, "pcatrain: %s: %s\n", file.c_str(), error.c_str());
            return 2;
        }
        if (addCapture(capture, samples,
                       (gallery ? GalleryDescriptorStyle() : OriginalDescriptorStyle()).spacingQuarters) < 0)
            ++refused;
        else
            ++used;
    }
    const size_t n = samples.count();
    std::fprintf(stderr, "pcatrain: %d captures used, %d refused, %zu windows\n", used, refused, n);
    if (n < 1000) {
        std::fputs("pcatrain: too few windows to learn a basis\n", stderr);
        return 1;
    }

    // Mean and covariance in double precision.
    Eigen::MatrixXd x(n, kGradientLength);
    for (size_t s = 0; s < n; ++s)
        for (int k = 0; k < kGradientLength; ++k) x(s, k) = samples.vectors[s * kGradientLength + k];
    const Eigen::VectorXd mean = x.colwise().mean().transpose();
    // Centre on the rounded mean: that is what the library subtracts.
    x.rowwise() -= pcatrain::roundedMean(mean).transpose();
    const Eigen::MatrixXd covariance = (x.transpose() * x) / static_cast<double>(n);
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(covariance);
    if (solver.info() != Eigen::Success) {
        std::fputs("pcatrain: eigen decomposition failed\n", stderr);
        return 1;
    }
    // Eigenvalues come in increasing order; take the largest.
    const Eigen::MatrixXd directions = solver.eigenvectors().rightCols(kBasisRows).rowwise().reverse();
    const double kept = solver.eigenvalues().tail(kBasisRows).sum(), total = solver.eigenvalues().sum();
    std::fprintf(stderr, "pcatrain: the %d directions keep %.1f%% of the variance\n", kBasisRows, 100.0 * kept / total);

    const std::string how = std::to_string(n) + " windows from " + std::to_string(used) + " captures.";
    if (!pcatrain::writeBasis(out, mean, directions, how, command, gallery)) {
        std::fprintf(stderr, "pcatrain: cannot write %s\n", out.c_str());
        return 2;
    }
    return 0;
}
