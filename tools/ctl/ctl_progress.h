// How enrolment progress is shown: a bar with touch prompts on a terminal,
// one plain line per step otherwise (logs, pipes, scripts).
#pragma once

#include <cstdio>
#include <string>

namespace ctl {

class Progress {
  public:
    Progress(FILE *out, bool terminal) : out_(out), terminal_(terminal) {}
    // Before the first touch.
    void start(const std::string &user, const std::string &finger);
    // A touch was accepted; `percent` is the service's progress value.
    void step(int percent);
    // One line of its own (a touch that was not taken), above the bar.
    void note(const char *line);
    // Enrolment ended (stored, refused or stopped): finishes the bar's line.
    void finish(bool stored);

  private:
    void draw(int percent, const char *prompt);
    FILE *out_;
    bool terminal_;
    bool drawn_ = false;
    int percent_ = 0;
};

// The bar alone, e.g. "[#######-------]" for 50 % at width 14.
std::string progressBar(int percent, int width);

}  // namespace ctl
