// fpstages: runs template creation on one 8-bit PGM capture and writes the
// intermediate image of every extraction stage, as the extraction itself
// reports them to its stage observer.
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
// the orientation map is compared with the generator's own orientation.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "core/algdef.h"
#include "core/variant_rules.h"
#include "extraction/template_pipeline.h"
#include "generated_truth.h"
#include "pgm.h"
#include "png.h"
#include "stage_images.h"

using fpstages::countSkeleton;
using fpstages::drawOrientation;
using fpstages::drawSkeletonOverlay;
using fpstages::SkeletonCounts;

namespace {

// Spacing of the orientation lines drawn over the image.
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

// Writes each stage's image as the extraction reports it and keeps what the
// summary needs: the orientation map, the finger area, the filtered image and
// the skeleton.
struct StageRecorder {
    explicit StageRecorder(Writer &writer) : write(writer) {}

    Writer &write;
    std::vector<uint8_t> orientation, filtered, skeleton;
    int expandedWidth = 0;
    int finger = 0;

    static void seen(void *self, const StageView &v) { static_cast<StageRecorder *>(self)->record(v); }

    void record(const StageView &v) {
        const size_t n = static_cast<size_t>(v.w * v.h);
        switch (v.stage) {
        case ExtractionStage::kStretched:
            write("01_stretched", v.image, v.w, v.h);
            break;
        case ExtractionStage::kNormalised: {
            imageio::GrayImage normalised(v.w, v.h);
            for (size_t i = 0; i < n; ++i) normalised.pixels[i] = static_cast<uint8_t>(v.normalised[i] >> 2);
            write("02_normalised", normalised);
            break;
        }
        case ExtractionStage::kSmoothed:
            write("03_smoothed", v.image, v.w, v.h);
            break;
        case ExtractionStage::kOrientation:
            if (CurrentVariantRules().enhancedOrientation) write("03b_enhanced", v.image, v.w, v.h);
            write("04_orientation", drawOrientation(v.image, v.orientation, v.w, v.h, kLineSpacing));
            write("05_mask", v.mask, v.w, v.h);
            orientation.assign(v.orientation, v.orientation + n);
            expandedWidth = v.w;
            finger = 0;
            for (size_t i = 0; i < n; ++i) finger += v.mask[i] == 0;
            break;
        case ExtractionStage::kFiltered:
            write("06_filtered", v.image, v.w, v.h);
            filtered.assign(v.image, v.image + n);
            break;
        case ExtractionStage::kBinary:
            write("07_binary", v.image, v.w, v.h);
            break;
        case ExtractionStage::kBinaryClean:
            write("08_binary_clean", v.image, v.w, v.h);
            break;
        case ExtractionStage::kThinned:
            write("09_thinned", v.image, v.w, v.h);
            break;
        case ExtractionStage::kSkeleton:
            write("10_skeleton", v.image, v.w, v.h);
            write("11_skeleton_overlay", drawSkeletonOverlay(filtered.data(), v.image, v.w, v.h));
            skeleton.assign(v.image, v.image + n);
            break;
        case ExtractionStage::kValleySkeleton:
            write("12_valley_skeleton", v.image, v.w, v.h);
            break;
        }
    }
};

// Why the extraction stopped before the skeleton.
const char *refusal(int32_t code) {
    switch (code) {
    case kCreateNoContrast:
        return "contrast stretch refused";
    case kCreateNormaliseFailed:
        return "normalisation refused (flat image)";
    case kCreateNoOrientation:
        return "orientation field refused (too little fingerprint)";
    default:
        return "extraction refused";
    }
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
    Writer write(o.outDir, o.png);
    write("00_capture", source.data(), sw, sh);

    StageRecorder recorder(write);
    const StageObserver observer{&StageRecorder::seen, &recorder};
    std::vector<uint8_t> image = source, templ(QV_TEMPLATE_SIZE), workspace(QV_WORKSPACE_SIZE);
    int32_t info[QV_INFO_WORDS] = {};
    const int32_t created = GetFeaFromImg(image.data(), sw, sh, templ.data(), QV_TEMPLATE_SIZE, workspace.data(),
                                          QV_WORKSPACE_SIZE, info, 0, &observer);
    if (recorder.skeleton.empty()) {
        std::fprintf(stderr, "fpstages: %s (code %d)\n", refusal(created), created);
        return 1;
    }
    fpstages::Agreement agreement;
    if (o.generated) {
        agreement =
            fpstages::compareOrientation(recorder.orientation.data(), recorder.expandedWidth, kExpandBorder, truth);
        std::printf(
            "orientation vs generator: %d pixels, %.1f%% within 10 deg, %.1f%% within 20 deg, mean error "
            "%.1f deg\n",
            agreement.compared, agreement.within10, agreement.within20, agreement.meanError);
    }
    const int w = recorder.expandedWidth, h = static_cast<int>(recorder.skeleton.size()) / w;
    const int finger = recorder.finger;
    const SkeletonCounts c = countSkeleton(recorder.skeleton.data(), w, h);
    std::printf("finger pixels %d, skeleton pixels %d, endings %d, forks %d, 2x2 blocks %d\n", finger, c.black,
                c.endings, c.forks, c.blocks);
    std::printf("template: code %d, %d feature points, quality %d\n", created, info[0], info[3]);
    if (o.checkShare >= 0.0 && (agreement.within20 < o.checkShare || c.blocks > 0)) {
        std::fprintf(stderr, "fpstages: check failed\n");
        return 3;
    }
    return 0;
}
