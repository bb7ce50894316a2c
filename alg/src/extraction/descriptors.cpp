#include "extraction/descriptors.h"

#include <cstring>

#include "core/fixedmath.h"

namespace {

constexpr int32_t kFractionBits = 9;
constexpr int32_t kOne = 1 << kFractionBits;
constexpr int32_t kFractionMask = kOne - 1;
constexpr int32_t kClipLevel = 102;
constexpr int32_t kOneQuarterPixels = 4;
constexpr int32_t kGallerySpacingQuarters = 6;

// Rows of the image used for a sample at row py: py and py + 1, or the
// nearest edge row twice when py lies outside.
struct RowPair {
    const int16_t *upper;
    const int16_t *lower;
    bool clamped;
};

RowPair rowsFor(const int16_t *image, int32_t width, int32_t height, int32_t py) {
    if (py < 0) return {image, image, true};
    if (py >= height - 1) {
        const int16_t *last = image + (height - 1) * width;
        return {last, last, true};
    }
    const int16_t *row = image + py * width;
    return {row, row + width, false};
}

int32_t bilinear(const int16_t *upper, const int16_t *lower, int32_t px, int32_t fx, int32_t fy) {
    const int32_t top = upper[px] * (kOne - fx) + upper[px + 1] * fx;
    const int32_t bottom = lower[px] * (kOne - fx) + lower[px + 1] * fx;
    return ((top << kFractionBits) + (bottom - top) * fy) >> 18;
}

bool insideFastArea(int32_t u, int32_t v, int32_t width, int32_t height) {
    const int32_t px = u >> kFractionBits;
    const int32_t py = v >> kFractionBits;
    return px >= 1 && px <= width - 3 && py >= 1 && py <= height - 3;
}

}  // namespace

void MakeImgWindowInterpol(const int16_t *image, int32_t width, int32_t height, Minutia *point, int32_t rotation,
                           int16_t *window, int32_t cols, int32_t rows) {
    MakeSpacedWindow(image, width, height, point, rotation, window, cols, rows, kOneQuarterPixels);
}

void MakeSpacedWindow(const int16_t *image, int32_t width, int32_t height, Minutia *point, int32_t rotation,
                      int16_t *window, int32_t cols, int32_t rows, int32_t spacingQuarters) {
    // One sample step, 9 fraction bits; at one pixel spacing exactly cos512 and sin512.
    const int32_t c = (cos512(rotation) * spacingQuarters) >> 2;
    const int32_t s = (sin512(rotation) * spacingQuarters) >> 2;
    const int32_t x = static_cast<int32_t>(point->x);
    const int32_t y = static_cast<int32_t>(point->y);
    int32_t rowU = (x << kFractionBits) - c * ((cols - 1) >> 1) - s * ((rows - 1) >> 1);
    int32_t rowV = (y << kFractionBits) + s * ((cols - 1) >> 1) - c * ((rows - 1) >> 1);
    int32_t clamped = 0;
    int16_t *out = window;
    for (int32_t r = 0; r < rows; ++r, rowU += s, rowV += c) {
        const int32_t lastU = rowU + (cols - 1) * c;
        const int32_t lastV = rowV - (cols - 1) * s;
        int32_t u = rowU;
        int32_t v = rowV;
        if (insideFastArea(rowU, rowV, width, height) && insideFastArea(lastU, lastV, width, height)) {
            for (int32_t k = 0; k < cols; ++k, u += c, v -= s) {
                const int16_t *upper = image + (v >> kFractionBits) * width;
                *out++ = static_cast<int16_t>(
                    bilinear(upper, upper + width, u >> kFractionBits, u & kFractionMask, v & kFractionMask));
            }
            continue;
        }
        for (int32_t k = 0; k < cols; ++k, u += c, v -= s) {
            const int32_t px = u >> kFractionBits;
            const int32_t fx = u & kFractionMask;
            const int32_t fy = v & kFractionMask;
            const RowPair pair = rowsFor(image, width, height, v >> kFractionBits);
            bool sampleClamped = pair.clamped;
            int32_t value;
            if (px < 0 || px >= width - 1) {
                sampleClamped = true;
                const int32_t column = px < 0 ? 0 : width - 1;
                const int32_t t = pair.upper[column];
                const int32_t b = pair.lower[column];
                value = ((t << kFractionBits) + (b - t) * fy) >> kFractionBits;
            } else {
                value = bilinear(pair.upper, pair.lower, px, fx, fy);
            }
            if (sampleClamped) ++clamped;
            *out++ = static_cast<int16_t>(value);
        }
    }
    point->coverage = static_cast<uint32_t>((kWindowSamples - clamped) >> 3);
}

