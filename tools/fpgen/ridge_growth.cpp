#include "ridge_growth.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "ridge_frequency.h"

namespace fpgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRadius = 8;
constexpr int kSide = 2 * kRadius + 1;
constexpr int kTaps = kSide * kSide;
constexpr int kAngleBins = 36;  // 5 degrees each
constexpr double kPeriodStep = 0.25;
constexpr int kPeriodBins = static_cast<int>((kMaxRidgePeriod - kMinRidgePeriod) / kPeriodStep) + 2;
constexpr double kSigmaAcross = 3.6;  // Gaussian envelope across the ridges
constexpr double kSigmaAlong = 4.2;   // and along them (smooths the ridge line)
constexpr int kDefectRadius = 7;

// Kernel bank indexed by angle bin and period bin. Every kernel has zero mean
// and unit response to a sinusoid matching its orientation and period.
class GaborBank {
  public:
    GaborBank() : taps_(static_cast<size_t>(kAngleBins) * kPeriodBins * kTaps) {
        for (int a = 0; a < kAngleBins; ++a) {
            for (int p = 0; p < kPeriodBins; ++p) build(a, p);
        }
    }
    const float *kernel(int angleBin, int periodBin) const {
        return &taps_[(static_cast<size_t>(angleBin) * kPeriodBins + periodBin) * kTaps];
    }
    static int angleBin(float angle) { return static_cast<int>(std::lround(angle / kPi * kAngleBins)) % kAngleBins; }
    static int periodBin(float period) {
        return std::clamp(static_cast<int>(std::lround((period - kMinRidgePeriod) / kPeriodStep)), 0, kPeriodBins - 1);
    }

  private:
    void build(int a, int p) {
        const double angle = a * kPi / kAngleBins;
        const double period = kMinRidgePeriod + p * kPeriodStep;
        const double c = std::cos(angle), s = std::sin(angle);
        double envelope[kTaps], wave[kTaps];
        double envelopeSum = 0.0, weighted = 0.0;
        for (int j = -kRadius; j <= kRadius; ++j) {
            for (int i = -kRadius; i <= kRadius; ++i) {
                const double along = i * c + j * s;
                const double across = -i * s + j * c;
                const int t = (j + kRadius) * kSide + i + kRadius;
                envelope[t] = std::exp(-0.5 * (across * across / (kSigmaAcross * kSigmaAcross) +
                                               along * along / (kSigmaAlong * kSigmaAlong)));
                wave[t] = std::cos(2.0 * kPi * across / period);
                envelopeSum += envelope[t];
                weighted += envelope[t] * wave[t];
            }
        }
        // Remove the DC part, then scale to unit response on a matching wave.
        const double dc = weighted / envelopeSum;
        double response = 0.0;
        for (int t = 0; t < kTaps; ++t) response += envelope[t] * (wave[t] - dc) * wave[t];
        float *out = &taps_[(static_cast<size_t>(a) * kPeriodBins + p) * kTaps];
        for (int t = 0; t < kTaps; ++t) out[t] = static_cast<float>(envelope[t] * (wave[t] - dc) / response);
    }

    std::vector<float> taps_;
};

const GaborBank &gaborBank() {
    static const GaborBank bank;
    return bank;
}

}  // namespace

