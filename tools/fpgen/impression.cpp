#include "impression.h"

#include <algorithm>
#include <cmath>

namespace fpgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxRotation = 25.0 * kPi / 180.0;
constexpr int kRenderMargin = 4;  // extra pixels around the window so the blur sees neighbours
constexpr double kInkSoftness = 0.35;
constexpr uint64_t kImpressionStream = 0x696D7072ull;
constexpr uint64_t kFullPrintStream = 0x66756C6Cull;

double smoothstep(double edge0, double edge1, double v) {
    const double t = std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A point of the finger where the window centre may land: near the centre or
// anywhere inside the silhouette, away from its very edge.
void pickCentre(const MasterPrint &master, Placement placement, Rng &rng, double &x, double &y) {
    const FingerShape &shape = master.shape;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (placement == Placement::NearCentre) {
            x = shape.centreX + rng.gaussian() * 0.14 * shape.halfWidth;
            y = shape.centreY - 0.15 * shape.topHeight + rng.gaussian() * 0.14 * shape.topHeight;
        } else {
            x = shape.centreX + rng.uniform(-1.0, 1.0) * shape.halfWidth;
            y = shape.centreY + rng.uniform(-shape.topHeight, shape.bottomHeight);
        }
        if (shape.outside(x, y) < -12.0) return;
    }
    x = shape.centreX;
    y = shape.centreY;
}

}  // namespace

ImpressionParams randomImpression(const MasterPrint &master, int width, int height, Placement placement, Rng &rng) {
    ImpressionParams p;
    pickCentre(master, placement, rng, p.centreX, p.centreY);
    p.angle = rng.uniform(-kMaxRotation, kMaxRotation);
    p.scale = rng.uniform(0.98, 1.03);
    for (DistortionWave &wave : p.waves) {
        const double direction = rng.uniform(0.0, 2.0 * kPi);
        const double wavelength = rng.uniform(120.0, 260.0);
        const double amplitude = rng.uniform(0.8, 2.2);
        const double swing = rng.uniform(0.0, 2.0 * kPi);
        wave.frequencyX = 2.0 * kPi / wavelength * std::cos(direction);
        wave.frequencyY = 2.0 * kPi / wavelength * std::sin(direction);
        wave.amplitudeX = amplitude * std::cos(swing);
        wave.amplitudeY = amplitude * std::sin(swing);
        wave.phase = rng.uniform(0.0, 2.0 * kPi);
    }
    // Contact: usually the whole window touches; one touch in five is tilted or
    // off the sensor's edge, and the contact ellipse's border crosses the window.
    const double window = std::max(width, height);
    const bool partial = rng.chance(0.2);
    const double offset = partial ? rng.uniform(0.35, 0.7) * window : rng.uniform(0.0, 0.2) * window;
    const double direction = rng.uniform(0.0, 2.0 * kPi);
    p.contactX = p.centreX + offset * std::cos(direction);
    p.contactY = p.centreY + offset * std::sin(direction);
    const double smallest = partial ? 0.75 : 0.95, largest = partial ? 1.1 : 1.3;
    p.contactRadiusX = rng.uniform(smallest, largest) * window;
    p.contactRadiusY = rng.uniform(smallest, largest) * window;

    p.moisture = std::clamp(rng.gaussian() * 0.45, -0.9, 0.9);
    p.blurSigma = rng.uniform(0.4, 1.1);
    p.noiseSigma = rng.uniform(2.0, 9.0);
    p.background = rng.uniform(215.0, 248.0);
    p.valley = p.background - rng.uniform(8.0, 40.0);
    p.ridge = rng.uniform(15.0, 90.0);
    p.noiseSeed = rng.next();
    return p;
}

void impressionToMaster(const ImpressionParams &p, int width, int height, double x, double y, double &masterX,
                        double &masterY) {
    double u = x - 0.5 * (width - 1);
    double v = y - 0.5 * (height - 1);
    double du = 0.0, dv = 0.0;
    for (const DistortionWave &wave : p.waves) {
        const double s = std::sin(wave.frequencyX * u + wave.frequencyY * v + wave.phase);
        du += wave.amplitudeX * s;
        dv += wave.amplitudeY * s;
    }
    u = (u + du) * p.scale;
    v = (v + dv) * p.scale;
    const double c = std::cos(p.angle), s = std::sin(p.angle);
    masterX = p.centreX + c * u - s * v;
    masterY = p.centreY + s * u + c * v;
}