void ThreshNormGradientVector(int16_t *vector, int32_t length) {
    int32_t sum = 0;
    for (int32_t k = 0; k < length; ++k) sum += vector[k] * vector[k];
    const int32_t q = sum > 1 ? SqrtByNewton(sum) : 1;
    bool clipped = false;
    for (int32_t k = 0; k < length; ++k) {
        int32_t value = vector[k] * 512 / q;
        if (value > kClipLevel) {
            value = kClipLevel;
            clipped = true;
        } else if (value < -kClipLevel) {
            value = -kClipLevel;
            clipped = true;
        }
        vector[k] = static_cast<int16_t>(value);
    }
    if (!clipped) return;
    int32_t sum2 = 0;
    for (int32_t k = 0; k < length; ++k) sum2 += vector[k] * vector[k];
    const int32_t q2 = SqrtByNewton(sum2 * 100);
    for (int32_t k = 0; k < length; ++k) vector[k] = q2 == 0 ? int16_t{0} : static_cast<int16_t>(vector[k] * 5120 / q2);
}

void SubtractImg(int16_t *vector, const int16_t *mean, int32_t length, int32_t rows) {
    for (int32_t r = 0; r < rows; ++r, vector += length)
        for (int32_t k = 0; k < length; ++k) vector[k] = static_cast<int16_t>(vector[k] - mean[k]);
}

void MatMul(const int16_t *matrix, const int16_t *vector, int16_t *out, int32_t length, int32_t rows) {
    for (int32_t d = 0; d < rows; ++d, matrix += length) {
        int32_t acc = 0;
        for (int32_t k = 0; k < length; ++k) acc += (matrix[k] * vector[k]) >> 6;
        int32_t value = acc >> 11;
        if (value > 127) value = 127;
        if (value < -128) value = -128;
        out[d] = static_cast<int16_t>(value);
    }
}

void WindowGradients(const int16_t *window, int32_t cols, int32_t rows, int16_t *gradient) {
    int16_t *g = gradient;
    for (int32_t r = 1; r < rows - 1; ++r) {
        const int16_t *w = window + r * cols;
        for (int32_t c = 1; c < cols - 1; ++c) {
            *g++ = static_cast<int16_t>(w[c + 1] - w[c - 1]);
            *g++ = static_cast<int16_t>(w[c + cols] - w[c - cols]);
        }
    }
}

int32_t DescriptorRotation(const FeatureSet &set, uint32_t i) {
    const int32_t angle = static_cast<int32_t>(set.points[i].angle % 360);
    // Minutiae: columns along angle + 90, rows along angle + 180.
    // Knee points: columns along the angle, rows along angle + 90.
    return i < set.minutiaCount ? (630 - angle) % 360 : (360 - angle) % 360;
}

const DescriptorStyle &OriginalDescriptorStyle() {
    static constexpr DescriptorStyle kStyle{kOneQuarterPixels, g_meanvec, g_eigspace};
    return kStyle;
}

const DescriptorStyle &GalleryDescriptorStyle() {
    static constexpr DescriptorStyle kStyle{kGallerySpacingQuarters, g_galleryMeanvec, g_galleryEigspace};
    return kStyle;
}

void TrainPcaGradientImage(const int16_t *window, int32_t cols, int32_t rows, Minutia *point, int16_t *gradient,
                           int32_t length) {
    StyledGradientDescriptor(window, cols, rows, point, gradient, length, OriginalDescriptorStyle());
}

void StyledGradientDescriptor(const int16_t *window, int32_t cols, int32_t rows, Minutia *point, int16_t *gradient,
                              int32_t length, const DescriptorStyle &style) {
    WindowGradients(window, cols, rows, gradient);
    ThreshNormGradientVector(gradient, length);
    SubtractImg(gradient, style.mean, length, 1);
    MatMul(style.basis, gradient, point->descriptor, length, kDescriptorLength);
}

void CreateDescriptors(FeatureSet *set, const int16_t *image, int32_t width, int32_t height, int16_t *window,
                       int16_t *gradient) {
    CreateStyledDescriptors(set, image, width, height, window, gradient, OriginalDescriptorStyle());
}

void CreateStyledDescriptors(FeatureSet *set, const int16_t *image, int32_t width, int32_t height, int16_t *window,
                             int16_t *gradient, const DescriptorStyle &style) {
    const uint32_t n = FeaturePointCount(*set);
    std::memset(window, 0, kWindowSamples * sizeof *window);
    std::memset(gradient, 0, kGradientLength * sizeof *gradient);
    for (uint32_t i = 0; i < n && i < static_cast<uint32_t>(kMaxFeaturePoints); ++i) {
        Minutia &point = set->points[i];
        std::memset(point.descriptor, 0, sizeof point.descriptor);
        MakeSpacedWindow(image, width, height, &point, DescriptorRotation(*set, i), window, kDescriptorWindow,
                         kDescriptorWindow, style.spacingQuarters);
        StyledGradientDescriptor(window, kDescriptorWindow, kDescriptorWindow, &point, gradient, kGradientLength,
                                 style);
    }
}
