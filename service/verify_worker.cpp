// Verification: each capture becomes a live template that is compared with
// the stored fingers of every user (or only those of one finger name). A
// score above 45 is a match: the stored template is renewed from the match
// and rewritten, and the user's id is announced. Each stored finger is
// compared under the recognition profile it was enrolled with: the capture is
// turned into a template once per profile the stored fingers use.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "QVAlgDll.h"
#include "device_claim.h"
#include "finger_store.h"
#include "log.h"
#include "operations.h"
#include "status_signals.h"
#include "template_creation.h"
#include "veko2547_drv.h"
#include "vkUsb.h"
#include "worker_control.h"
#include "worker_state.h"

char m_usrname[kWorkerNameSize];
char m_finger[kWorkerNameSize];

namespace {

constexpr int kAcceptScore = 45;  // a match score above this is the same finger
constexpr int kReportScore = 60;  // a compare result above this is reported as a match
constexpr int kAccepted = 100;    // compare result of an accepted match
constexpr int kNoUsers = -10;
constexpr int kNoFiles = -11;
constexpr int kNoFilteredFile = -12;
constexpr size_t kPathSize = 256;
// Room for the user directories listed in one pass.
constexpr size_t kUserListSize = 16384;

constexpr int kProfiles = 3;
// The capture as received, and its live template under each profile, made
// when the first stored finger of that profile comes up.
uint8_t s_liveRaw[kImageBufferSize];
uint8_t s_rawWork[kImageBufferSize];
uint8_t m_opFeatureRecord[kProfiles][QV_TEMPLATE_SIZE];
int32_t m_recordInfo[kProfiles][QV_INFO_WORDS];
int s_liveResult[kProfiles];  // 0 = not made yet, else the creation result
uint8_t m_storedTemplate[QV_TEMPLATE_SIZE];
uint8_t m_opFeatureOut[QV_TEMPLATE_SIZE];
char s_userList[kUserListSize];
// The id the device was claimed for when the verification started, and
// whether only its fingers count.
char m_firstUser[kWorkerNameSize];
bool m_claimerOnly = false;

namespace verify = vekobus::verify;

void signal(const char *id, int32_t code, uint32_t arg) { vkSigVerifyStatus(id, static_cast<uint32_t>(code), arg); }

// The user id into the caller's 64-byte field (ids that long are skipped).
void copyUser(char *out, const char *user) {
    const size_t len = strnlen(user, kWorkerNameSize - 1);
    memcpy(out, user, len);
    out[len] = '\0';
}

// Reads a whole finger file and notes which file it was; false when it
// cannot be opened or is short.
bool readFingerFile(const char *path, FileIdentity *identity) {
    FILE *f = fopen(path, "rbe");
    if (f == nullptr) {
        _vklog("%s fopen error \n", "ReadFromMinutiaeFile");
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) == 0) {
        identity->device = st.st_dev;
        identity->inode = st.st_ino;
    }
    const size_t n = fread(m_storedTemplate, 1, kFingerFileSize, f);
    fclose(f);
    if (n != kFingerFileSize) {
        _vklog("%s short file %s\n", "ReadFromMinutiaeFile", path);
        return false;
    }
    return true;
}

// Renews the finger file just matched; the previous file stays when the
// library declines or the new file cannot be written. A file deleted or
// renamed since it was read is not brought back: false, the match no longer
// counts. `matched` becomes the file now at the path.
bool renewFingerFile(const char *path, FileIdentity &matched) {
    uint16_t width = 0, height = 0;
    if ((Quorvane_RenewFeature(m_opFeatureOut, nullptr, &width, &height) & 0xFFFF) != 0) return true;
    const int rc = vkRenewFingerFile(path, matched, m_opFeatureOut, &matched);
    if (rc < 0) _vklog("renew write fail %s", path);
    if (rc > 0) _vklog("renew skipped, file changed %s", path);
    return rc <= 0;
}

// The finger file of the last accepted match, and its score.
char s_matchedPath[kPathSize];
FileIdentity s_matchedFile;
int s_matchedScore = 0;

