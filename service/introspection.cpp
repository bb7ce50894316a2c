#include "introspection.h"

#include <cstring>

namespace {

#define VEKO_DOCTYPE                                                                     \
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n" \
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"

#define VEKO_STANDARD_INTERFACES                                          \
    "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"        \
    "    <method name=\"Introspect\">\n"                                  \
    "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"       \
    "    </method>\n"                                                     \
    "  </interface>\n"                                                    \
    "  <!-- Get replies with the bare value of the property, not a\n"     \
    "       variant; GetAll replies without arguments. -->\n"             \
    "  <interface name=\"org.freedesktop.DBus.Properties\">\n"            \
    "    <method name=\"Get\">\n"                                         \
    "      <arg name=\"interface\" type=\"s\" direction=\"in\"/>\n"       \
    "      <arg name=\"property\" type=\"s\" direction=\"in\"/>\n"        \
    "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"          \
    "    </method>\n"                                                     \
    "    <method name=\"GetAll\">\n"                                      \
    "      <arg name=\"interface\" type=\"s\" direction=\"in\"/>\n"       \
    "      <arg name=\"properties\" type=\"a{sv}\" direction=\"out\"/>\n" \
    "    </method>\n"                                                     \
    "  </interface>\n"

#define VEKO_STATUS_ARGS                      \
    "      <arg name=\"id\" type=\"s\"/>\n"   \
    "      <arg name=\"code\" type=\"i\"/>\n" \
    "      <arg name=\"json\" type=\"s\"/>\n"

#define VEKO_SERVICE_INTERFACE                                                      \
    "  <interface name=\"com.vekoid.fprint\">\n"                                    \
    "    <!-- A claim belongs to the connection that made it: while it is\n"        \
    "         held, Claim from another connection fails with \"device\n"            \
    "         busy.\", and its Enroll, StopEnroll, Verify, StopVerify and\n"        \
    "         releasing Claim fail with \"not claimed.\". -->\n"                    \
    "    <method name=\"Claim\">\n"                                                 \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "      <arg name=\"claimed\" type=\"b\" direction=\"in\"/>\n"                   \
    "    </method>\n"                                                               \
    "    <method name=\"Enroll\">\n"                                                \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "      <arg name=\"finger\" type=\"s\" direction=\"in\"/>\n"                    \
    "    </method>\n"                                                               \
    "    <method name=\"StopEnroll\"/>\n"                                           \
    "    <method name=\"Verify\">\n"                                                \
    "      <arg name=\"finger\" type=\"s\" direction=\"in\"/>\n"                    \
    "    </method>\n"                                                               \
    "    <method name=\"StopVerify\"/>\n"                                           \
    "    <method name=\"DeleteFinger\">\n"                                          \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "      <arg name=\"finger\" type=\"s\" direction=\"in\"/>\n"                    \
    "    </method>\n"                                                               \
    "    <method name=\"DeleteAllFingers\">\n"                                      \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "    </method>\n"                                                               \
    "    <!-- A user without fingers gets an empty array of type a{ss}. -->\n"      \
    "    <method name=\"ListFingers\">\n"                                           \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "      <arg name=\"fingers\" type=\"as\" direction=\"out\"/>\n"                 \
    "    </method>\n"                                                               \
    "    <method name=\"RenameFinger\">\n"                                          \
    "      <arg name=\"id\" type=\"s\" direction=\"in\"/>\n"                        \
    "      <arg name=\"finger\" type=\"s\" direction=\"in\"/>\n"                    \
    "      <arg name=\"newname\" type=\"s\" direction=\"in\"/>\n"                   \
    "    </method>\n"                                                               \
    "    <signal name=\"EnrollStatus\">\n" VEKO_STATUS_ARGS                         \
    "    </signal>\n"                                                               \
    "    <!-- A touch during an enrolment that was not taken: code 1\n"             \
    "         {\"reason\":\"unusable\"}, code 2 {\"reason\":\"no-overlap\"}. -->\n" \
    "    <signal name=\"EnrollRetry\">\n" VEKO_STATUS_ARGS                          \
    "    </signal>\n"                                                               \
    "    <signal name=\"VerifyStatus\">\n" VEKO_STATUS_ARGS                         \
    "    </signal>\n"                                                               \
    "    <property name=\"Name\" type=\"s\" access=\"read\"/>\n"                    \
    "    <property name=\"State\" type=\"i\" access=\"read\"/>\n"                   \
    "    <property name=\"Type\" type=\"i\" access=\"read\"/>\n"                    \
    "    <property name=\"Capability\" type=\"i\" access=\"read\"/>\n"              \
    "  </interface>\n"

constexpr const char *kRootXml =
    VEKO_DOCTYPE "<node>\n" VEKO_STANDARD_INTERFACES VEKO_SERVICE_INTERFACE "  <node name=\"com\"/>\n</node>\n";
constexpr const char *kComXml = VEKO_DOCTYPE "<node>\n" VEKO_STANDARD_INTERFACES "  <node name=\"vekoid\"/>\n</node>\n";
constexpr const char *kServiceXml = VEKO_DOCTYPE "<node>\n" VEKO_STANDARD_INTERFACES VEKO_SERVICE_INTERFACE "</node>\n";

}  // namespace

const char *vkIntrospectionXml(const char *path) {
    if (path == nullptr || strcmp(path, "/") == 0) return kRootXml;
    if (strcmp(path, "/com") == 0) return kComXml;
    return kServiceXml;
}
