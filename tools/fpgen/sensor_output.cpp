#include "sensor_output.h"

#include <algorithm>
#include <cmath>

#include "capture_format.h"

namespace fpgen {

namespace {

constexpr uint64_t kStripeStream = 0x737472697065ull;
constexpr double kGrayTo12Bit = 16.0;  // one 8-bit grey step is 16 sensor counts
// Grey levels at and above this count as an empty sensor in a crop of a real print.
constexpr int kEmptyGray = 236;

uint16_t clamp12(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 4095L)); }

double background12For(double background8) {
    const double t = std::clamp((background8 - 200.0) / 55.0, 0.0, 1.0);
    return kBackground12Min + t * (kBackground12Max - kBackground12Min - 2 * kMaxStripeOffset);
}

}  // namespace

const SensorModel *findSensorModel(const std::string &name) {
    for (const SensorModel &model : kSensorModels) {
        if (name == model.name) return &model;
    }
    return nullptr;
}

imageio::GrayImage composeGray8(const CaptureLayers &layers) {
    Rng rng(layers.noiseSeed);
    imageio::GrayImage image(layers.width, layers.height);
    for (int y = 0; y < layers.height; ++y) {
        for (int x = 0; x < layers.width; ++x) {
            const double c = layers.contact.at(x, y);
            const double grey = c * layers.surface.at(x, y) + (1.0 - c) * layers.background;
            image.at(x, y) =
                static_cast<uint8_t>(std::clamp(std::lround(grey + layers.noiseSigma * rng.gaussian()), 0L, 255L));
        }
    }
    return image;
}

std::vector<uint16_t> composeRaw12(const CaptureLayers &layers) {
    Rng rng(layers.noiseSeed);
    const double background12 = background12For(layers.background);
    std::vector<uint16_t> values(static_cast<size_t>(layers.width) * layers.height);
    for (int y = 0; y < layers.height; ++y) {
        for (int x = 0; x < layers.width; ++x) {
            const double c = layers.contact.at(x, y);
            const double finger = kFinger12Dark + std::clamp(layers.surface.at(x, y) / 255.0, 0.0, 1.0) *
                                                      (kFinger12Light - kFinger12Dark);
            const double noise = layers.noiseSigma * kGrayTo12Bit * 0.25 * rng.gaussian();
            values[static_cast<size_t>(y) * layers.width + x] = clamp12(c * finger + (1.0 - c) * background12 + noise);
        }
    }
    Rng stripes(seedFor(kStripeStream, layers.noiseSeed));
    addReadoutStripes(values, layers.width, stripes);
    return values;
}

std::vector<uint16_t> gray8ToRaw12(const imageio::GrayImage &image, uint64_t seed) {
    Rng rng(seedFor(kStripeStream, seed));
    const double background12 = background12For(rng.uniform(220.0, 250.0));
    std::vector<uint16_t> values(image.pixels.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const int g = image.pixels[i];
        double v;
        if (g < kEmptyGray) {
            v = kFinger12Dark + g * static_cast<double>(kFinger12Light - kFinger12Dark) / kEmptyGray;
        } else {
            const double t = (g - kEmptyGray) / static_cast<double>(255 - kEmptyGray);
            v = kFinger12Light + t * (background12 - kFinger12Light);
        }
        values[i] = clamp12(v + 6.0 * rng.gaussian());
    }
    addReadoutStripes(values, image.width, rng);
    return values;
}

void addReadoutStripes(std::vector<uint16_t> &values12, int width, Rng &rng) {
    int offsets[kReadoutChannels];
    for (int &offset : offsets)
        offset = static_cast<int>(std::lround(rng.uniform(-kMaxStripeOffset, kMaxStripeOffset)));
    for (size_t i = 0; i < values12.size(); ++i) {
        const int column = static_cast<int>(i % static_cast<size_t>(width));
        values12[i] = clamp12(values12[i] + offsets[column % kReadoutChannels]);
    }
}

std::vector<uint8_t> rawCapture(const SensorModel &model, const imageio::GrayImage &gray8,
                                const std::vector<uint16_t> &values12) {
    const capture::SensorFormat *format = capture::findSensorFormat(model.productId);
    if (format == nullptr) return {};
    std::vector<uint8_t> raw(format->rawLength);
    if (format->sixteenBitImage) {
        if (values12.size() != static_cast<size_t>(format->width) * format->height) return {};
        capture::pack12BitImage(values12.data(), raw.data());
        return raw;
    }
    if (gray8.width != format->width || gray8.height != format->height) return {};
    if (model.productId == capture::kProductSplitRows) {
        capture::splitColumns(gray8.pixels.data(), raw.data());
    } else {
        std::copy(gray8.pixels.begin(), gray8.pixels.end(), raw.begin());
    }
    return raw;
}

SyntheticCapture syntheticCapture(const MasterPrint &master, const SensorModel &model, int index, Placement placement) {
    return renderCapture(master, model,
                         impressionFor(master, model.width, model.height, model.productId, index, placement));
}

SyntheticCapture renderCapture(const MasterPrint &master, const SensorModel &model, const ImpressionParams &params) {
    SyntheticCapture result;
    result.params = params;
    const CaptureLayers layers = renderImpression(master, result.params, model.width, model.height);
    result.gray = composeGray8(layers);
    if (model.productId == capture::kProduct12Bit) result.values12 = composeRaw12(layers);
    result.raw = rawCapture(model, result.gray, result.values12);
    return result;
}

}  // namespace fpgen
