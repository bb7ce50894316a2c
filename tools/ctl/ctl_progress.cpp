#include "ctl_progress.h"

#include "i18n.h"

namespace ctl {

namespace {
constexpr int kBarWidth = 30;
}

std::string progressBar(int percent, int width) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * width / 100;
    std::string bar;
    bar.reserve(static_cast<size_t>(width) + 2);
    bar += '[';
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '-');
    bar += ']';
    return bar;
}

void Progress::start(const std::string &user, const std::string &finger) {
    std::fprintf(out_, _("enrolling finger \"%s\" of user \"%s\"\n"), finger.c_str(), user.c_str());
    if (terminal_) {
        draw(0, _("touch the sensor"));
    } else {
        std::fprintf(out_, "%s\n", _("touch the sensor"));
    }
    std::fflush(out_);
}

void Progress::step(int percent) {
    if (terminal_) {
        draw(percent, _("lift your finger and touch again"));
    } else {
        std::fprintf(out_, _("progress %d%%\n"), percent);
    }
    std::fflush(out_);
}

void Progress::note(const char *line) {
    if (terminal_ && drawn_) {
        // The line takes the bar's place; the bar is drawn again below it.
        std::fprintf(out_, "\r%s\033[K\n", line);
        draw(percent_, _("touch the sensor"));
    } else {
        std::fprintf(out_, "%s\n", line);
    }
    std::fflush(out_);
}

void Progress::finish(bool stored) {
    if (terminal_) {
        if (stored) draw(100, _("done"));
        if (drawn_) std::fputc('\n', out_);
    } else if (stored) {
        std::fprintf(out_, _("progress %d%%\n"), 100);
    }
    drawn_ = false;
    std::fflush(out_);
}

void Progress::draw(int percent, const char *prompt) {
    // Carriage return and erase-to-end redraw the same line in place.
    std::fprintf(out_, "\r%s %3d%%  %s\033[K", progressBar(percent, kBarWidth).c_str(), percent, prompt);
    drawn_ = true;
    percent_ = percent;
}

}  // namespace ctl
