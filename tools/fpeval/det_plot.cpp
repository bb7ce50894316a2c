#include "det_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fpeval {

namespace {

// Axes: FMR from 1e-5 to 1, FNMR from 1e-3 to 1; rates below the lower end
// are drawn on it.
constexpr double kFmrDecades = 5;
constexpr double kFnmrDecades = 3;
constexpr int kLeft = 70, kTop = 40, kWidth = 500, kHeight = 360;
const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"};

double xOf(double fmr) {
    const double d = std::log10(std::max(fmr, std::pow(10.0, -kFmrDecades)));
    return kLeft + (d + kFmrDecades) / kFmrDecades * kWidth;
}
double yOf(double fnmr) {
    const double d = std::log10(std::max(fnmr, std::pow(10.0, -kFnmrDecades)));
    return kTop + (-d) / kFnmrDecades * kHeight;
}

}  // namespace

std::vector<std::pair<double, double>> detPoints(const DetCurve &c) {
    std::vector<int> thresholds = c.genuine;
    thresholds.insert(thresholds.end(), c.impostor.begin(), c.impostor.end());
    std::sort(thresholds.begin(), thresholds.end());
    thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    std::vector<std::pair<double, double>> points;
    if (c.genuine.empty() || c.impostor.empty()) return points;
    for (int t : thresholds) {
        const double rejected =
            static_cast<double>(std::upper_bound(c.genuine.begin(), c.genuine.end(), t) - c.genuine.begin());
        const double fnmr = (rejected + c.unenrolled) / static_cast<double>(c.genuine.size() + c.unenrolled);
        const double fmr =
            static_cast<double>(c.impostor.end() - std::upper_bound(c.impostor.begin(), c.impostor.end(), t)) /
            static_cast<double>(c.impostor.size());
        points.emplace_back(fmr, fnmr);
    }
    return points;
}

bool writeDetSvg(const std::string &path, const std::string &title, const std::vector<DetCurve> &curves) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    const int w = kLeft + kWidth + 200, h = kTop + kHeight + 60;
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" font-family=\"sans-serif\" "
                 "font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                 w, h);
    std::fprintf(f, "<text x=\"%d\" y=\"20\" font-size=\"14\">", kLeft);
    for (char ch : title) {
        if (ch == '<')
            std::fputs("&lt;", f);
        else if (ch == '&')
            std::fputs("&amp;", f);
        else
            std::fputc(ch, f);
    }
    std::fputs("</text>\n", f);
    for (int d = 0; d <= kFmrDecades; ++d) {
        const double x = kLeft + d * kWidth / kFmrDecades;
        std::fprintf(f, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/>\n", x, kTop, x,
                     kTop + kHeight);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">1e%d</text>\n", x, kTop + kHeight + 16,
                     d - static_cast<int>(kFmrDecades));
    }
    for (int d = 0; d <= kFnmrDecades; ++d) {
        const double y = kTop + d * kHeight / kFnmrDecades;
        std::fprintf(f, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", kLeft, y,
                     kLeft + kWidth, y);
        std::fprintf(f, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">1e-%d</text>\n", kLeft - 6, y + 4, d);
    }
    std::fprintf(f, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"black\"/>\n", kLeft,
                 kTop, kWidth, kHeight);
    std::fprintf(f, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">false match rate</text>\n", kLeft + kWidth / 2,
                 kTop + kHeight + 36);
    std::fprintf(f,
                 "<text x=\"16\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 16 %d)\">false non-match "
                 "rate</text>\n",
                 kTop + kHeight / 2, kTop + kHeight / 2);
    for (size_t i = 0; i < curves.size(); ++i) {
        const char *colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
        std::fprintf(f, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\"%s points=\"", colour,
                     curves[i].dashed ? " stroke-dasharray=\"6 4\"" : "");
        for (const auto &[fmr, fnmr] : detPoints(curves[i])) std::fprintf(f, "%.1f,%.1f ", xOf(fmr), yOf(fnmr));
        std::fputs("\"/>\n", f);
        const int ly = kTop + 14 + static_cast<int>(i) * 18;
        std::fprintf(f, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\"%s/>\n",
                     kLeft + kWidth + 12, ly - 4, kLeft + kWidth + 36, ly - 4, colour,
                     curves[i].dashed ? " stroke-dasharray=\"6 4\"" : "");
        std::fprintf(f, "<text x=\"%d\" y=\"%d\">%s</text>\n", kLeft + kWidth + 42, ly, curves[i].label.c_str());
    }
    std::fputs("</svg>\n", f);
    return std::fclose(f) == 0;
}

}  // namespace fpeval
