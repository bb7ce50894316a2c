#include "stage_images.h"

#include "core/fixedmath.h"
#include "extraction/skeleton_walk.h"

namespace fpstages {

namespace {

constexpr uint8_t kNoOrientation = 255;
constexpr uint8_t kBackgroundGrey = 128;
constexpr uint8_t kLineInk = 0;

}  // namespace

imageio::GrayImage drawOrientation(const uint8_t *image, const uint8_t *orient, int w, int h, int spacing) {
    imageio::GrayImage out(w, h);
    for (int i = 0; i < w * h; ++i)
        out.pixels[static_cast<size_t>(i)] =
            orient[i] == kNoOrientation ? kBackgroundGrey : static_cast<uint8_t>(160 + image[i] * 95 / 255);
    const int half = spacing / 2;
    for (int y = half; y < h; y += spacing)
        for (int x = half; x < w; x += spacing) {
            const uint8_t o = orient[y * w + x];
            if (o == kNoOrientation) continue;
            const int c = cos512(o), s = sin512(o);
            for (int t = -half + 1; t < half; ++t) {
                const int px = x + (t * c + (t * c >= 0 ? 256 : -256)) / 512;
                const int py = y + (t * s + (t * s >= 0 ? 256 : -256)) / 512;
                if (px >= 0 && px < w && py >= 0 && py < h) out.at(px, py) = kLineInk;
            }
        }
    return out;
}

imageio::GrayImage drawSkeletonOverlay(const uint8_t *image, const uint8_t *skeleton, int w, int h) {
    imageio::GrayImage out(w, h);
    for (int i = 0; i < w * h; ++i)
        out.pixels[static_cast<size_t>(i)] =
            skeleton[i] == kBlack ? kLineInk
                                  : static_cast<uint8_t>(140 + (image[i] > 250 ? 250 : image[i]) * 115 / 250);
    return out;
}

SkeletonCounts countSkeleton(uint8_t *skeleton, int w, int h) {
    SkeletonCounts c;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            uint8_t *p = skeleton + y * w + x;
            if (*p != kBlack) continue;
            ++c.black;
            if (IsEnd(p, w)) ++c.endings;
            if (IsFork(p, w)) ++c.forks;
            if (p[1] == kBlack && p[w] == kBlack && p[w + 1] == kBlack) ++c.blocks;
        }
    return c;
}

}  // namespace fpstages
