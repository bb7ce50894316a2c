#include "point_gradients.h"

namespace pcatrain {

bool pointGradients(const int16_t *image, int32_t width, int32_t height, const FeatureSet &set, uint32_t i,
                    int16_t *gradient, int32_t spacingQuarters) {
    Minutia point = set.points[i];
    int16_t window[kWindowSamples];
    MakeSpacedWindow(image, width, height, &point, DescriptorRotation(set, i), window, kDescriptorWindow,
                     kDescriptorWindow, spacingQuarters);
    if (point.coverage != 55) return false;
    WindowGradients(window, kDescriptorWindow, kDescriptorWindow, gradient);
    ThreshNormGradientVector(gradient, kGradientLength);
    return true;
}

}  // namespace pcatrain
