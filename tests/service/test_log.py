"""The service's diagnostic log as an operator sees it: gated by the flag file,
time-prefixed lines, the date line of every start, and no queue left behind;
a log that can never hold the service up, a private log file, and a service
that starts without a queue when none can be had."""
import ctypes
import os
import re
import subprocess
import time

import dbus
import pytest

from simsensor import PRODUCT_PLAIN

DATE_LINE = re.compile(r"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}$")
PREFIXED = re.compile(r"^\[\d{2}:\d{2}:\d{2}\](.*)$")


def wait_for(predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def queues():
    """{id: key} of every message queue."""
    with open("/proc/sysvipc/msg") as table:
        next(table)
        return {int(line.split()[1]): int(line.split()[0]) for line in table if line.strip()}


def queue_ids():
    return set(queues())


_libc = ctypes.CDLL(None, use_errno=True)
IPC_PRIVATE, IPC_CREAT, IPC_RMID = 0, 0o1000, 0


def private_queue(mode=0o600):
    """A private queue of this process (root), with nothing in it."""
    queue = _libc.msgget(IPC_PRIVATE, IPC_CREAT | mode)
    assert queue >= 0, os.strerror(ctypes.get_errno())
    return queue


def test_without_flag_only_the_date_line_is_written(harness):
    service = harness.start_service(logging=False)
    client = harness.client()
    client.fprint.Claim("1000", True)
    client.get("State")
    assert wait_for(lambda: service.log() != "")
    time.sleep(0.2)
    lines = service.log().splitlines()
    assert len(lines) == 1 and DATE_LINE.match(lines[0]), lines


def test_with_flag_lines_carry_the_time_prefix_and_arrive_in_order(harness):
    service = harness.start_service(logging=True)
    client = harness.client()
    client.fprint.Claim("%s%n%x", True)
    assert wait_for(lambda: "claimed=1" in service.log())
    lines = service.log().splitlines()
    assert DATE_LINE.match(lines[0])
    # The start-up lines are not lost to the writer's first read of the flag.
    assert [PREFIXED.match(line).group(1) for line in lines[1:3]] == ["1.1.0.4", "use normal"]
    claim = lines.index(next(line for line in lines if line.endswith(">>handle_claim")))
    assert PREFIXED.match(lines[claim])
    # A caller's text is written verbatim, never interpreted as a format.
    assert PREFIXED.match(lines[claim + 2]).group(1) == "--rcved: id=%s%n%x claimed=1"
    # Every line also goes to standard output.
    assert "--rcved: id=%s%n%x claimed=1" in service.stdout()


def test_creating_the_flag_file_enables_logging_after_the_next_date_line(harness):
    service = harness.start_service(logging=False)
    client = harness.client()
    client.fprint.Claim("1000", True)
    service.flag_path.write_text("")
    # Each sensor open posts a date line, which makes the writer look at the flag.
    with pytest.raises(dbus.DBusException):
        client.fprint.Enroll("1000", "thumb")

    def logged_get():
        client.get("Type")
        return ">>handle_GetProperty" in service.log()

    assert wait_for(logged_get, timeout=3)
    assert len([line for line in service.log().splitlines() if DATE_LINE.match(line)]) == 2


def test_queue_is_removed_when_the_service_ends(harness, tmp_path):
    service = harness.start_service()
    msgid = service.msgid()
    assert msgid is not None and msgid in queue_ids()
    second_dir = tmp_path / "second"
    second_dir.mkdir()
    second = harness.start_service(wait=False, workdir=second_dir)
    assert second.proc.wait(10) == 1
    assert second.msgid() not in queue_ids()
    service.stop()
    assert msgid not in queue_ids()


def test_the_queue_is_private_and_a_killed_runs_queue_alone_is_removed_by_the_next_run(harness, tmp_path):
    # Queues that are not the service's: another user's, and root's own
    # private ones (one never used, one used by a process that has ended).
    others = [private_queue(), private_queue()]
    subprocess.run(["/usr/bin/python3", "-c", "import ctypes,sys; ctypes.CDLL(None).msgsnd(int(sys.argv[1]), "
                    "ctypes.create_string_buffer(b'\\2' + bytes(15)), 8, 0o4000)", str(others[1])], check=True)
    nobody = subprocess.run(["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups", "ipcmk", "-Q"],
                            capture_output=True, text=True, check=True)
    others.append(int(nobody.stdout.split(":")[-1]))
    try:
        first = harness.start_service()
        harness.client().fprint.Claim("1000", True)
        stale = first.msgid()
        assert queues()[stale] == 0  # no key anybody could take first
        assert wait_for(lambda: "claimed=1" in first.log())
        first.proc.kill()
        first.proc.wait(5)
        assert stale in queue_ids()  # SIGKILL leaves it behind
        second = harness.start_service()
        assert stale not in queue_ids() and second.msgid() in queue_ids()
        # A service still running keeps its queue when another one starts.
        third_dir = tmp_path / "third"
        third_dir.mkdir()
        third = harness.start_service(wait=False, workdir=third_dir)
        assert third.proc.wait(10) == 1
        assert second.msgid() in queue_ids() and set(others) <= queue_ids()
        client = harness.client()
        client.fprint.Claim("2000", True)
        assert wait_for(lambda: "id=2000 claimed=1" in second.log())
    finally:
        for queue in others:
            _libc.msgctl(queue, IPC_RMID, None)


# Fills the queue table of a private IPC namespace (another user's four queues
# where four may exist), then runs the service in it.
FULL_QUEUE_TABLE = ("echo 4 > /proc/sys/kernel/msgmni && for i in 1 2 3 4; do "
                    "setpriv --reuid nobody --regid nogroup --clear-groups ipcmk -Q >/dev/null || exit 9; done && "
                    'exec "$@"')


def test_without_a_queue_the_service_runs_unlogged(harness):
    service = harness.start_service(wrapper=["unshare", "--ipc", "sh", "-c", FULL_QUEUE_TABLE, "sh"])
    client = harness.client()
    client.fprint.Claim("1000", True)
    assert client.get("State") == 2
    out = service.stdout().splitlines()
    assert [line for line in out if "queue" in line] == [
        "no log queue (No space left on device): logging is off for this run"], out
    assert ">>handle_claim" not in service.log()


def test_log_file_is_private_and_never_written_through_a_link(harness, tmp_path):
    service = harness.start_service()
    harness.client().fprint.Claim("1000", True)
    assert wait_for(lambda: "claimed=1" in service.log())
    assert service.log_path.stat().st_mode & 0o777 == 0o600
    service.stop()

    victim = tmp_path / "victim"
    victim.write_text("")
    linked = tmp_path / "linked"
    linked.mkdir()
    (linked / "service.log").symlink_to(victim)
    (linked / "log-enabled.conf").write_text("")
    service = harness.start_service(workdir=linked)
    harness.client().fprint.Claim("1000", True)
    assert wait_for(lambda: "claimed=1" in service.stdout())
    assert victim.read_text() == "" and (linked / "service.log").is_symlink()


def test_a_log_file_of_another_user_is_not_written(harness, tmp_path):
    theirs = tmp_path / "theirs"
    theirs.mkdir()
    (theirs / "service.log").write_text("their lines\n")
    os.chown(theirs / "service.log", 65534, 65534)
    (theirs / "log-enabled.conf").write_text("")
    service = harness.start_service(workdir=theirs)
    client = harness.client()
    client.fprint.Claim("1000", True)
    client.fprint.Claim("1000", False)
    assert wait_for(lambda: "claimed=0" in service.stdout())
    assert service.log() == "their lines\n"
    said = [line for line in service.stdout().splitlines() if "belongs to uid" in line]
    assert said == [f"log file {theirs / 'service.log'} belongs to uid 65534, not to this service: not written"]


@pytest.mark.parametrize("logging", [True, False])
def test_a_standard_output_nobody_reads_never_holds_the_service(simbus, harness, raw_images, tmp_path, logging):
    # A pipe filled to the brim whose reader never reads (a stalled journal).
    fifo = tmp_path / "stdout.fifo"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        try:
            while True:
                os.write(writer, b"x" * 4096)
        except BlockingIOError:
            pass
        os.close(writer)
        sensor = simbus.add(PRODUCT_PLAIN)
        service = harness.start_service(logging=logging, extra_env=simbus.env(),
                                        wrapper=["sh", "-c", 'exec "$@" >"$0"', str(fifo)])
        client = harness.client()
        client.fprint.Claim("1000", True)
        client.fprint.Verify("")
        # A whole capture through the libusb callbacks, then a stop.
        sent = sensor.images_sent
        sensor.place_finger(raw_images[PRODUCT_PLAIN])
        assert sensor.wait_for(lambda st: st.images_sent > sent, 5)
        sensor.lift_finger()
        client.fprint.StopVerify(timeout=3)
        assert ("VerifyStatus", ("", 2, '{"subcode":1}')) in client.wait_for_signals(2)
        assert client.get("State") == 2
        if logging:
            assert wait_for(lambda: ">>handle_StopVerify" in service.log())
    finally:
        os.close(reader)
