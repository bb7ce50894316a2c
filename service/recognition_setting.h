// The recognition profile of new enrolments, read from the configuration file
// "/etc/veko2547/veko2547.conf": one line `profile=1`, `profile=2` or `profile=3` (blank
// lines and lines starting with # aside). A missing or malformed file means
// profile 1 and one log line. Read at every enrolment, so a change needs no
// restart; stored fingers of either profile keep working.
#pragma once

inline constexpr int kDefaultRecognitionProfile = 1;

// Moves the configuration file (test runs); null keeps the current path.
void vkSetConfigPath(const char *path);

// The profile the configuration file selects, 1, 2 or 3.
int vkReadRecognitionProfile();

// The same for a given text (the file's contents): 1, 2 or 3, or 0 when the
// text is malformed.
int vkParseRecognitionProfile(const char *text);
