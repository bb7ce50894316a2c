// fpeval: recognition accuracy of the library, run exactly as the service runs
// it (enrolment from the profile's accepted captures, verification above 45),
// on generated fingers and on captures cut from real prints, under both
// recognition profiles side by side.
//
//   fpeval [--profile 1|2|3|all] [--synthetic N] [--seed S] [--sizes LIST] [--noise K] [--renew] [--csv FILE]
//          [--det FILE] [FOLDER...]
//
// FOLDER: captures laid out as the evaluation protocol describes
// (FOLDER/<set>_<finger>/e_NN.pgm and p_NN.pgm, any of the three sizes).
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "accuracy.h"
#include "capture_format.h"
#include "capture_sets.h"
#include "det_plot.h"

namespace {

void usage(FILE *out) {
    std::fputs(
        "usage: fpeval [options] [FOLDER...]\n"
        "  FOLDER           captures as cut by cut-captures: FOLDER/<set>_<finger>/e_NN.pgm, p_NN.pgm\n"
        "  --profile P      recognition profile 1, 2, 3 or all (default all)\n"
        "  --synthetic N    add N generated fingers per sensor size (16 enrolment, 20 verification captures)\n"
        "  --seed S         first generator seed (default 1)\n"
        "  --sizes LIST     sizes of the generated fingers, e.g. 96x96,68x118,112x88 (default all three)\n"
        "  --noise K        another realisation K of the 96 x 96 model's readout noise on the FOLDERs'\n"
        "                   captures (default 0), to see how much a figure owes to one draw of it\n"
        "  --renew          renew the stored template after each accepted genuine attempt\n"
        "  --csv FILE       write every score: profile,set,size,kind,finger,capture,template,score,gallery,peak\n"
        "                   (gallery, peak: the pose-checked island score sum and the best correlation\n"
        "                   peak that profile 3 fuses)\n"
        "  --det FILE       write a DET plot (SVG) of each profile, real sets and all sets; its false\n"
        "                   non-match rate counts the captures of fingers that did not enrol\n"
        "Rows: each set; 'real' = real sets' captures against real sets' templates; 'all' = every\n"
        "capture against every template (impostor volume from generated and SFinGe fingers).\n"
        "prodFNMR counts the captures of fingers that did not enrol as rejections; prod@m+10 is the\n"
        "same at a threshold 10 above the highest impostor score. 3touch% is the share of three-touch\n"
        "attempts (the first three captures of one impression, none accepted) that fail; a finger that\n"
        "did not enrol fails all of them. 'FNMR% by impression' splits the FNMR by impression (captures\n"
        "5i .. 5i+4); with --renew it shows the stored template learning.\n",
        out);
}

std::vector<uint16_t> parseSizes(const std::string &list) {
    std::vector<uint16_t> out;
    size_t pos = 0;
    while (pos <= list.size()) {
        const size_t comma = list.find(',', pos);
        const std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        int w = 0, h = 0;
        if (std::sscanf(item.c_str(), "%dx%d", &w, &h) != 2 || fpeval::productForSize(w, h) == 0) return {};
        out.push_back(fpeval::productForSize(w, h));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    int synthetic = 0;
    uint64_t seed = 1, noise = 0;
    std::vector<uint16_t> sizes = {capture::kProduct12Bit, capture::kProductSplitRows, capture::kProductPlain};
    std::vector<int> profiles = {1, 2, 3};
    bool renew = false;
    std::string csvPath, detPath;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--profile" && hasValue) {
            const std::string p = argv[++i];
            if (p == "all") {
                profiles = {1, 2, 3};
            } else if (p == "1" || p == "2" || p == "3") {
                profiles = {std::atoi(p.c_str())};
            } else {
                std::fputs("fpeval: --profile takes 1, 2, 3 or all\n", stderr);
                return 2;
            }
        } else if (arg == "--synthetic" && hasValue) {
            synthetic = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--noise" && hasValue) {
            noise = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--sizes" && hasValue) {
            sizes = parseSizes(argv[++i]);
            if (sizes.empty()) {
                std::fputs("fpeval: --sizes takes a list like 96x96,68x118,112x88\n", stderr);
                return 2;
            }
        } else if (arg == "--renew") {
            renew = true;
        } else if (arg == "--csv" && hasValue) {
            csvPath = argv[++i];
        } else if (arg == "--det" && hasValue) {
            detPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            usage(stderr);
            return 2;
        } else {
            folders.push_back(arg);
        }
    }