// Profile of a stored template: the one its version code records; a code of
// no profile is tried as profile 2 (the library refuses what is not).
int storedProfile(const uint8_t *templ) {
    const int profile = Quorvane_TemplateProfile(templ);
    return profile >= 1 && profile <= kProfiles ? profile : 2;
}

// The live template of the profile, made on first use. Returns the creation
// result (1 = made).
int liveTemplate(int profile) {
    int &result = s_liveResult[profile - 1];
    if (result == 0) {
        // Template creation may work on the image in place: each profile gets a fresh copy.
        memcpy(s_rawWork, s_liveRaw, sizeof s_rawWork);
        result = CreateTemplateAs(profile, s_rawWork, m_opFeatureRecord[profile - 1], m_recordInfo[profile - 1]);
        _vklog("MODE_VERIFY CreateFingerPrintMinutiae ret = %d\n", result);
        if (result == 0) result = -1;  // an unknown device type
    }
    return result;
}

// One pass of the live capture over the stored fingers.
struct MatchPass {
    const char *filter;  // "<finger>.Data", or null for every finger
    bool renew;
    char *userOut;
    int best = 0;    // best weak score so far
    int files = 0;   // finger files seen
    int passed = 0;  // of them, those the filter let through
};

// Compares the live capture with the fingers of `user`. True on an accepted
// match (the file renewed when asked, userOut = user); otherwise notes the
// best weak score in `pass`.
bool matchUser(const char *user, MatchPass &pass) {
    // A directory whose name no caller could have given is not a user of ours.
    if (strlen(user) >= static_cast<size_t>(kWorkerNameSize)) return false;
    char dir[kPathSize];
    if (snprintf(dir, sizeof dir, "%s%s/", m_filePath, user) >= static_cast<int>(sizeof dir)) return false;
    char list[kFileListSize] = {};
    const int count = getSubFile(dir, list, sizeof list, 1);
    const char *name = list;
    for (int i = 0; i < count; ++i, name += strlen(name) + 1) {
        if (pass.filter != nullptr && strcmp(name, pass.filter) != 0) continue;
        ++pass.passed;
        char path[kPathSize];
        if (snprintf(path, sizeof path, "%s%s", dir, name) >= static_cast<int>(sizeof path)) continue;
        FileIdentity identity;
        if (!readFingerFile(path, &identity)) continue;
        const int profile = storedProfile(m_storedTemplate);
        if (liveTemplate(profile) != 1) continue;
        const int score = Quorvane_MatchScore(m_storedTemplate, m_opFeatureRecord[profile - 1]);
        _vklog("%s score:%d\n", "matchUpdate", score);
        if (score > kAcceptScore) {
            // A file changed since it was read (a finger deleted meanwhile)
            // is not matched: nobody may authenticate with a revoked finger.
            if (pass.renew && !renewFingerFile(path, identity)) continue;
            snprintf(s_matchedPath, sizeof s_matchedPath, "%s", path);
            s_matchedFile = identity;
            s_matchedScore = score;
            copyUser(pass.userOut, user);
            return true;
        }
        // A weak score does not end the pass: a later file may be the owner.
        if (score > pass.best) {
            pass.best = score;
            copyUser(pass.userOut, user);
        }
    }
    if (count > 0) pass.files += count;
    return false;
}

}  // namespace

