#include "float_image.h"

#include <algorithm>
#include <cmath>

#include "random.h"

namespace fpgen {

float FloatImage::sample(double x, double y, float outside) const {
    if (!(x >= 0.0 && y >= 0.0 && x <= width - 1 && y <= height - 1)) return outside;
    const int x0 = std::min(static_cast<int>(x), width - 2 < 0 ? 0 : width - 2);
    const int y0 = std::min(static_cast<int>(y), height - 2 < 0 ? 0 : height - 2);
    const int x1 = std::min(x0 + 1, width - 1);
    const int y1 = std::min(y0 + 1, height - 1);
    const float fx = static_cast<float>(x - x0);
    const float fy = static_cast<float>(y - y0);
    const float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * fx;
    const float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * fx;
    return top + (bottom - top) * fy;
}

void gaussianBlur(FloatImage &image, double sigma) {
    if (sigma < 0.1 || image.values.empty()) return;
    const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0.0f;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
        sum += kernel[i + radius];
    }
    for (float &k : kernel) k /= sum;

    const int w = image.width, h = image.height;
    std::vector<float> line(std::max(w, h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float acc = 0.0f;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[i + radius] * image.at(std::clamp(x + i, 0, w - 1), y);
            line[x] = acc;
        }
        for (int x = 0; x < w; ++x) image.at(x, y) = line[x];
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            float acc = 0.0f;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[i + radius] * image.at(x, std::clamp(y + i, 0, h - 1));
            line[y] = acc;
        }
        for (int y = 0; y < h; ++y) image.at(x, y) = line[y];
    }
}

namespace {

// Catmull-Rom interpolation between p1 and p2.
double cubic(double p0, double p1, double p2, double p3, double t) {
    return p1 + 0.5 * t * (p2 - p0 + t * (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3 + t * (3.0 * (p1 - p2) + p3 - p0)));
}

}  // namespace

FloatImage smoothNoise(int width, int height, double cell, Rng &rng) {
    // Nodes from one before the first cell to two after the last one.
    const int gw = static_cast<int>((width + cell) / cell) + 4;
    const int gh = static_cast<int>((height + cell) / cell) + 4;
    std::vector<double> grid(static_cast<size_t>(gw) * gh);
    for (double &g : grid) g = rng.uniform(-1.0, 1.0);
    // A random sub-cell offset keeps the grid from lining up between images.
    const double ox = rng.uniform(0.0, cell), oy = rng.uniform(0.0, cell);
    auto node = [&](int gx, int gy) { return grid[static_cast<size_t>(gy) * gw + gx]; };

    FloatImage out(width, height);
    for (int y = 0; y < height; ++y) {
        const double gyf = (y + oy) / cell + 1.0;
        const int gy = static_cast<int>(gyf);
        const double ty = gyf - gy;
        for (int x = 0; x < width; ++x) {
            const double gxf = (x + ox) / cell + 1.0;
            const int gx = static_cast<int>(gxf);
            const double tx = gxf - gx;
            double rows[4];
            for (int j = 0; j < 4; ++j) {
                const int r = gy - 1 + j;
                rows[j] = cubic(node(gx - 1, r), node(gx, r), node(gx + 1, r), node(gx + 2, r), tx);
            }
            out.at(x, y) = static_cast<float>(cubic(rows[0], rows[1], rows[2], rows[3], ty));
        }
    }
    return out;
}

}  // namespace fpgen