    // Fingers grouped by sensor size: impostor attempts run across all sets of one size.
    std::map<uint16_t, std::vector<fpeval::Finger>> bySize;
    for (const auto &folder : folders) {
        std::vector<fpeval::Finger> loaded;
        std::string error;
        if (!fpeval::loadCaptureFolder(folder, loaded, error, noise)) {
            std::fprintf(stderr, "fpeval: %s\n", error.c_str());
            return 2;
        }
        for (auto &f : loaded) bySize[f.productId].push_back(std::move(f));
    }
    if (synthetic > 0)
        for (uint16_t product : sizes) fpeval::addSyntheticFingers(product, synthetic, seed, 16, 20, bySize[product]);
    if (bySize.empty()) {
        std::fputs("fpeval: no fingers (give capture folders or --synthetic N)\n", stderr);
        return 2;
    }

    FILE *csv = nullptr;
    if (!csvPath.empty()) {
        csv = std::fopen(csvPath.c_str(), "w");
        if (!csv) {
            std::fprintf(stderr, "fpeval: cannot write %s\n", csvPath.c_str());
            return 2;
        }
        std::fputs("profile,set,size,kind,finger,capture,template,score,gallery,peak\n", csv);
    }
    std::printf("threshold: a score above 45 is a match%s\n", renew ? "; renewal after accepted genuine attempts" : "");
    fpeval::printHeader(stdout);
    std::vector<fpeval::DetCurve> curves;
    for (const auto &[product, fingers] : bySize) {
        const char *size = fpeval::sizeName(product);
        std::map<std::string, std::vector<int>> bySet;
        std::vector<int> all, real;
        for (int f = 0; f < static_cast<int>(fingers.size()); ++f) {
            bySet[fingers[f].set].push_back(f);
            all.push_back(f);
            if (fpeval::isRealSet(fingers[f].set)) real.push_back(f);
        }
        for (const int profile : profiles) {
            const fpeval::Evaluation ev = fpeval::evaluate(fingers, fpeval::Options{renew, profile});
            for (const auto &[set, members] : bySet)
                fpeval::printRow(stdout, profile, set, size, fpeval::summarise(ev, members));
            if (!real.empty() && bySet.size() > 1)
                fpeval::printRow(stdout, profile, "real", size, fpeval::summarise(ev, real, &real));
            if (real.size() < all.size() && bySet.size() > 1)
                fpeval::printRow(stdout, profile, "all", size, fpeval::summarise(ev, all));
            std::printf("   %s profile %d: %d probe captures gave no template; %.1f s\n", size, profile,
                        ev.probeCreationFailures, ev.seconds);
            if (csv) fpeval::writeCsv(csv, fingers, ev, size, profile);
            const std::string name = std::string(size) + " profile " + std::to_string(profile);
            if (!real.empty()) {
                fpeval::DetCurve c{name + (real.size() < all.size() ? ", real sets" : ""), {}, {}, false};
                fpeval::scoresOf(ev, real, &real, c.genuine, c.impostor);
                c.unenrolled = fpeval::summarise(ev, real, &real).unenrolledProbes;
                curves.push_back(std::move(c));
            }
            if (real.size() < all.size()) {
                fpeval::DetCurve c{name + (real.empty() ? "" : ", all sets"), {}, {}, !real.empty()};
                fpeval::scoresOf(ev, all, nullptr, c.genuine, c.impostor);
                c.unenrolled = fpeval::summarise(ev, all).unenrolledProbes;
                curves.push_back(std::move(c));
            }
        }
    }
    if (csv) std::fclose(csv);
    if (!detPath.empty() &&
        !fpeval::writeDetSvg(detPath, "DET, product level (failed enrolments count as rejections)", curves)) {
        std::fprintf(stderr, "fpeval: cannot write %s\n", detPath.c_str());
        return 2;
    }
    return 0;
}
