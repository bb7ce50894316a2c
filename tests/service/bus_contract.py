"""The service's bus contract for the Python tests: the names and codes of
bus/contract.h, under the same groups, with kFooBar spelled FOO_BAR.
test_bus_contract.py checks the two against each other."""

SERVICE_NAME = "com.vekoid.fprint"
SERVICE_INTERFACE = "com.vekoid.fprint"
SERVICE_PATH = "/com/vekoid"
PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties"
INTROSPECTABLE_INTERFACE = "org.freedesktop.DBus.Introspectable"
SYSTEM_BUS_ADDRESS = "unix:path=/var/run/dbus/system_bus_socket"


class method:
    CLAIM = "Claim"
    ENROLL = "Enroll"
    STOP_ENROLL = "StopEnroll"
    VERIFY = "Verify"
    STOP_VERIFY = "StopVerify"
    DELETE_FINGER = "DeleteFinger"
    DELETE_ALL_FINGERS = "DeleteAllFingers"
    LIST_FINGERS = "ListFingers"
    RENAME_FINGER = "RenameFinger"
    GET = "Get"
    GET_ALL = "GetAll"
    INTROSPECT = "Introspect"


class property:
    NAME = "Name"
    STATE = "State"
    TYPE = "Type"
    CAPABILITY = "Capability"
    STATE_FREE = 1
    STATE_CLAIMED = 2


class signal:
    ENROLL_STATUS = "EnrollStatus"
    ENROLL_RETRY = "EnrollRetry"
    VERIFY_STATUS = "VerifyStatus"


class enroll:
    DONE = 0
    REFUSED = 1
    PROGRESS = 2
    SENSOR_FAILED = 4
    NAME_EXISTS = 2
    STOPPED_OR_NOT_STORED = 3
    TOO_MANY_FINGERS = 4


class retry:
    UNUSABLE = 1
    NO_OVERLAP = 2


class verify:
    MATCH = 0
    ENDED = 2
    NO_MATCH = 3
    SENSOR_FAILED = 4
    ENDED_SUBCODE = 1
    NOTHING_SCORED = 3
    WEAK_SCORE = 5


class answer:
    ERROR_FAILED = "org.freedesktop.DBus.Error.Failed"
    ERROR_INVALID_ARGS = "org.freedesktop.DBus.Error.InvalidArgs"
    ERROR_ACCESS_DENIED = "org.freedesktop.DBus.Error.AccessDenied"
    INVALID_ARGS = "paramit error."
    NOT_AUTHORISED = "not authorised."
    NOT_CLAIMED = "not claimed."
    DEVICE_BUSY = "device busy."
    OPEN_DEVICE_FAIL = "OpenDevice fail."
    NO_DEVICE = "No Device."
    ENROLL_FAIL = "Enroll fail."
    VERIFY_FAIL = "Verify fail."
    DELETE_FINGER_FAIL = "DeleteFinger fail."
    DELETE_ALL_FINGERS_FAIL = "DeleteAllFingers fail."
    LIST_FINGERS_FAIL = "ListFingers fail."
    RENAME_FINGER_FAIL = "RenameFinger fail."
