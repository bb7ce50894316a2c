"""The recognition setting end to end: the configuration file chooses the
profile of new enrolments, and verification keeps matching stored fingers of
every profile whatever the setting."""
import pytest

from enrol_session import OTHER, OWNER, THIRD, Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_12BIT

pytestmark = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")

ENROL_CAPTURES = 16
PROBE_CAPTURES = 6
# Byte 5 of a template: the first byte of its version code (build 10, 20 or 30).
PROFILE_CODE = {1: 0x0A, 2: 0x14, 3: 0x1E}


@pytest.fixture(scope="module")
def fingers(tmp_path_factory):
    return generate_fingers(tmp_path_factory.mktemp("fingers"), (OWNER, OTHER, THIRD), ENROL_CAPTURES + PROBE_CAPTURES,
                            products=(PRODUCT_12BIT,))


def enrolment_progress(session):
    return [p["progress"] for _, code, p in session.statuses("EnrollStatus") if code == 2]


@pytest.mark.parametrize("setting,profile,log_text", [
    (None, 1, "not readable, profile 1"),
    ("profile=4\n", 1, "malformed, profile 1"),
    ("# no profile given\nsound=on\n", 1, "malformed, profile 1"),
    ("profile=1\n", 1, None),
    ("  profile = 2  \n", 2, None),
    ("profile=3\n", 3, None),
])
def test_the_setting_chooses_the_profile_of_a_new_enrolment(simbus, harness, fingers, setting, profile, log_text):
    s = Session(simbus, harness, PRODUCT_12BIT)
    if setting is not None:
        s.service.config_path.write_text(setting)
    images = fingers[OWNER][PRODUCT_12BIT]
    assert s.enrol("alice", "thumb", images[:ENROL_CAPTURES]) == ("alice", 0, {}), s.statuses("EnrollStatus")
    stored = (s.service.store_root / "alice" / "thumb.Data").read_bytes()
    assert len(stored) == 28000 and stored[5] == PROFILE_CODE[profile]
    # Sixteen captures under profiles 2 and 3, their progress still in tens from 10 to 90.
    expected = list(range(10, 100, 10)) if profile == 1 else [10, 10, 20, 20, 30, 30, 40, 50, 50, 60, 60, 70, 70, 80, 90]
    assert enrolment_progress(s) == expected
    log = s.service.log()
    if log_text is not None:
        assert log_text in log
    else:
        assert "not readable, profile" not in log and "malformed, profile" not in log


def test_fingers_of_every_profile_match_after_the_setting_changes(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_12BIT)
    enrolled = (("alice", "thumb", fingers[OWNER][PRODUCT_12BIT], 1),
                ("bob", "index", fingers[OTHER][PRODUCT_12BIT], 2),
                ("carol", "ring", fingers[THIRD][PRODUCT_12BIT], 3))
    for user, finger, images, profile in enrolled:
        s.client.signals.clear()
        s.service.config_path.write_text(f"profile={profile}\n")
        assert s.enrol(user, finger, images[:ENROL_CAPTURES]) == (user, 0, {})
        assert (s.service.store_root / user / f"{finger}.Data").read_bytes()[5] == PROFILE_CODE[profile]

    for setting in ("profile=2\n", "profile=1\n", "profile=3\n"):
        s.service.config_path.write_text(setting)
        for user, _, images, _ in enrolled:
            s.client.signals.clear()
            assert s.verify(images[ENROL_CAPTURES:]) == (user, 0, {}), s.statuses("VerifyStatus")
