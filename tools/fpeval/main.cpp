// fpeval: recognition accuracy of the library, run exactly as the service runs
// it (enrolment from ten accepted captures, verification above 45), on
// generated fingers and on captures cut from real prints.
//
//   fpeval [--synthetic N] [--seed S] [--sizes LIST] [--renew] [--csv FILE] [FOLDER...]
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

namespace {

void usage(FILE *out) {
    std::fputs(
        "usage: fpeval [options] [FOLDER...]\n"
        "  FOLDER           captures as cut by cut-captures: FOLDER/<set>_<finger>/e_NN.pgm, p_NN.pgm\n"
        "  --synthetic N    add N generated fingers per sensor size (16 enrolment, 20 verification captures)\n"
        "  --seed S         first generator seed (default 1)\n"
        "  --sizes LIST     sizes of the generated fingers, e.g. 96x96,68x118,112x88 (default all three)\n"
        "  --renew          renew the stored template after each accepted genuine attempt\n"
        "  --csv FILE       write every score: set,size,kind,finger,capture,template,score\n",
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
    uint64_t seed = 1;
    std::vector<uint16_t> sizes = {capture::kProduct12Bit, capture::kProductSplitRows, capture::kProductPlain};
    fpeval::Options options;
    std::string csvPath;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--synthetic" && hasValue) {
            synthetic = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--sizes" && hasValue) {
            sizes = parseSizes(argv[++i]);
            if (sizes.empty()) {
                std::fputs("fpeval: --sizes takes a list like 96x96,68x118,112x88\n", stderr);
                return 2;
            }
        } else if (arg == "--renew") {
            options.renew = true;
        } else if (arg == "--csv" && hasValue) {
            csvPath = argv[++i];
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
        if (!fpeval::loadCaptureFolder(folder, loaded, error)) {
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
        std::fputs("set,size,kind,finger,capture,template,score\n", csv);
    }
    std::printf("threshold: a score above 45 is a match%s\n",
                options.renew ? "; renewal after accepted genuine attempts" : "");
    fpeval::printHeader(stdout);
    for (const auto &[product, fingers] : bySize) {
        const char *size = fpeval::sizeName(product);
        const fpeval::Evaluation ev = fpeval::evaluate(fingers, options);
        std::map<std::string, std::vector<int>> bySet;
        std::vector<int> all;
        for (int f = 0; f < static_cast<int>(fingers.size()); ++f) {
            bySet[fingers[f].set].push_back(f);
            all.push_back(f);
        }
        for (const auto &[set, members] : bySet) fpeval::printRow(stdout, set, size, fpeval::summarise(ev, members));
        if (bySet.size() > 1) fpeval::printRow(stdout, "pooled", size, fpeval::summarise(ev, all));
        std::printf("    %s: %d probe captures gave no template; %.1f s\n", size, ev.probeCreationFailures, ev.seconds);
        if (csv) fpeval::writeCsv(csv, fingers, ev, size);
    }
    if (csv) std::fclose(csv);
    return 0;
}
