"""The service's diagnostic log as an operator sees it: gated by the flag file,
time-prefixed lines, the date line of every start, and no queue left behind."""
import re
import time

import dbus
import pytest

DATE_LINE = re.compile(r"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}$")
PREFIXED = re.compile(r"^\[\d{2}:\d{2}:\d{2}\](.*)$")


def wait_for(predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def queue_ids():
    with open("/proc/sysvipc/msg") as table:
        next(table)
        return {int(line.split()[1]) for line in table if line.strip()}


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
