// Local gradient descriptors: for every point a 21 x 21 window of the smoothed
// image, rotated to the point's direction, becomes a 722-value gradient vector
// that is normalised, centred on g_meanvec and projected onto the 24 principal
// directions of g_eigspace. Descriptor matching compares these between captures.
#ifndef QV_DESCRIPTORS_H
#define QV_DESCRIPTORS_H

#include <cstdint>

#include "core/featureset.h"

// Window side in samples and length of the gradient vector.
inline constexpr int32_t kDescriptorWindow = 21;
inline constexpr int32_t kWindowSamples = kDescriptorWindow * kDescriptorWindow;
inline constexpr int32_t kGradientLength = 2 * (kDescriptorWindow - 2) * (kDescriptorWindow - 2);
static_assert(kGradientLength == 722);

// Fills descriptor and coverage of every point of the set. The image (row
// stride = width) is in the frame of the points' coordinates.
void CreateDescriptors(FeatureSet *set, const int16_t *image, int32_t width, int32_t height, int16_t *window,
                       int16_t *gradient);

// How a recognition profile describes points: the distance between window
// samples in quarter pixels (4 = one pixel) and the basis projected on.
struct DescriptorStyle {
    int32_t spacingQuarters;
    const int16_t *mean;   // kGradientLength values
    const int16_t *basis;  // kDescriptorLength rows of kGradientLength values
};
// The original descriptors: samples one pixel apart, g_meanvec and g_eigspace.
const DescriptorStyle &OriginalDescriptorStyle();
// Profile 2: samples 1.5 pixels apart (the window spans 30 pixels, about
// three ridge periods), its own basis (descriptor_basis_gallery.cpp).
const DescriptorStyle &GalleryDescriptorStyle();

// CreateDescriptors in the given style.
void CreateStyledDescriptors(FeatureSet *set, const int16_t *image, int32_t width, int32_t height, int16_t *window,
                             int16_t *gradient, const DescriptorStyle &style);

// Samples a cols x rows window around the point, rotated by `rotation`
// degrees, with bilinear interpolation at 9 fraction bits; writes the point's
// coverage ((441 - clamped samples) >> 3).
void MakeImgWindowInterpol(const int16_t *image, int32_t width, int32_t height, Minutia *point, int32_t rotation,
                           int16_t *window, int32_t cols, int32_t rows);

// MakeImgWindowInterpol with samples spacingQuarters / 4 pixels apart.
void MakeSpacedWindow(const int16_t *image, int32_t width, int32_t height, Minutia *point, int32_t rotation,
                      int16_t *window, int32_t cols, int32_t rows, int32_t spacingQuarters);

// Gradient vector of the window, normalisation, mean subtraction and
// projection into the point's descriptor.
void TrainPcaGradientImage(const int16_t *window, int32_t cols, int32_t rows, Minutia *point, int16_t *gradient,
                           int32_t length);

// TrainPcaGradientImage on the style's mean and basis.
void StyledGradientDescriptor(const int16_t *window, int32_t cols, int32_t rows, Minutia *point, int16_t *gradient,
                              int32_t length, const DescriptorStyle &style);

// Profile 2's descriptor basis, learnt like g_meanvec and g_eigspace from
// windows with the gallery style's spacing.
extern const int16_t g_galleryMeanvec[kGradientLength];
extern const int16_t g_galleryEigspace[kDescriptorLength * kGradientLength];

// Scales the vector to length about 512, clips components to -102..102 and,
// when anything was clipped, scales it back to length about 512.
void ThreshNormGradientVector(int16_t *vector, int32_t length);

// The window's raw gradient vector (gx then gy for rows and columns 1..n-2),
// the first step of TrainPcaGradientImage.
void WindowGradients(const int16_t *window, int32_t cols, int32_t rows, int16_t *gradient);

// Rotation of point i's descriptor window, in degrees: minutiae and knee
// points are turned differently.
int32_t DescriptorRotation(const FeatureSet &set, uint32_t i);

// vector -= mean, element by element, for `rows` consecutive vectors.
void SubtractImg(int16_t *vector, const int16_t *mean, int32_t length, int32_t rows);

// out[d] = clamp((sum_k (matrix[d][k] * vector[k]) >> 6) >> 11, -128, 127).
void MatMul(const int16_t *matrix, const int16_t *vector, int16_t *out, int32_t length, int32_t rows);

#endif
