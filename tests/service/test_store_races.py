"""The finger store under concurrent changes: a renewal never brings back a
finger deleted or renamed while it was written, nor is its match announced, an enrolment never overwrites
a finger renamed onto its name meanwhile, and a removal that the disk refuses
is reported as failed.

VEKO_TEST_STORE_PAUSE_MS holds every finger file the service writes between
writing it out and putting it in place, so the competing call lands there."""
import time

import dbus
import pytest

import bus_contract
from enrol_session import LIBRARY, OWNER, Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_PLAIN

FAILED = bus_contract.answer.ERROR_FAILED
PAUSE = {"VEKO_TEST_STORE_PAUSE_MS": "1500"}

needs_fingers = pytest.mark.skipif(not have_fpgen() or not LIBRARY.exists(),
                                   reason="fpgen or the library is not built")


@pytest.fixture(scope="module")
def images(tmp_path_factory):
    fingers = generate_fingers(tmp_path_factory.mktemp("fingers"), (OWNER,), 24, products=(PRODUCT_PLAIN,))
    return fingers[OWNER][PRODUCT_PLAIN]


def pauses(s):
    return s.service.log().count("store pause")


def touch_until(s, images, done):
    """Touches one image after another until done() holds; after each touch
    waits until the service asks for the next capture or done() holds."""
    for image in images:
        s.touch(image)
        deadline = time.monotonic() + 5
        while not done() and s.sensor.capturing is None:
            assert time.monotonic() < deadline, "the service neither captured again nor finished"
            s.client.wait_for_signals(len(s.client.signals) + 1, timeout=0.02)
        if done():
            return
    pytest.fail("no image got that far")


def enrol(s, user, finger, images):
    before = pauses(s)
    s.client.fprint.Enroll(user, finger)
    touch_until(s, images, lambda: pauses(s) > before)
    return s.wait_status("EnrollStatus", lambda st: st[1] != 2, timeout=5)


@needs_fingers
@pytest.mark.parametrize("change", ["delete", "rename"])
def test_a_renewal_never_brings_back_a_finger_changed_meanwhile(simbus, harness, images, change):
    s = Session(simbus, harness, PRODUCT_PLAIN, extra_env=PAUSE)
    assert enrol(s, "gina", "thumb", images[:16]) == ("gina", 0, {})
    user = s.service.store_root / "gina"
    enrolled = (user / "thumb.Data").read_bytes()

    # Verify until a match is renewed: its new file waits to be put in place.
    before = pauses(s)
    matched = lambda: any(st[1] == 0 for st in s.statuses("VerifyStatus"))  # noqa: E731
    for _ in range(3):  # a match the library declines to renew: verify again
        s.client.signals.clear()
        s.client.fprint.Verify("")
        touch_until(s, images[16:], lambda: pauses(s) > before or matched())
        if pauses(s) > before:
            break
    assert pauses(s) > before, "no match was renewed"
    seen = len(s.statuses("VerifyStatus"))
    if change == "delete":
        s.client.fprint.DeleteFinger("gina", "thumb")
        expected = {}
    else:
        s.client.fprint.RenameFinger("gina", "thumb", "index")
        expected = {"index.Data": enrolled}
    # The file matched is gone from its name: no match is announced for it,
    # and the verification goes on with the next touch.
    assert s.wait_status("VerifyStatus", lambda st: True, timeout=5, since=seen)[1] == 3
    assert [st for st in s.statuses("VerifyStatus")[seen:] if st[1] != 3] == []
    assert s.sensor.wait_for(lambda st: st.capturing is not None)
    assert {p.name: p.read_bytes() for p in user.iterdir()} == expected
    assert sorted(s.client.fprint.ListFingers("gina")) == [n[:-5] for n in expected]
    if change == "rename":  # the same finger under its new name
        touch_until(s, images[16:], lambda: any(st[1] == 0 for st in s.statuses("VerifyStatus")))
        assert s.statuses("VerifyStatus")[-1] == ("gina", 0, {})


@needs_fingers
def test_an_enrolment_onto_a_name_renamed_meanwhile_ends_as_name_exists(simbus, harness, images):
    s = Session(simbus, harness, PRODUCT_PLAIN, extra_env=PAUSE)
    user = s.service.store_root / "gina"
    user.mkdir()
    (user / "index.Data").write_bytes(b"the index finger")
    s.client.fprint.Enroll("gina", "thumb")
    touch_until(s, images[:16], lambda: pauses(s) > 0)
    s.client.fprint.RenameFinger("gina", "index", "thumb")
    assert s.wait_status("EnrollStatus", lambda st: st[1] != 2, timeout=5) == ("gina", 1, {"subcode": 2})
    assert (user / "thumb.Data").read_bytes() == b"the index finger"
    assert sorted(p.name for p in user.iterdir()) == ["thumb.Data"]


def test_removals_on_a_read_only_store_are_reported_failed(harness):
    store = harness.workdir / "store"
    (store / "gina").mkdir(parents=True)
    for name in ("thumb", "index"):
        (store / "gina" / f"{name}.Data").write_bytes(name.encode())
    # The store is read-only for the service alone: a bind mount in its own
    # mount namespace.
    read_only = ["unshare", "--mount", "sh", "-c",
                 'mount --bind "$1" "$1" && mount -o bind,remount,ro "$1" && shift && exec "$@"', "sh", str(store)]
    harness.start_service(wrapper=read_only)
    client = harness.client()
    for method, args, text in ((client.fprint.DeleteFinger, ("gina", "thumb"), "DeleteFinger fail."),
                               (client.fprint.DeleteAllFingers, ("gina",), "DeleteAllFingers fail.")):
        with pytest.raises(dbus.DBusException) as info:
            method(*args)
        assert (info.value.get_dbus_name(), info.value.get_dbus_message()) == (FAILED, text)
    assert sorted(client.fprint.ListFingers("gina")) == ["index", "thumb"]
    # A user without fingers still has nothing to delete: no failure.
    client.fprint.DeleteAllFingers("nobody")
