#include "ridge_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace fpgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kShortestPeriod = 4.0;
constexpr double kLongestPeriod = 24.0;

// Plain DFT along one axis (the windows are small, so no FFT is needed).
void dft(std::vector<std::complex<double>> &data, int count, int stride, int lines, int lineStride) {
    std::vector<std::complex<double>> twiddle(count), line(count);
    for (int k = 0; k < count; ++k) twiddle[k] = std::polar(1.0, -2.0 * kPi * k / count);
    for (int l = 0; l < lines; ++l) {
        std::complex<double> *base = &data[static_cast<size_t>(l) * lineStride];
        for (int k = 0; k < count; ++k) {
            std::complex<double> sum = 0.0;
            for (int n = 0; n < count; ++n) sum += base[static_cast<size_t>(n) * stride] * twiddle[(k * n) % count];
            line[k] = sum;
        }
        for (int k = 0; k < count; ++k) base[static_cast<size_t>(k) * stride] = line[k];
    }
}

}  // namespace

double dominantRidgePeriod(const FloatImage &image) {
    const int w = image.width, h = image.height;
    if (w < 16 || h < 16) return 0.0;
    double mean = 0.0;
    for (float v : image.values) mean += v;
    mean /= static_cast<double>(image.values.size());

    std::vector<std::complex<double>> data(image.values.size());
    for (int y = 0; y < h; ++y) {
        const double wy = 0.5 - 0.5 * std::cos(2.0 * kPi * (y + 0.5) / h);
        for (int x = 0; x < w; ++x) {
            const double wx = 0.5 - 0.5 * std::cos(2.0 * kPi * (x + 0.5) / w);
            data[static_cast<size_t>(y) * w + x] = (image.at(x, y) - mean) * wx * wy;
        }
    }
    dft(data, w, 1, h, w);  // rows
    dft(data, h, w, w, 1);  // columns

    // Radial power profile with bins as wide as the transform's frequency step,
    // then the power-weighted mean frequency of the samples around the peak bin.
    const double binWidth = 1.0 / std::max(w, h);
    const int bins = static_cast<int>(0.75 / binWidth) + 2;
    std::vector<double> power(bins, 0.0);
    std::vector<double> frequency(data.size());
    for (int ky = 0; ky < h; ++ky) {
        const double fy = (ky <= h / 2 ? ky : ky - h) / static_cast<double>(h);
        for (int kx = 0; kx < w; ++kx) {
            const double fx = (kx <= w / 2 ? kx : kx - w) / static_cast<double>(w);
            const size_t i = static_cast<size_t>(ky) * w + kx;
            frequency[i] = std::hypot(fx, fy);
            power[static_cast<int>(std::lround(frequency[i] / binWidth))] += std::norm(data[i]);
        }
    }
    const int first = static_cast<int>(std::ceil(1.0 / kLongestPeriod / binWidth));
    const int last = static_cast<int>(1.0 / kShortestPeriod / binWidth);
    int peak = first;
    for (int b = first; b <= last; ++b) {
        if (power[b] > power[peak]) peak = b;
    }
    if (power[peak] <= 0.0) return 0.0;
    double weighted = 0.0, total = 0.0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (std::fabs(frequency[i] - peak * binWidth) > 1.5 * binWidth) continue;
        weighted += std::norm(data[i]) * frequency[i];
        total += std::norm(data[i]);
    }
    const double peakFrequency = weighted / total;
    if (peakFrequency < 1.0 / kLongestPeriod || peakFrequency > 1.0 / kShortestPeriod) return 0.0;
    return 1.0 / peakFrequency;
}

double dominantRidgePeriod(const uint8_t *pixels, int width, int height) {
    FloatImage image(width, height);
    for (size_t i = 0; i < image.values.size(); ++i) image.values[i] = pixels[i];
    return dominantRidgePeriod(image);
}

namespace {

// Neighbours P2..P9 clockwise from north.
constexpr int kDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// Zhang-Suen thinning of a 0/1 image with a zero border.
void thin(std::vector<uint8_t> &img, int w, int h) {
    std::vector<size_t> remove;
    bool changed = true;
    while (changed) {
        changed = false;
        for (int step = 0; step < 2; ++step) {
            remove.clear();
            for (int y = 1; y + 1 < h; ++y) {
                for (int x = 1; x + 1 < w; ++x) {
                    if (!img[static_cast<size_t>(y) * w + x]) continue;
                    int p[8], count = 0, transitions = 0;
                    for (int k = 0; k < 8; ++k) {
                        p[k] = img[static_cast<size_t>(y + kDy[k]) * w + x + kDx[k]];
                        count += p[k];
                    }
                    for (int k = 0; k < 8; ++k) transitions += (!p[k] && p[(k + 1) % 8]);
                    if (count < 2 || count > 6 || transitions != 1) continue;
                    const bool a = step == 0 ? !(p[0] && p[2] && p[4]) : !(p[0] && p[2] && p[6]);
                    const bool b = step == 0 ? !(p[2] && p[4] && p[6]) : !(p[0] && p[4] && p[6]);
                    if (a && b) remove.push_back(static_cast<size_t>(y) * w + x);
                }
            }
            for (size_t i : remove) img[i] = 0;
            changed = changed || !remove.empty();
        }
    }
}

}  // namespace

MinutiaeCount countMinutiae(const FloatImage &ridges, const FloatImage &mask, int margin) {
    const int w = ridges.width, h = ridges.height;
    std::vector<uint8_t> img(static_cast<size_t>(w) * h, 0);
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x)
            img[static_cast<size_t>(y) * w + x] = ridges.at(x, y) > 0.0f && mask.at(x, y) > 0.5f;
    }
    thin(img, w, h);

    auto inside = [&](int x, int y) {
        for (int k = 0; k < 8; ++k) {
            const int sx = x + kDx[k] * margin, sy = y + kDy[k] * margin;
            if (sx < 0 || sy < 0 || sx >= w || sy >= h || mask.at(sx, sy) <= 0.5f) return false;
        }
        return true;
    };

    MinutiaeCount count;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            if (!img[static_cast<size_t>(y) * w + x]) continue;
            int crossings = 0;
            for (int k = 0; k < 8; ++k) {
                const int a = img[static_cast<size_t>(y + kDy[k]) * w + x + kDx[k]];
                const int b = img[static_cast<size_t>(y + kDy[(k + 1) % 8]) * w + x + kDx[(k + 1) % 8]];
                crossings += a != b;
            }
            crossings /= 2;
            if ((crossings == 1 || crossings == 3) && inside(x, y)) {
                if (crossings == 1)
                    ++count.endings;
                else
                    ++count.bifurcations;
            }
        }
    }
    return count;
}

}  // namespace fpgen
