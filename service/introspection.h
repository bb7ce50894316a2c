// org.freedesktop.DBus.Introspectable: the XML that tells bus tools (gdbus,
// busctl, D-Bus browsers) what the service offers.
#pragma once

// The description of the object at `path` (null counts as "/"): the
// service's interface at "/com/vekoid", at "/" and wherever else a call may
// be sent (the service accepts its methods on any path), with the child nodes
// that lead from "/" to "/com/vekoid". A static string.
const char *vkIntrospectionXml(const char *path);
