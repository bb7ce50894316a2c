// fpstages: runs the extraction stages of template creation on one 8-bit PGM
// capture and writes the intermediate images.
//
//   fpstages [--type N] [--ver V] [--at X,Y] [--png] capture.pgm outdir
//   fpstages --generated SEED[:INDEX] [--sensor 2547|2548|2549] [--ver V] [--png] [--check P] outdir
//
// With --check the exit status is 3 unless at least P % of the compared
// pixels lie within 20 degrees of the generator's orientation and the
// skeleton is one pixel wide (no 2 x 2 black block).
//
// A capture larger than the sensor of type N is cropped (at X,Y, or around
// its centre). A generated capture comes from the synthetic generator, and
// the orientation map is compared with the generator's own orientation. The stages run in template-creation order on
// the image expanded by 32 pixels on each side; the white-spot map of the dry/wet measure is taken as empty.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "conditioning/edge_ops.h"
#include "conditioning/histogram_stretch.h"
#include "core/algdef.h"
#include "extraction/binarisation.h"
#include "extraction/contrast_normalisation.h"
#include "extraction/orientation_field.h"
#include "extraction/ridge_filter.h"
#include "extraction/segmentation.h"
#include "extraction/skeleton_repair.h"
#include "extraction/smoothing.h"
#include "generated_truth.h"
#include "pgm.h"
#include "png.h"
#include "stage_images.h"

using fpstages::countSkeleton;
using fpstages::drawOrientation;
using fpstages::drawSkeletonOverlay;
using fpstages::SkeletonCounts;
#include "extraction/thinning.h"

namespace {

constexpr int kOrientationRadius = 8;
constexpr uint8_t kExpandFill = 250;
constexpr int kMorphologyMargin = 30;
constexpr int kMaskShrinkRadius = 7;
constexpr int kSpurShort = 4;
constexpr int kSpurLong = 5;
constexpr int kLineSpacing = 8;

struct Options {
    int sensorType = 5;
    int version = 1;
    int cropX = -1, cropY = -1;
    bool png = false;
    bool generated = false;
    uint64_t seed = 0;
    int impression = 0;
    std::string sensor = "2547";
    double checkShare = -1.0;
    std::string input, outDir;
};

void usage() { std::fprintf(stderr, "usage: fpstages [--type N] [--ver V] [--at X,Y] [--png] capture.pgm outdir\n"); }

bool parseArgs(int argc, char **argv, Options *o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--type" && i + 1 < argc) {
            o->sensorType = std::atoi(argv[++i]);
        } else if (a == "--ver" && i + 1 < argc) {
            o->version = std::atoi(argv[++i]);
        } else if (a == "--at" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d", &o->cropX, &o->cropY) != 2) return false;
        } else if (a == "--generated" && i + 1 < argc) {
            unsigned long long seed = 0;
            o->generated = true;
            const int fields = std::sscanf(argv[++i], "%llu:%d", &seed, &o->impression);
            if (fields < 1 || o->impression < 0) return false;
            o->seed = seed;
        } else if (a == "--check" && i + 1 < argc) {
            o->checkShare = std::atof(argv[++i]);
        } else if (a == "--sensor" && i + 1 < argc) {
            o->sensor = argv[++i];
        } else if (a == "--png") {
            o->png = true;
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (o->sensorType < 1 || o->sensorType > 6) return false;
    if (o->generated) {
        if (positional.size() != 1) return false;
        o->outDir = positional[0];
        return true;
    }
    if (positional.size() != 2) return false;
    o->input = positional[0];
    o->outDir = positional[1];
    return true;
}

class Writer {
  public:
    Writer(std::string dir, bool png) : dir_(std::move(dir)), png_(png) {}
    bool operator()(const char *name, const imageio::GrayImage &img) {
        const std::string base = dir_ + "/" + name;
        bool ok = imageio::writePgm(base + ".pgm", img);
        if (png_) ok = imageio::writePng(base + ".png", img) && ok;
        if (!ok) std::fprintf(stderr, "fpstages: cannot write %s\n", base.c_str());
        return ok;
    }
    bool operator()(const char *name, const uint8_t *pixels, int w, int h) {
        imageio::GrayImage img(w, h);
        std::memcpy(img.pixels.data(), pixels, img.pixels.size());
        return (*this)(name, img);
    }