CaptureLayers renderImpression(const MasterPrint &master, const ImpressionParams &p, int width, int height) {
    const int rw = width + 2 * kRenderMargin, rh = height + 2 * kRenderMargin;
    Rng rng(p.noiseSeed);
    // Moisture varies over the skin: a smooth field shifts the ridge threshold.
    const FloatImage patchiness = smoothNoise(rw, rh, 24.0, rng);
    // Fine texture roughens the ridge edges; a broad one varies the contrast.
    const FloatImage roughness = smoothNoise(rw, rh, 5.0, rng);
    const FloatImage pressure = smoothNoise(rw, rh, 40.0, rng);
    FloatImage pores(rw, rh);
    for (float &v : pores.values) v = static_cast<float>(rng.uniform());
    gaussianBlur(pores, 1.2);

    FloatImage ink(rw, rh), contact(rw, rh);
    const double threshold = 0.45 * p.moisture;
    for (int y = 0; y < rh; ++y) {
        for (int x = 0; x < rw; ++x) {
            double mx, my;
            impressionToMaster(p, width, height, x - kRenderMargin, y - kRenderMargin, mx, my);
            const double ridge = master.ridges.sample(mx, my, -1.0f);
            const double inside = master.mask.sample(mx, my, 0.0f);
            const double ex = (mx - p.contactX) / p.contactRadiusX, ey = (my - p.contactY) / p.contactRadiusY;
            const double touch = inside * smoothstep(1.0, 0.8, std::sqrt(ex * ex + ey * ey));
            const double t = threshold + 0.2 * patchiness.at(x, y) + 0.22 * roughness.at(x, y);
            double value = smoothstep(t - kInkSoftness, t + kInkSoftness, ridge);
            // Dry skin leaves gaps along the ridges; wet skin smears into the valleys.
            if (p.moisture > 0.0) value *= 1.0 - p.moisture * smoothstep(0.56, 0.68, pores.at(x, y));
            if (p.moisture < 0.0) value = std::max(value, -p.moisture * 0.6 * smoothstep(0.5, 0.65, pores.at(x, y)));
            ink.at(x, y) = static_cast<float>(value);
            contact.at(x, y) = static_cast<float>(touch);
        }
    }
    gaussianBlur(ink, p.blurSigma);
    gaussianBlur(contact, 1.0);

    CaptureLayers layers;
    layers.width = width;
    layers.height = height;
    layers.surface = FloatImage(width, height);
    layers.contact = FloatImage(width, height);
    layers.background = p.background;
    layers.noiseSigma = p.noiseSigma;
    layers.noiseSeed = rng.next();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double c = contact.at(x + kRenderMargin, y + kRenderMargin);
            // A light touch presses the ridges less: they print paler.
            const double depth = (p.valley - p.ridge) * (0.45 + 0.55 * c) *
                                 (0.85 + 0.15 * pressure.at(x + kRenderMargin, y + kRenderMargin));
            layers.surface.at(x, y) =
                static_cast<float>(p.valley - ink.at(x + kRenderMargin, y + kRenderMargin) * depth);
            layers.contact.at(x, y) = static_cast<float>(c);
        }
    }
    return layers;
}

CaptureLayers renderFullPrint(const MasterPrint &master) {
    Rng rng(seedFor(kFullPrintStream, master.seed));
    ImpressionParams p = randomImpression(master, kMasterWidth, kMasterHeight, Placement::NearCentre, rng);
    p.centreX = 0.5 * (kMasterWidth - 1);
    p.centreY = 0.5 * (kMasterHeight - 1);
    p.angle = 0.0;
    p.scale = 1.0;
    for (DistortionWave &wave : p.waves) wave.amplitudeX = wave.amplitudeY = 0.0;
    // The whole finger presses, a little less firmly towards its outline.
    p.contactX = master.shape.centreX;
    p.contactY = master.shape.centreY;
    p.contactRadiusX = master.shape.halfWidth * rng.uniform(1.1, 1.3);
    p.contactRadiusY = std::max(master.shape.topHeight, master.shape.bottomHeight) * rng.uniform(1.1, 1.3);
    return renderImpression(master, p, kMasterWidth, kMasterHeight);
}

ImpressionParams impressionFor(const MasterPrint &master, int width, int height, uint64_t stream, int index,
                               Placement placement) {
    Rng rng(seedFor(kImpressionStream ^ stream, master.seed, static_cast<uint64_t>(index)));
    return randomImpression(master, width, height, placement, rng);
}

}  // namespace fpgen
