// The bus contract of the fingerprint service, written once: its names, its
// methods and signals, and the codes its status signals carry (the wire
// values the authentication framework relies on). The service, the PAM
// module and veko2547-ctl include this header; the Python tests read the same
// names from tests/service/bus_contract.py, which a test checks against it.
#ifndef VEKO_BUS_CONTRACT_H
#define VEKO_BUS_CONTRACT_H

#include <cstdint>

namespace vekobus {

inline constexpr const char *kServiceName = "com.vekoid.fprint";
inline constexpr const char *kServiceInterface = "com.vekoid.fprint";
inline constexpr const char *kServicePath = "/com/vekoid";
inline constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char *kIntrospectableInterface = "org.freedesktop.DBus.Introspectable";
// Where the system bus listens when nothing says otherwise.
inline constexpr const char *kSystemBusAddress = "unix:path=/var/run/dbus/system_bus_socket";

namespace method {
inline constexpr const char *kClaim = "Claim";
inline constexpr const char *kEnroll = "Enroll";
inline constexpr const char *kStopEnroll = "StopEnroll";
inline constexpr const char *kVerify = "Verify";
inline constexpr const char *kStopVerify = "StopVerify";
inline constexpr const char *kDeleteFinger = "DeleteFinger";
inline constexpr const char *kDeleteAllFingers = "DeleteAllFingers";
inline constexpr const char *kListFingers = "ListFingers";
inline constexpr const char *kRenameFinger = "RenameFinger";
inline constexpr const char *kGet = "Get";
inline constexpr const char *kGetAll = "GetAll";
inline constexpr const char *kIntrospect = "Introspect";
}  // namespace method

// Properties (Get, GetAll) and the values of State.
namespace property {
inline constexpr const char *kName = "Name";
inline constexpr const char *kState = "State";
inline constexpr const char *kType = "Type";
inline constexpr const char *kCapability = "Capability";
inline constexpr int32_t kStateFree = 1;
inline constexpr int32_t kStateClaimed = 2;
}  // namespace property

namespace signal {
inline constexpr const char *kEnrollStatus = "EnrollStatus";
inline constexpr const char *kEnrollRetry = "EnrollRetry";
inline constexpr const char *kVerifyStatus = "VerifyStatus";
}  // namespace signal

// EnrollStatus (s id, i code, s json).
namespace enroll {
inline constexpr int32_t kDone = 0;          // the finger is stored; json ""
inline constexpr int32_t kRefused = 1;       // json {"subcode":N}, N below
inline constexpr int32_t kProgress = 2;      // json {"progress":P}
inline constexpr int32_t kSensorFailed = 4;  // the capture command failed; json ""
// Subcodes of kRefused.
inline constexpr int32_t kNameExists = 2;
inline constexpr int32_t kStoppedOrNotStored = 3;
inline constexpr int32_t kTooManyFingers = 4;
}  // namespace enroll

// EnrollRetry (s id, i code, s json): a touch that was not taken.
namespace retry {
inline constexpr int32_t kUnusable = 1;   // {"reason":"unusable"}
inline constexpr int32_t kNoOverlap = 2;  // {"reason":"no-overlap"}
}  // namespace retry

// VerifyStatus (s id, i code, s json).
namespace verify {
inline constexpr int32_t kMatch = 0;         // id = the matched user; json ""
inline constexpr int32_t kEnded = 2;         // {"subcode":1}: nothing to compare, unusable, or stopped
inline constexpr int32_t kNoMatch = 3;       // {"subcode":3} nothing scored, {"subcode":5} a weak score
inline constexpr int32_t kSensorFailed = 4;  // the capture command failed; json ""
// Subcodes.
inline constexpr int32_t kEndedSubcode = 1;
inline constexpr int32_t kNothingScored = 3;
inline constexpr int32_t kWeakScore = 5;
}  // namespace verify

// The service's error texts: org.freedesktop.DBus.Error.Failed unless noted.
namespace answer {
inline constexpr const char *kErrorFailed = "org.freedesktop.DBus.Error.Failed";
inline constexpr const char *kErrorInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char *kErrorAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr const char *kInvalidArgs = "paramit error.";     // kErrorInvalidArgs
inline constexpr const char *kNotAuthorised = "not authorised.";  // kErrorAccessDenied
inline constexpr const char *kNotClaimed = "not claimed.";
inline constexpr const char *kDeviceBusy = "device busy.";
inline constexpr const char *kOpenDeviceFail = "OpenDevice fail.";
inline constexpr const char *kNoDevice = "No Device.";
inline constexpr const char *kEnrollFail = "Enroll fail.";
inline constexpr const char *kVerifyFail = "Verify fail.";
inline constexpr const char *kDeleteFingerFail = "DeleteFinger fail.";
inline constexpr const char *kDeleteAllFingersFail = "DeleteAllFingers fail.";
inline constexpr const char *kListFingersFail = "ListFingers fail.";
inline constexpr const char *kRenameFingerFail = "RenameFinger fail.";
}  // namespace answer

}  // namespace vekobus

#endif
