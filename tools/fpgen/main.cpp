// fpgen: synthetic fingerprints with known identity.
//
//   fpgen [options] OUTDIR        full prints and sensor impressions as files
//   fpgen sheet [options] FILE    contact sheet (.png or .pgm) to look at
//   fpgen stats [options]         class, minutiae count and ridge periods per finger
//
// Options: --seeds A or A-B (finger seeds, default 1), --impressions N (per
// finger and sensor, default 4), --sensors 2547,2548,2549, --formats pgm,raw,
// --placement centre|whole, --class arch|tented_arch|left_loop|right_loop|whorl,
// --no-full (skip the full prints).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "contact_sheet.h"
#include "master_print.h"
#include "png.h"
#include "ridge_analysis.h"
#include "sensor_output.h"

namespace {

using namespace fpgen;

struct Options {
    std::string command;  // "", "sheet" or "stats"
    std::string target;
    uint64_t firstSeed = 1, lastSeed = 1;
    int impressions = 4;
    std::vector<const SensorModel *> sensors;
    bool writePgm = true, writeRaw = true, writeFull = true;
    Placement placement = Placement::NearCentre;
    std::optional<FingerClass> fingerClass;
};

int usage() {
    std::fprintf(stderr,
                 "usage: fpgen [--seeds A[-B]] [--impressions N] [--sensors 2547,2548,2549] [--formats pgm,raw]\n"
                 "             [--placement centre|whole] [--class NAME] [--no-full] OUTDIR\n"
                 "       fpgen sheet [--seeds A[-B]] [--impressions N] [--placement centre|whole] FILE.png|FILE.pgm\n"
                 "       fpgen stats [--seeds A[-B]] [--class NAME]\n");
    return 2;
}

std::vector<std::string> splitList(const std::string &text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const size_t end = comma == std::string::npos ? text.size() : comma;
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool parseNumber(const std::string &text, uint64_t &value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18) return false;
    value = std::stoull(text);
    return true;
}

bool parseArguments(int argc, char **argv, Options &options) {
    int i = 1;
    if (i < argc && (std::string(argv[i]) == "sheet" || std::string(argv[i]) == "stats")) options.command = argv[i++];
    if (options.command == "sheet") options.impressions = 2;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seeds" && hasValue) {
            const std::string range = argv[++i];
            const size_t dash = range.find('-');
            if (!parseNumber(range.substr(0, dash), options.firstSeed)) return false;
            options.lastSeed = options.firstSeed;
            if (dash != std::string::npos && !parseNumber(range.substr(dash + 1), options.lastSeed)) return false;
            if (options.lastSeed < options.firstSeed || options.lastSeed - options.firstSeed > 100000) return false;
        } else if (arg == "--impressions" && hasValue) {
            uint64_t n = 0;
            if (!parseNumber(argv[++i], n) || n > 1000) return false;
            options.impressions = static_cast<int>(n);
        } else if (arg == "--sensors" && hasValue) {
            for (const std::string &name : splitList(argv[++i])) {
                const SensorModel *model = findSensorModel(name);
                if (model == nullptr) return false;
                options.sensors.push_back(model);
            }
        } else if (arg == "--formats" && hasValue) {
            options.writePgm = options.writeRaw = false;
            for (const std::string &name : splitList(argv[++i])) {
                if (name == "pgm")
                    options.writePgm = true;
                else if (name == "raw")
                    options.writeRaw = true;
                else
                    return false;
            }
        } else if (arg == "--placement" && hasValue) {
            const std::string name = argv[++i];
            if (name == "centre")
                options.placement = Placement::NearCentre;
            else if (name == "whole")
                options.placement = Placement::WholeFinger;
            else
                return false;
        } else if (arg == "--class" && hasValue) {
            const std::string name = argv[++i];
            for (FingerClass c : {FingerClass::Arch, FingerClass::TentedArch, FingerClass::LeftLoop,
                                  FingerClass::RightLoop, FingerClass::Whorl}) {
                if (name == fingerClassName(c)) options.fingerClass = c;
            }
            if (!options.fingerClass) return false;
        } else if (arg == "--no-full") {
            options.writeFull = false;
        } else if (!arg.empty() && arg[0] != '-' && options.target.empty()) {
            options.target = arg;
        } else {
            return false;
        }
    }
    if (options.sensors.empty()) {
        for (const SensorModel &model : kSensorModels) options.sensors.push_back(&model);
    }
    return options.command == "stats" || !options.target.empty();
}