// Compares the newest ring image with the stored fingers. Returns 100 for an
// accepted match (userOut = its user), otherwise the best score of the pass
// (1..45 with userOut = that user, or 0), the creation failure code when the
// capture gave no template, -10 without users, -11 without finger files, -12
// when no file has the filtered name.
int vkFpMatchScore(const char *finger, char *userOut, int renew) {
    const bool filtered = finger[0] != '\0' && strcmp(finger, "any") != 0;
    char filter[kWorkerNameSize + 8] = {};
    if (filtered) snprintf(filter, sizeof filter, "%s.Data", finger);

    memset(s_userList, 0, sizeof s_userList);
    const int users = getSubFile(m_filePath, s_userList, sizeof s_userList, 0);
    if (users <= 0) return kNoUsers;

    if (g_img_status[g_img_ar_get_index] != ST_IMG_RECV)
        _vklog("g_img_ar_get_index =%d data is NOT ST_IMG_RECV\n", g_img_ar_get_index);
    memcpy(s_liveRaw, getCapture_Image(), static_cast<size_t>(m_imgSize));
    freeCapture_Image();
    for (int &result : s_liveResult) result = 0;
    // Every capture yields a profile 1 template first, as before profiles
    // existed: a capture that gives none ends the pass with its code.
    const int created = liveTemplate(1);
    if (created != 1) return created;

    // The fingers of the user the device is claimed for come first, so that a
    // finger enrolled under two accounts is that user's; the others follow in
    // directory order.
    MatchPass pass{filtered ? filter : nullptr, renew != 0, userOut};
    const char *user = s_userList;
    for (int u = 0; u < users; ++u, user += strlen(user) + 1)
        if (strcmp(user, m_firstUser) == 0 && matchUser(user, pass)) return kAccepted;
    user = s_userList;
    for (int u = 0; u < users && !m_claimerOnly; ++u, user += strlen(user) + 1)
        if (strcmp(user, m_firstUser) != 0 && matchUser(user, pass)) return kAccepted;
    if (pass.files == 0) return kNoFiles;
    if (filtered && pass.passed == 0) return kNoFilteredFile;
    return pass.best;
}

namespace {

enum class Next { Continue, Stop };

Next cmpverify() {
    setCapture_Image();
    const int score = vkFpMatchScore(m_finger, m_usrname, 1);
    if (score < 0) {
        _vklogstr("no file verify");
        signal("", verify::kEnded, 0);
        return Next::Stop;
    }
    if (score <= kReportScore) {
        _vklog("verify continew %d", score);
        signal("", verify::kNoMatch, static_cast<uint32_t>(score));
        return Next::Continue;
    }
    // The match is announced only while its finger file is still there,
    // under the store's lock, so a deletion that has returned is never
    // followed by a match of the deleted finger.
    auto store = vkLockStore();
    if (!vkIsSameFile(s_matchedPath, s_matchedFile)) {
        store.unlock();
        _vklog("verify match of a removed finger %s", s_matchedPath);
        signal("", verify::kNoMatch, static_cast<uint32_t>(s_matchedScore));
        return Next::Continue;
    }
    _vklog("verify ok %s", m_usrname);
    signal(m_usrname, verify::kMatch, 0);
    return Next::Stop;
}

// One capture's outcome; false once the verification is over.
bool onCapture(CaptureOutcome outcome, int &) {
    switch (outcome) {
    case CaptureOutcome::kSensorFailed:
        _vklogstr("verify tx fail");
        signal("", verify::kSensorFailed, 0);
        return false;
    case CaptureOutcome::kStopped:
        signal("", verify::kEnded, 0);
        return false;
    case CaptureOutcome::kCancelled:
        // Cancelled without a stop: the sensor was closed under the worker.
        return false;
    case CaptureOutcome::kCaptured:
        stopfp();
        if (cmpverify() == Next::Stop) return false;
        if (g_verifyWorker.exit) {
            signal("", verify::kEnded, 0);
            return false;
        }
        break;
    case CaptureOutcome::kTimedOut:
        break;
    }
    stopfp();
    return true;
}

}  // namespace

int vkVerifyFp(const char *finger) { return vkVerifyFp(finger, false); }

int vkVerifyFp(const char *finger, bool claimerOnly) {
    if (!vkStopAllWorkers()) return -2;
    m_claimerOnly = claimerOnly;
    initCapture_Image();
    snprintf(m_finger, sizeof m_finger, "%s", finger);
    snprintf(m_firstUser, sizeof m_firstUser, "%s", vkClaimId());
    m_enrol_stage = 1;
    return vkWorkerStart(g_verifyWorker, CapturePlan{kCaptureVerify, {"verf", "verify"}, onCapture}) ? 0 : -2;
}

int vkStopVerify() {
    _vklog("<<vkStopVerify %d", vkWorkerStop(g_verifyWorker));
    return 0;
}
