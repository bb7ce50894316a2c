// Drawings of the stage results for a person to look at.
#pragma once

#include <cstdint>

#include "pgm.h"

namespace fpstages {

// The orientation map as short line segments every `spacing` pixels over a
// dimmed copy of the image; background (orientation 255) is drawn mid grey.
imageio::GrayImage drawOrientation(const uint8_t *image, const uint8_t *orient, int w, int h, int spacing);

// The skeleton in black over a light copy of the image.
imageio::GrayImage drawSkeletonOverlay(const uint8_t *image, const uint8_t *skeleton, int w, int h);

// Counts of the skeleton: black pixels, endings, forks and 2 x 2 black blocks
// (a one-pixel skeleton has none).
struct SkeletonCounts {
    int black = 0;
    int endings = 0;
    int forks = 0;
    int blocks = 0;
};
SkeletonCounts countSkeleton(uint8_t *skeleton, int w, int h);

}  // namespace fpstages
