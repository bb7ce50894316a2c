// Sensor, finger store and worker operations called by the D-Bus handlers.
//
// Results: 0 is success, small negative numbers are failures (-1, -2, -3, and
// -100 for a missing user directory).
#pragma once

#include <cstdint>

// Size of the caller's buffer for a list of names (each ended by a NUL byte).
inline constexpr int kNameListSize = 1024;

// Store root: every finger file lives at root + user id + "/" + finger + ".Data".
inline constexpr int kStoreRootSize = 256;
extern char m_filePath[kStoreRootSize];

// Moves the store root (test runs only); a missing trailing "/" is added.
// Sensor detection keeps this root.
void vkSetStoreRoot(const char *root);

// Sensor (detection, open, close).
int vkOpenDev();               // 0 open; -1 USB search failed; -3 no sensor; -2 open failed
void vkCloseDev();             // closes whatever is open
int vkLstDev(int32_t *count);  // 0 and the number of attached sensors; -1 when the search failed

// Enrollment and verification workers.
int vkEnrollFp(const char *id, const char *finger);  // 0 started or refused by signal; -2 no thread
int vkStopEnroll();                                  // returns when the worker ended or gave up waiting
int vkVerifyFp(const char *finger);                  // 0 started; -2 no thread
// With `claimerOnly`, only the fingers of the id the device is claimed for count.
int vkVerifyFp(const char *finger, bool claimerOnly);
int vkStopVerify();

// Finger store.
// -2: the file could not be removed (a read-only store, for example).
int vkDelFp(const char *id, const char *finger);          // 0 removed; -1 no such finger; -100 no user directory; -2
int vkDelAllFp(const char *id);                           // 0 removed; -1 none present; -100 no user directory; -2
int vkLstFp(const char *id, char *list, int32_t *count);  // always 0; `count` names in `list`
// -1 also when newname exists: a rename never replaces another finger.
int vkRenameFp(const char *id, const char *finger, const char *newname);  // 0 moved; -1; -100
