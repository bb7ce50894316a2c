#include "capture_sets.h"

#include <algorithm>
#include <filesystem>

#include "capture_format.h"
#include "master_print.h"
#include "pgm.h"
#include "sensor_output.h"

namespace fs = std::filesystem;

namespace fpeval {

uint16_t productForSize(int width, int height) {
    if (width == capture::kWidth12Bit && height == capture::kHeight12Bit) return capture::kProduct12Bit;
    if (width == capture::kWidthSplitRows && height == capture::kHeightSplitRows) return capture::kProductSplitRows;
    if (width == capture::kWidthPlain && height == capture::kHeightPlain) return capture::kProductPlain;
    return 0;
}

const char *sizeName(uint16_t productId) {
    switch (productId) {
    case capture::kProduct12Bit:
        return "96x96";
    case capture::kProductSplitRows:
        return "68x118";
    case capture::kProductPlain:
        return "112x88";
    default:
        return "?";
    }
}

std::vector<uint8_t> rawFromGray(uint16_t productId, const std::vector<uint8_t> &gray, int width, int height,
                                 uint64_t seed) {
    const fpgen::SensorModel *model = nullptr;
    for (const auto &m : fpgen::kSensorModels)
        if (m.productId == productId) model = &m;
    if (model == nullptr || model->width != width || model->height != height) return {};
    imageio::GrayImage image(width, height);
    image.pixels = gray;
    std::vector<uint16_t> values12;
    if (productId == capture::kProduct12Bit) values12 = fpgen::gray8ToRaw12(image, seed);
    return fpgen::rawCapture(*model, image, values12);
}

namespace {

// Seed of a capture's readout noise from its finger folder and file name
// ("fvc2002_db1_b_101/p_03.pgm"), not from the whole path: the same capture
// gets the same noise wherever the cut lies, so figures measured in one folder
// reproduce in another.
uint64_t nameSeed(const std::string &s) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

bool loadCapture(const fs::path &path, uint64_t noise, uint16_t &productId, Capture &out, std::string &error) {
    imageio::GrayImage image;
    if (!imageio::readPgm(path.string(), image, &error)) {
        error = path.string() + ": " + error;
        return false;
    }
    const uint16_t product = productForSize(image.width, image.height);
    if (product == 0 || (productId != 0 && product != productId)) {
        error = path.string() + ": not a sensor size, or sizes differ within one finger";
        return false;
    }
    productId = product;
    out.name = path.filename().string();
    out.productId = product;
    out.raw = rawFromGray(
        product, image.pixels, image.width, image.height,
        nameSeed((path.parent_path().filename() / path.filename()).generic_string()) ^ noise * 0x9E3779B97F4A7C15ull);
    return true;
}

}  // namespace

bool loadCaptureFolder(const std::string &folder, std::vector<Finger> &fingers, std::string &error, uint64_t noise) {
    std::error_code ec;
    std::vector<fs::path> dirs;
    for (const auto &entry : fs::directory_iterator(folder, ec))
        if (entry.is_directory()) dirs.push_back(entry.path());
    if (ec) {
        error = folder + ": " + ec.message();
        return false;
    }
    std::sort(dirs.begin(), dirs.end());
    for (const auto &dir : dirs) {
        std::vector<fs::path> files;
        for (const auto &entry : fs::directory_iterator(dir, ec))
            if (entry.path().extension() == ".pgm") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        Finger finger;
        finger.name = dir.filename().string();
        const auto cut = finger.name.rfind('_');
        finger.set = cut == std::string::npos ? finger.name : finger.name.substr(0, cut);
        finger.productId = 0;
        for (const auto &file : files) {
            const std::string stem = file.stem().string();
            const bool enrol = stem.rfind("e_", 0) == 0;
            if (!enrol && stem.rfind("p_", 0) != 0) continue;
            Capture c;
            if (!loadCapture(file, noise, finger.productId, c, error)) return false;
            (enrol ? finger.enrol : finger.probe).push_back(std::move(c));
        }
        if (!finger.enrol.empty() || !finger.probe.empty()) fingers.push_back(std::move(finger));
    }
    return true;
}

void addSyntheticFingers(uint16_t productId, int count, uint64_t firstSeed, int enrolCount, int probeCount,
                         std::vector<Finger> &fingers) {
    const fpgen::SensorModel *model = nullptr;
    for (const auto &m : fpgen::kSensorModels)
        if (m.productId == productId) model = &m;
    if (model == nullptr) return;
    for (int f = 0; f < count; ++f) {
        const uint64_t seed = firstSeed + static_cast<uint64_t>(f);
        const fpgen::MasterPrint master = fpgen::generateMaster(seed);
        Finger finger;
        finger.set = "synthetic";
        finger.name = "synthetic_" + std::to_string(seed);
        finger.productId = productId;
        for (int i = 0; i < enrolCount + probeCount; ++i) {
            fpgen::SyntheticCapture s = fpgen::syntheticCapture(master, *model, i);
            Capture c{(i < enrolCount ? "e_" : "p_") + std::to_string(i), productId, std::move(s.raw)};
            (i < enrolCount ? finger.enrol : finger.probe).push_back(std::move(c));
        }
        fingers.push_back(std::move(finger));
    }
}

}  // namespace fpeval