FloatImage growRidges(const FloatImage &orientation, const FloatImage &period, const FloatImage &region,
                      const GrowthSettings &settings, Rng &rng) {
    const GaborBank &bank = gaborBank();
    const int w = region.width, h = region.height;
    const int pw = w + 2 * kRadius;  // padded with zeros so the filter needs no bounds checks

    std::vector<int> pixels;  // flat indices of the pixels that grow
    std::vector<const float *> kernels;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (region.at(x, y) <= 0.0f) continue;
            pixels.push_back(y * w + x);
            kernels.push_back(
                bank.kernel(GaborBank::angleBin(orientation.at(x, y)), GaborBank::periodBin(period.at(x, y))));
        }
    }

    std::vector<float> current(static_cast<size_t>(pw) * (h + 2 * kRadius), 0.0f);
    std::vector<float> next(current.size(), 0.0f);
    auto padded = [pw](int x, int y) { return static_cast<size_t>(y + kRadius) * pw + x + kRadius; };

    // Seeds on a jittered grid, so that the fronts reach every part of the
    // finger within the passes; each seed is a single pixel of random sign.
    const int spacing = std::max(8, settings.seedSpacing);
    for (int gy = spacing / 2; gy < h; gy += spacing) {
        for (int gx = spacing / 2; gx < w; gx += spacing) {
            const int x = std::clamp(gx + static_cast<int>(rng.uniform(-0.4, 0.4) * spacing), 0, w - 1);
            const int y = std::clamp(gy + static_cast<int>(rng.uniform(-0.4, 0.4) * spacing), 0, h - 1);
            const bool positive = rng.chance(0.5);
            if (region.at(x, y) > 0.0f) current[padded(x, y)] = positive ? 1.0f : -1.0f;
        }
    }

    // Blocks of the kernel's size: a pixel can only become non-zero when its
    // block or a neighbouring block holds a non-zero value, which spares most
    // of the work of the early passes.
    constexpr int kBlock = kRadius;
    const int bw = (w + kBlock - 1) / kBlock, bh = (h + kBlock - 1) / kBlock;
    std::vector<uint8_t> busy(static_cast<size_t>(bw) * bh), reachable(busy.size());

    const int totalPasses = settings.passes + settings.settlePasses;
    for (int pass = 0; pass < totalPasses; ++pass) {
        if (pass == settings.passes) {
            // Flip the ridge phase in small random discs: each disc heals into a
            // dislocation, a ridge ending or bifurcation where ridges would
            // otherwise run parallel for a long way.
            for (int d = 0; d < settings.defectCount && !pixels.empty(); ++d) {
                const int index = pixels[static_cast<size_t>(rng.below(static_cast<int>(pixels.size())))];
                const int cx = index % w, cy = index / w;
                for (int j = -kDefectRadius; j <= kDefectRadius; ++j) {
                    for (int i = -kDefectRadius; i <= kDefectRadius; ++i) {
                        const int x = cx + i, y = cy + j;
                        if (i * i + j * j > kDefectRadius * kDefectRadius || x < 0 || y < 0 || x >= w || y >= h)
                            continue;
                        current[padded(x, y)] = -current[padded(x, y)];
                    }
                }
            }
        }
        std::fill(busy.begin(), busy.end(), 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (current[padded(x, y)] != 0.0f) busy[static_cast<size_t>(y / kBlock) * bw + x / kBlock] = 1;
            }
        }
        for (int by = 0; by < bh; ++by) {
            for (int bx = 0; bx < bw; ++bx) {
                uint8_t any = 0;
                for (int j = std::max(0, by - 1); j <= std::min(bh - 1, by + 1); ++j) {
                    for (int i = std::max(0, bx - 1); i <= std::min(bw - 1, bx + 1); ++i) any |= busy[j * bw + i];
                }
                reachable[static_cast<size_t>(by) * bw + bx] = any;
            }
        }
        for (size_t n = 0; n < pixels.size(); ++n) {
            const int x = pixels[n] % w, y = pixels[n] / w;
            if (!reachable[static_cast<size_t>(y / kBlock) * bw + x / kBlock]) continue;
            const float *k = kernels[n];
            const float *src = &current[padded(x - kRadius, y - kRadius)];
            // One partial sum per kernel column: the compiler can vectorise the
            // rows without reordering any floating-point sum.
            float columns[kSide] = {};
            for (int j = 0; j < kSide; ++j, src += pw, k += kSide) {
                for (int i = 0; i < kSide; ++i) columns[i] += k[i] * src[i];
            }
            float acc = 0.0f;
            for (float c : columns) acc += c;
            next[padded(x, y)] = std::clamp(settings.gain * acc, -1.0f, 1.0f);
        }
        current.swap(next);
    }

    FloatImage ridges(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) ridges.at(x, y) = current[padded(x, y)];
    }
    return ridges;
}

}  // namespace fpgen