  private:
    std::string dir_;
    bool png_;
};

bool cropToSensor(const imageio::GrayImage &in, const Options &o, std::vector<uint8_t> *out) {
    const int w = IMAGE_WIDTH_SRC, h = IMAGE_HEIGHT_SRC;
    if (in.width < w || in.height < h) {
        std::fprintf(stderr, "fpstages: %dx%d is smaller than the sensor (%dx%d)\n", in.width, in.height, w, h);
        return false;
    }
    const int x0 = o.cropX >= 0 ? o.cropX : (in.width - w) / 2;
    const int y0 = o.cropY >= 0 ? o.cropY : (in.height - h) / 2;
    if (x0 + w > in.width || y0 + h > in.height) {
        std::fprintf(stderr, "fpstages: crop at %d,%d leaves the image\n", x0, y0);
        return false;
    }
    out->resize(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y)
        std::memcpy(out->data() + y * w, &in.pixels[static_cast<size_t>((y0 + y) * in.width + x0)],
                    static_cast<size_t>(w));
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parseArgs(argc, argv, &o)) {
        usage();
        return 2;
    }
    imageio::GrayImage capture;
    fpstages::TruthCapture truth;
    if (o.generated) {
        if (!fpstages::generatedCapture(o.seed, o.impression, o.sensor, &truth)) {
            std::fprintf(stderr, "fpstages: unknown sensor model %s\n", o.sensor.c_str());
            return 2;
        }
        capture = truth.gray;
        o.sensorType = truth.sensorType;
    } else {
        std::string error;
        if (!imageio::readPgm(o.input, capture, &error)) {
            std::fprintf(stderr, "fpstages: %s: %s\n", o.input.c_str(), error.c_str());
            return 1;
        }
    }
    std::error_code fsError;
    std::filesystem::create_directories(o.outDir, fsError);
    if (fsError) {
        std::fprintf(stderr, "fpstages: cannot create %s: %s\n", o.outDir.c_str(), fsError.message().c_str());
        return 1;
    }
    Quorvane_Init(o.sensorType);
    QV_CURRENT_VER = o.version;
    std::vector<uint8_t> source;
    if (!cropToSensor(capture, o, &source)) return 1;

    const int sw = IMAGE_WIDTH_SRC, sh = IMAGE_HEIGHT_SRC;
    const int ew = sw + 2 * kExpandBorder, eh = sh + 2 * kExpandBorder;
    const size_t n = static_cast<size_t>(ew * eh);
    std::vector<uint8_t> work(n, 0), scratch(n, 0), orient(n, 0), mask(n, 0), counts(n, 0), valley(n, 255);
    std::vector<uint8_t> spots(static_cast<size_t>(sw * sh), 0);
    std::vector<int32_t> words(n, 0);
    std::vector<int16_t> normal(static_cast<size_t>(sw * sh)), smooth(static_cast<size_t>(sw * sh));
    Writer write(o.outDir, o.png);

    write("00_capture", source.data(), sw, sh);
    std::memcpy(work.data(), source.data(), source.size());
    if (!ExpandHistogram(work.data(), sw, sh)) {
        std::fprintf(stderr, "fpstages: contrast stretch refused\n");
        return 1;
    }
    write("01_stretched", work.data(), sw, sh);
    if (!Normalize(work.data(), normal.data(), sw, sh)) {
        std::fprintf(stderr, "fpstages: normalisation refused (flat image)\n");
        return 1;
    }
    GaussSmooth2(normal.data(), mask.data(), smooth.data(), sw, sh);
    imageio::GrayImage normalised(sw, sh);
    for (size_t i = 0; i < normalised.pixels.size(); ++i) normalised.pixels[i] = static_cast<uint8_t>(normal[i] >> 2);
    write("02_normalised", normalised);

