"""The service's methods and properties as the authentication framework sees
them through the bus."""
import os
import subprocess
import time
from xml.etree import ElementTree

import dbus
import pytest

import bus_contract
from conftest import BUS_NAME, INTERFACE, PROPERTIES

FAILED = bus_contract.answer.ERROR_FAILED
INVALID_ARGS = bus_contract.answer.ERROR_INVALID_ARGS


def call_error(method, *args, **kwargs):
    with pytest.raises(dbus.DBusException) as caught:
        method(*args, **kwargs)
    return caught.value.get_dbus_name(), caught.value.get_dbus_message()


def raw_call(client, member, signature, args, interface=INTERFACE, path="/com/vekoid", timeout=3):
    """A call with an exact signature, bypassing the proxy's introspection."""
    message = client.connection.call_blocking(BUS_NAME, path, interface, member, signature, args, timeout=timeout)
    return message


def test_properties_are_bare_values(client):
    name = client.get("Name")
    assert name == "Veko2547" and isinstance(name, dbus.String)
    for prop, value in (("Type", 2), ("Capability", 1), ("State", 1)):
        reply = client.get(prop)
        assert reply == value and isinstance(reply, dbus.Int32), prop
    # An unknown property is answered with an empty return, not an error.
    assert raw_call(client, "Get", "ss", (INTERFACE, "Colour"), interface=PROPERTIES) is None
    assert raw_call(client, "GetAll", "s", (INTERFACE,), interface=PROPERTIES) is None


def test_state_follows_the_claim(client):
    assert client.get("State") == 1
    client.fprint.Claim("1000", True)
    assert client.get("State") == 2
    # Any caller may release; the id is not checked.
    client.fprint.Claim("someone-else", False)
    assert client.get("State") == 1


def test_claim_gates_enroll_verify_and_stop_enroll_only(client):
    for method, args in ((client.fprint.Enroll, ("1000", "thumb")), (client.fprint.Verify, ("",)),
                         (client.fprint.StopEnroll, ())):
        assert call_error(method, *args) == (FAILED, "not claimed.")
    # These work without a claim.
    client.fprint.StopVerify()
    client.fprint.DeleteAllFingers("1000")
    client.fprint.ListFingers("1000")


def test_without_sensor_enroll_and_verify_report_their_own_texts(client):
    client.fprint.Claim("1000", True)
    assert call_error(client.fprint.Enroll, "1000", "thumb") == (FAILED, "OpenDevice fail.")
    assert call_error(client.fprint.Verify, "") == (FAILED, "No Device.")
    client.fprint.StopEnroll()
    client.fprint.StopVerify()


def test_undecodable_arguments_get_invalid_args_and_change_nothing(client):
    assert call_error(raw_call, client, "Claim", "ss", ("1000", "yes")) == (INVALID_ARGS, "paramit error.")
    assert client.get("State") == 1
    client.fprint.Claim("1000", True)
    assert call_error(raw_call, client, "Claim", "s", ("1000",)) == (INVALID_ARGS, "paramit error.")
    assert client.get("State") == 2
    for member, signature, args in (("Enroll", "s", ("1000",)), ("Verify", "i", (3,)),
                                    ("DeleteFinger", "", ()), ("DeleteAllFingers", "b", (True,)),
                                    ("ListFingers", "", ()), ("RenameFinger", "ss", ("a", "b"))):
        assert call_error(raw_call, client, member, signature, args) == (INVALID_ARGS, "paramit error."), member
    assert call_error(raw_call, client, "Get", "s", ("x",), interface=PROPERTIES) == (INVALID_ARGS,
                                                                                        "paramit error.")


def test_unknown_members_get_no_reply_and_the_service_goes_on(client):
    start = time.monotonic()
    name, _ = call_error(raw_call, client, "Frobnicate", "", (), timeout=1)
    assert name == "org.freedesktop.DBus.Error.NoReply"
    assert time.monotonic() - start >= 0.9
    name, _ = call_error(raw_call, client, "Set", "ssv", (INTERFACE, "State", dbus.Int32(2, variant_level=1)),
                         interface=PROPERTIES, timeout=1)
    assert name == "org.freedesktop.DBus.Error.NoReply"
    assert client.get("Name") == "Veko2547"


INTROSPECTABLE = "org.freedesktop.DBus.Introspectable"


