"""The PAM module against a scripted stand-in for the service: forged and
stale signals, answers the real service never gives, the service leaving, the
host ending the conversation, remote requests. Every run also checks that the
module printed nothing and left no descriptor (its bus connection) open."""
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import GERMAN, _die_with_parent, stop_process, with_build_translations

HERE = Path(__file__).resolve().parent
MODULE = (Path(os.environ.get("VEKO_BUILD_DIR", "")) / "pam" / "pam_veko2547.so").resolve()
PAM_SUCCESS, PAM_AUTH_ERR, PAM_CONV_ERR, PAM_AUTHINFO_UNAVAIL = 0, 7, 19, 9
INFO, ERROR = 4, 3
PLACE = [INFO, "Place your finger on the fingerprint reader"]
TRY_AGAIN = [ERROR, "No match, try again"]
RELEASED = [["StopVerify"], ["Claim", "alice", False]]

pytestmark = pytest.mark.skipif(not MODULE.exists(), reason="the PAM module is not built")


class Fake:
    """The scripted service on the harness's bus, and the PAM configuration
    that points the module at that bus."""

    def __init__(self, harness, tmp_path, script, options=("timeout=2",)):
        self.tmp = tmp_path
        self.calls_file = tmp_path / "calls.jsonl"
        self.proc = subprocess.Popen(
            [sys.executable, str(HERE / "fake_fprint_service.py"), harness.bus.address, json.dumps(script),
             str(self.calls_file)], preexec_fn=_die_with_parent)
        connection = harness.connect()
        deadline = time.monotonic() + 10
        while not connection.name_has_owner("com.vekoid.fprint"):
            assert self.proc.poll() is None and time.monotonic() < deadline, "the stand-in did not start"
            time.sleep(0.01)
        self.confdir = tmp_path / "pam.d"
        self.confdir.mkdir()
        (self.confdir / "veko-test").write_text(
            f"auth required {MODULE} bus={harness.bus.address} {' '.join(options)}\n")

    def authenticate(self, user="alice", *flags, env=None):
        report = self.tmp / "report.json"
        started = time.monotonic()
        command = [sys.executable, str(HERE / "pam_call.py"), str(report), str(self.confdir), "veko-test", user, *flags]
        if env:
            command = with_build_translations(command)
        run = subprocess.run(command, capture_output=True, text=True, timeout=60, env={**os.environ, **(env or {})})
        assert (run.returncode, run.stdout, run.stderr) == (0, "", "")
        result = json.loads(report.read_text())
        assert result["fds_after"] == result["fds_before"]
        result["elapsed"] = result["returned_at"] - started
        return result

    def calls(self):
        if not self.calls_file.exists():
            return []
        return [json.loads(line) for line in self.calls_file.read_text().splitlines()]

    def close(self):
        stop_process(self.proc)


@pytest.fixture
def fake(harness, tmp_path):
    made = []

    def start(script, options=("timeout=2",)):
        made.append(Fake(harness, tmp_path, script, options))
        return made[-1]

    yield start
    for f in made:
        f.close()


def test_only_the_owners_signals_after_the_verify_reply_count(fake):
    # A match before Verify's reply belongs to an earlier verification; one
    # from a connection that does not own the name is forged.
    f = fake({"fingers": ["thumb"], "verify": [{"before_reply": [["alice", 0, ""]], "forged": [["alice", 0, ""]]}]})
    result = f.authenticate()
    assert result["result"] == PAM_AUTHINFO_UNAVAIL
    assert result["messages"] == [PLACE, [ERROR, "Fingerprint reader timed out"]]
    assert 2 <= result["elapsed"] < 5
    assert f.calls() == [["ListFingers", "alice"], ["Claim", "alice", True], ["Verify", "any"], *RELEASED]


def test_a_busy_reader_is_said_at_once_and_another_programs_claim_is_left_alone(fake):
    f = fake({"fingers": ["thumb"], "verify": [{}], "claim_error": "device busy."})
    result = f.authenticate()
    assert (result["result"], result["messages"]) == (PAM_AUTHINFO_UNAVAIL, [[ERROR, "Fingerprint reader is busy"]])
    assert result["elapsed"] < 1
    result = f.authenticate("alice", "--silent")
    assert (result["result"], result["messages"]) == (PAM_AUTHINFO_UNAVAIL, [])
    # Neither stopped nor released: the claim is another program's.
    assert f.calls() == [["ListFingers", "alice"], ["Claim", "alice", True]] * 2