    vwn_GaussSmooth2(work.data(), spots.data(), mask.data(), scratch.data(), sw, sh);
    std::memcpy(work.data(), scratch.data(), static_cast<size_t>(sw * sh));
    int32_t w = sw, h = sh;
    vwn_ExpandEdge(work.data(), &w, &h, kExpandBorder, kExpandFill);
    write("03_smoothed", work.data(), w, h);

    if (!vwn_getOrientMap22(source.data(), work.data(), scratch.data(), w, h, orient.data(), mask.data(), words.data(),
                            kOrientationRadius)) {
        std::fprintf(stderr, "fpstages: orientation field refused (too little fingerprint)\n");
        return 1;
    }
    if (o.version > 2) write("03b_enhanced", work.data(), w, h);
    int finger = 0;
    for (uint8_t v : mask) finger += v == 0;
    write("04_orientation", drawOrientation(work.data(), orient.data(), w, h, kLineSpacing));
    write("05_mask", mask.data(), w, h);
    fpstages::Agreement agreement;
    if (o.generated) {
        agreement = fpstages::compareOrientation(orient.data(), w, kExpandBorder, truth);
        std::printf(
            "orientation vs generator: %d pixels, %.1f%% within 10 deg, %.1f%% within 20 deg, mean error "
            "%.1f deg\n",
            agreement.compared, agreement.within10, agreement.within20, agreement.meanError);
    }

    segment_clearEdge(mask.data(), orient.data(), work.data(), w, h);
    orientFilter(work.data(), orient.data(), scratch.data(), w, h);
    write("06_filtered", work.data(), w, h);
    const std::vector<uint8_t> filtered = work;

    binary(work.data(), orient.data(), scratch.data(), w, h);
    work = scratch;
    write("07_binary", work.data(), w, h);
    binaryClear(work.data(), mask.data(), scratch.data(), w, h);
    write("08_binary_clean", work.data(), w, h);
    if (o.version > 2) binaryinversion(work.data(), valley.data(), mask.data(), w, h, kExpandBorder);

    imageThin(work.data(), scratch.data(), w, h);
    write("09_thinned", work.data(), w, h);
    if (o.version > 2) imageThin(valley.data(), scratch.data(), w, h);
    vwn_ImageDilate3(mask.data(), scratch.data(), w, h, kMaskShrinkRadius, kMorphologyMargin, h - kMorphologyMargin,
                     kMorphologyMargin, w - kMorphologyMargin);
    thinClear3(work.data(), mask.data(), w, h, kSpurShort, kSpurLong);
    vwn_ThinModify(work.data(), scratch.data(), counts.data(), w, h);
    write("10_skeleton", work.data(), w, h);
    write("11_skeleton_overlay", drawSkeletonOverlay(filtered.data(), work.data(), w, h));
    if (o.version > 2) {
        thinClear3(valley.data(), mask.data(), w, h, kSpurShort, kSpurLong);
        vwn_ThinModify(valley.data(), scratch.data(), counts.data(), w, h);
        write("12_valley_skeleton", valley.data(), w, h);
    }

    const SkeletonCounts c = countSkeleton(work.data(), w, h);
    std::printf("finger pixels %d, skeleton pixels %d, endings %d, forks %d, 2x2 blocks %d\n", finger, c.black,
                c.endings, c.forks, c.blocks);
    if (o.checkShare >= 0.0 && (agreement.within20 < o.checkShare || c.blocks > 0)) {
        std::fprintf(stderr, "fpstages: check failed\n");
        return 3;
    }
    return 0;
}