std::string fileStem(uint64_t seed) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04llu", static_cast<unsigned long long>(seed));
    return name;
}

bool writeOrComplain(const std::string &path, bool ok) {
    if (!ok) std::fprintf(stderr, "fpgen: cannot write %s\n", path.c_str());
    return ok;
}

int generateFiles(const Options &options) {
    std::error_code error;
    std::filesystem::create_directories(options.target, error);
    int files = 0;
    for (uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) {
        const MasterPrint master = generateMaster(seed, options.fingerClass);
        const std::string stem = options.target + "/" + fileStem(seed);
        if (options.writeFull) {
            const std::string path = stem + "_full.pgm";
            if (!writeOrComplain(path, imageio::writePgm(path, composeGray8(renderFullPrint(master))))) return 1;
            ++files;
        }
        for (const SensorModel *model : options.sensors) {
            for (int k = 0; k < options.impressions; ++k) {
                const SyntheticCapture capture = syntheticCapture(master, *model, k, options.placement);
                char suffix[32];
                std::snprintf(suffix, sizeof suffix, "_%s_%02d", model->name, k + 1);
                if (options.writePgm) {
                    const std::string path = stem + suffix + ".pgm";
                    if (!writeOrComplain(path, imageio::writePgm(path, capture.gray))) return 1;
                    ++files;
                }
                if (options.writeRaw) {
                    const std::string path = stem + suffix + ".raw";
                    if (!writeOrComplain(path, imageio::writeFile(path, capture.raw.data(), capture.raw.size())))
                        return 1;
                    ++files;
                }
            }
        }
    }
    std::printf("fpgen: wrote %d files to %s\n", files, options.target.c_str());
    return 0;
}

int writeSheet(const Options &options) {
    constexpr uint64_t kMaxSheetFingers = 400;  // keeps the sheet image within a few hundred megabytes
    constexpr int kMaxSheetRows = 20;
    if (options.lastSeed - options.firstSeed >= kMaxSheetFingers || options.impressions > kMaxSheetRows) {
        std::fprintf(stderr, "fpgen: a sheet holds at most %llu fingers and %d impression rows\n",
                     static_cast<unsigned long long>(kMaxSheetFingers), kMaxSheetRows);
        return 2;
    }
    SheetSettings settings;
    for (uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) settings.seeds.push_back(seed);
    settings.impressionRows = options.impressions;
    settings.placement = options.placement;
    const imageio::GrayImage sheet = contactSheet(settings);
    const std::string &path = options.target;
    const bool png = path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0;
    if (!writeOrComplain(path, png ? imageio::writePng(path, sheet) : imageio::writePgm(path, sheet))) return 1;
    std::printf("fpgen: contact sheet %d x %d written to %s\n", sheet.width, sheet.height, path.c_str());
    return 0;
}

// Per finger: class, minutiae of the master, and the smallest, median and
// largest ridge period over its 96 x 96 impressions.
int printStats(const Options &options) {
    constexpr int kMinutiaMargin = 10;
    const SensorModel &window = kSensorModels[0];
    const int windows = std::max(1, options.impressions);
    std::printf("seed class endings bifurcations period_min period_median period_max\n");
    int outside = 0, total = 0;
    for (uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) {
        const MasterPrint master = generateMaster(seed, options.fingerClass);
        const MinutiaeCount count = countMinutiae(master.ridges, master.mask, kMinutiaMargin);
        std::vector<double> periods;
        for (int k = 0; k < windows; ++k) {
            const SyntheticCapture shot = syntheticCapture(master, window, k, options.placement);
            periods.push_back(dominantRidgePeriod(shot.gray.pixels.data(), window.width, window.height));
            outside += periods.back() < 8.0 || periods.back() > 11.0;
            ++total;
        }
        std::sort(periods.begin(), periods.end());
        std::printf("%llu %s %d %d %.2f %.2f %.2f\n", static_cast<unsigned long long>(seed),
                    fingerClassName(master.model.fingerClass), count.endings, count.bifurcations, periods.front(),
                    periods[periods.size() / 2], periods.back());
    }
    std::printf("windows with a period outside 8..11 pixels: %d of %d\n", outside, total);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) return usage();
    if (options.command == "sheet") return writeSheet(options);
    if (options.command == "stats") return printStats(options);
    return generateFiles(options);
}
