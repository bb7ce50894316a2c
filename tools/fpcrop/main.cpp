// fpcrop: cuts sensor-size windows out of an 8-bit PGM fingerprint.
//
//   fpcrop (--sensor 2547|2548|2549 | --size WxH) [--centre X,Y] [--angle DEG]
//          [--random N] [--seed S] [--max-angle DEG] [--formats pgm,raw] INPUT.pgm OUTPREFIX
//
// Without --random one window is cut at --centre (default: the image centre)
// and --angle (default 0). With --random N, N windows inside the finger area at
// random rotations within +-max-angle (default 25). Files are written as
// OUTPREFIX_01.pgm, OUTPREFIX_01.raw, ...; raw files need --sensor and hold the
// sensor's byte layout (12-bit packed for 2547).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crop_window.h"
#include "pgm.h"
#include "sensor_output.h"

namespace {

struct Options {
    const fpgen::SensorModel *sensor = nullptr;
    int width = 0, height = 0;
    bool haveCentre = false;
    double centreX = 0.0, centreY = 0.0, angle = 0.0, maxAngle = 25.0;
    int randomCount = 0;
    uint64_t seed = 1;
    bool writePgm = true, writeRaw = false;
    std::string input, prefix;
};

int usage() {
    std::fprintf(stderr,
                 "usage: fpcrop (--sensor 2547|2548|2549 | --size WxH) [--centre X,Y] [--angle DEG]\n"
                 "              [--random N] [--seed S] [--max-angle DEG] [--formats pgm,raw] INPUT.pgm OUTPREFIX\n");
    return 2;
}

bool parseDouble(const std::string &text, double &value) {
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

bool parsePair(const std::string &text, char separator, double &a, double &b) {
    const size_t at = text.find(separator);
    return at != std::string::npos && parseDouble(text.substr(0, at), a) && parseDouble(text.substr(at + 1), b);
}

bool parseArguments(int argc, char **argv, Options &o) {
    std::vector<std::string> positional;
    bool formatsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double a = 0.0, b = 0.0;
        if (arg == "--sensor" && hasValue) {
            o.sensor = fpgen::findSensorModel(argv[++i]);
            if (o.sensor == nullptr) return false;
            o.width = o.sensor->width;
            o.height = o.sensor->height;
        } else if (arg == "--size" && hasValue) {
            if (!parsePair(argv[++i], 'x', a, b) || a < 1 || b < 1 || a > 4096 || b > 4096) return false;
            o.width = static_cast<int>(a);
            o.height = static_cast<int>(b);
        } else if (arg == "--centre" && hasValue) {
            if (!parsePair(argv[++i], ',', o.centreX, o.centreY)) return false;
            o.haveCentre = true;
        } else if (arg == "--angle" && hasValue) {
            if (!parseDouble(argv[++i], o.angle)) return false;
        } else if (arg == "--max-angle" && hasValue) {
            if (!parseDouble(argv[++i], o.maxAngle)) return false;
        } else if (arg == "--random" && hasValue) {
            if (!parseDouble(argv[++i], a) || a < 1 || a > 10000) return false;
            o.randomCount = static_cast<int>(a);
        } else if (arg == "--seed" && hasValue) {
            const std::string text = argv[++i];
            if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
                return false;
            o.seed = std::stoull(text);
        } else if (arg == "--formats" && hasValue) {
            const std::string formats = std::string(argv[++i]) + ",";
            o.writePgm = o.writeRaw = false;
            for (size_t start = 0, comma; (comma = formats.find(',', start)) != std::string::npos; start = comma + 1) {
                const std::string name = formats.substr(start, comma - start);
                if (name == "pgm")
                    o.writePgm = true;
                else if (name == "raw")
                    o.writeRaw = true;
                else
                    return false;
            }
            formatsGiven = true;
        } else if (!arg.empty() && arg[0] != '-') {
            positional.push_back(arg);
        } else {
            return false;
        }
    }
    if (!formatsGiven && o.sensor != nullptr) o.writeRaw = true;
    if (positional.size() != 2 || o.width == 0 || (o.writeRaw && o.sensor == nullptr)) return false;
    o.input = positional[0];
    o.prefix = positional[1];
    return o.writePgm || o.writeRaw;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parseArguments(argc, argv, o)) return usage();

    imageio::GrayImage source;
    std::string error;
    if (!imageio::readPgm(o.input, source, &error)) {
        std::fprintf(stderr, "fpcrop: %s: %s\n", o.input.c_str(), error.c_str());
        return 1;
    }

    std::vector<fpcrop::WindowPose> windows;
    if (o.randomCount > 0) {
        windows = fpcrop::randomWindows(source, o.width, o.height, o.randomCount, o.seed, o.maxAngle);
        if (windows.size() < static_cast<size_t>(o.randomCount))
            std::fprintf(stderr, "fpcrop: only %zu of %d windows fit inside the finger\n", windows.size(),
                         o.randomCount);
    } else {
        fpcrop::WindowPose pose;
        pose.width = o.width;
        pose.height = o.height;
        pose.centreX = o.haveCentre ? o.centreX : 0.5 * (source.width - 1);
        pose.centreY = o.haveCentre ? o.centreY : 0.5 * (source.height - 1);
        pose.angleDegrees = o.angle;
        windows.push_back(pose);
    }

    for (size_t n = 0; n < windows.size(); ++n) {
        const imageio::GrayImage window = fpcrop::cropWindow(source, windows[n]);
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%02zu", n + 1);
        const std::string stem = o.prefix + suffix;
        bool ok = true;
        if (o.writePgm) ok = imageio::writePgm(stem + ".pgm", window);
        if (ok && o.writeRaw) {
            const std::vector<uint8_t> raw =
                fpgen::rawCapture(*o.sensor, window, fpgen::gray8ToRaw12(window, fpgen::seedFor(o.seed, n)));
            ok = imageio::writeFile(stem + ".raw", raw.data(), raw.size());
        }
        if (!ok) {
            std::fprintf(stderr, "fpcrop: cannot write %s\n", stem.c_str());
            return 1;
        }
        std::printf("%s centre %.1f,%.1f angle %.1f\n", stem.c_str(), windows[n].centreX, windows[n].centreY,
                    windows[n].angleDegrees);
    }
    return windows.empty() ? 1 : 0;
}