def test_introspection_describes_the_interface_at_once(harness, client):
    for path in ("/com/vekoid", "/"):
        start = time.monotonic()
        xml = raw_call(client, "Introspect", "", (), interface=INTROSPECTABLE, path=path, timeout=2)
        assert time.monotonic() - start < 0.5
        root = ElementTree.fromstring(str(xml))
        interfaces = {i.get("name"): i for i in root.findall("interface")}
        assert {INTERFACE, PROPERTIES, INTROSPECTABLE} <= set(interfaces)
        ours = interfaces[INTERFACE]
        assert {m.get("name") for m in ours.findall("method")} == {
            "Claim", "Enroll", "StopEnroll", "Verify", "StopVerify", "DeleteFinger", "DeleteAllFingers",
            "ListFingers", "RenameFinger"}
        for signal in ours.findall("signal"):
            assert "".join(a.get("type") for a in signal.findall("arg")) == "sis"
        assert {s.get("name") for s in ours.findall("signal")} == {"EnrollStatus", "EnrollRetry", "VerifyStatus"}
        assert {p.get("name"): p.get("type") for p in ours.findall("property")} == {
            "Name": "s", "State": "i", "Type": "i", "Capability": "i"}
        claim = ours.find("method[@name='Claim']")
        assert [(a.get("type"), a.get("direction")) for a in claim.findall("arg")] == [("s", "in"), ("b", "in")]
    assert [n.get("name") for n in root.findall("node")] == ["com"]

    # What a person at a shell sees.
    gdbus = subprocess.run(["gdbus", "introspect", "--system", "--dest", BUS_NAME, "--object-path", "/com/vekoid"],
                           env={**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address},
                           capture_output=True, text=True, timeout=10)
    assert gdbus.returncode == 0, gdbus.stderr
    for text in ("interface com.vekoid.fprint", "Claim(in  s id,", "signals:", "EnrollRetry(s id,",
                 "readonly i State"):
        assert text in gdbus.stdout, gdbus.stdout
    # Get still answers with the bare value.
    assert client.get("State") == 1 and isinstance(client.get("State"), dbus.Int32)


def test_any_object_path_is_accepted(client):
    assert raw_call(client, "Get", "ss", (INTERFACE, "Type"), interface=PROPERTIES, path="/") == 2
    raw_call(client, "Claim", "sb", ("1000", True), path="/some/where")
    assert client.get("State") == 2


def test_list_fingers_of_a_user_without_fingers_is_an_empty_dictionary_array(client):
    reply = client.fprint.ListFingers("nobody-here")
    assert len(reply) == 0
    assert reply.signature == "ss" and isinstance(reply, dbus.Dictionary)


def test_list_fingers_returns_the_names_as_a_string_array(client, service):
    user = service.store_root / "1000"
    user.mkdir()
    for finger in ("thumb", "index"):
        (user / f"{finger}.Data").write_bytes(bytes(28000))
    reply = client.fprint.ListFingers("1000")
    assert reply.signature == "s"
    assert sorted(reply) == ["index", "thumb"]


def test_store_calls_without_stored_fingers(client):
    client.fprint.DeleteAllFingers("1000")
    assert call_error(client.fprint.DeleteFinger, "1000", "thumb") == (FAILED, "DeleteFinger fail.")
    assert call_error(client.fprint.RenameFinger, "1000", "thumb", "index") == (FAILED, "RenameFinger fail.")


@pytest.mark.parametrize("bad", ["", "..", ".hidden", "a/b", "../../etc", "x" * 64])
def test_names_that_would_leave_the_store_are_refused(client, service, bad):
    victim = service.store_root.parent / "victim.Data"
    victim.write_bytes(b"keep")
    client.fprint.Claim("1000", True)
    assert call_error(client.fprint.DeleteFinger, bad, "thumb") == (FAILED, "DeleteFinger fail.")
    assert call_error(client.fprint.DeleteFinger, "1000", bad) == (FAILED, "DeleteFinger fail.")
    assert call_error(client.fprint.RenameFinger, "1000", "thumb", bad) == (FAILED, "RenameFinger fail.")
    assert call_error(client.fprint.ListFingers, bad) == (FAILED, "ListFingers fail.")
    assert call_error(client.fprint.DeleteAllFingers, bad) == (FAILED, "DeleteAllFingers fail.")
    assert call_error(client.fprint.Enroll, "1000", bad) == (FAILED, "Enroll fail.")
    assert victim.read_bytes() == b"keep"


def test_names_up_to_58_bytes_are_accepted(client):
    client.fprint.Claim("1000", True)
    # Passes the name check and reaches the sensor, which is absent.
    assert call_error(client.fprint.Enroll, "u" * 58, "f" * 58) == (FAILED, "OpenDevice fail.")
    assert call_error(client.fprint.Enroll, "u" * 59, "f") == (FAILED, "Enroll fail.")
    assert call_error(client.fprint.Verify, "f" * 59) == (FAILED, "Verify fail.")
    assert call_error(client.fprint.Verify, "bad/name") == (FAILED, "Verify fail.")
    assert call_error(client.fprint.Verify, "any") == (FAILED, "No Device.")
    assert call_error(client.fprint.Verify, "") == (FAILED, "No Device.")


def test_second_instance_exits_with_status_1(harness, service, client, tmp_path):
    second_dir = tmp_path / "second"
    second_dir.mkdir()
    second = harness.start_service(wait=False, workdir=second_dir)
    assert second.proc.wait(10) == 1
    assert client.get("Name") == "Veko2547"
    assert service.proc.poll() is None


def test_service_exits_when_the_bus_goes_away(harness, service):
    harness.bus.close()
    assert service.proc.wait(10) == 1