def test_a_service_hanging_in_the_clean_up_still_gets_the_release_and_holds_no_one_up(fake):
    f = fake({"fingers": ["thumb"], "verify": [{}], "hang_on_stop": True}, options=("timeout=2",))
    result = f.authenticate()
    assert (result["result"], result["messages"]) == (
        PAM_AUTHINFO_UNAVAIL, [PLACE, [ERROR, "Fingerprint reader timed out"]])
    assert 2 <= result["elapsed"] < 2 + 1 + 0.8
    # Continued, the service finds the release that was sent after the stop timed out.
    os.kill(f.proc.pid, signal.SIGCONT)
    deadline = time.monotonic() + 5
    while f.calls()[-1:] != [RELEASED[1]] and time.monotonic() < deadline:
        time.sleep(0.02)
    assert f.calls() == [["ListFingers", "alice"], ["Claim", "alice", True], ["Verify", "any"], *RELEASED]


def test_the_messages_come_in_the_hosts_language(fake):
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["", 3, '{"subcode":3}']]}]}, options=("timeout=2",))
    result = f.authenticate("alice", env=GERMAN)
    assert result["messages"] == [[INFO, "Legen Sie Ihren Finger auf den Fingerabdruckleser"],
                                  [ERROR, "Keine Übereinstimmung, bitte erneut versuchen"],
                                  [ERROR, "Zeitüberschreitung beim Fingerabdruckleser"]]


def test_answers_the_service_never_gives_end_cleanly(fake):
    # A wrong signature is ignored, another user's match (here with a long id)
    # is a failed try after which the verification starts again, bad JSON does
    # not matter, and an unknown code ends everything. With `debug` all of it
    # goes to syslog, none of it to the host's output.
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["alice"], ["b" * 5000, 0, '{"x":' * 1000]]},
                                               {"after": [["", 3, "{not json"], ["alice", 7, ""]]}]},
             options=("max-tries=5", "timeout=5", "debug"))
    result = f.authenticate()
    assert result["result"] == PAM_AUTHINFO_UNAVAIL
    assert result["messages"] == [PLACE, TRY_AGAIN, TRY_AGAIN, [ERROR, "Fingerprint reader is not available"]]
    assert result["elapsed"] < 3
    assert [c[0] for c in f.calls()] == ["ListFingers", "Claim", "Verify", "Verify", "StopVerify", "Claim"]


@pytest.mark.parametrize("options, tries", [((), 3), (("max-tries=2",), 2), (("max-tries=zero", "colour=red"), 3)])
def test_max_tries_and_bad_arguments_keep_their_defaults(fake, options, tries):
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["", 3, '{"subcode":3}']] * 5}]}, options=options)
    result = f.authenticate()
    assert result["result"] == PAM_AUTH_ERR
    assert result["messages"] == [PLACE, *[TRY_AGAIN] * (tries - 1), [ERROR, "Fingerprint not recognised"]]
    assert f.calls()[-2:] == RELEASED


def test_the_service_leaving_mid_verification_ends_at_once(fake):
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["", 3, '{"subcode":5}']], "leave": True}]},
             options=("timeout=10",))
    result = f.authenticate()
    assert result["result"] == PAM_AUTHINFO_UNAVAIL
    assert result["elapsed"] < 3


def test_the_host_ending_the_conversation_still_releases_the_device(fake):
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["alice", 0, ""]]}]})
    result = f.authenticate("alice", "--end-conversation-at", "1")
    assert (result["result"], result["messages"]) == (PAM_CONV_ERR, [PLACE])
    assert f.calls()[-2:] == RELEASED
    # PAM_SILENT: no message at all, and the owner's match still counts.
    result = f.authenticate("alice", "--silent", "--end-conversation-at", "1")
    assert (result["result"], result["messages"]) == (PAM_SUCCESS, [])
    assert f.calls()[-2:] == RELEASED


def test_remote_requests_and_impossible_names_never_reach_the_service(fake):
    f = fake({"fingers": ["thumb"], "verify": [{"after": [["alice", 0, ""]]}]})
    assert f.authenticate("alice", "--rhost", "far.example.org")["result"] == PAM_AUTHINFO_UNAVAIL
    for name in (".alice", "a/b", "x" * 59, "tab\tname"):
        assert f.authenticate(name)["result"] == PAM_AUTHINFO_UNAVAIL
    assert f.calls() == []
    # The local machine as remote host (as sudo sets it) is no remote request.
    assert f.authenticate("alice", "--rhost", "localhost")["result"] == PAM_SUCCESS
