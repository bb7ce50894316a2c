"""The service answers each call as soon as it arrives, one at a time and in
the order the calls were sent."""
import statistics
import time

from gi.repository import GLib

from conftest import BUS_NAME, INTERFACE, PROPERTIES


def timed_get(client, prop="State"):
    start = time.perf_counter()
    client.connection.call_blocking(BUS_NAME, "/com/vekoid", PROPERTIES, "Get", "ss", (INTERFACE, prop), timeout=3)
    return (time.perf_counter() - start) * 1000.0


def test_get_is_answered_within_milliseconds(client):
    samples = [timed_get(client) for _ in range(200)]
    # Generous bounds for a loaded CI machine; a sleeping loop needs 50 ms or more.
    assert statistics.median(samples) < 10.0
    assert max(samples) < 200.0


def test_a_call_after_a_quiet_second_is_not_delayed(client):
    timed_get(client)
    time.sleep(1.3)
    assert timed_get(client) < 40.0


def test_calls_sent_together_are_handled_in_order(client):
    # Claim and State alternate; each State must see the claim sent just before it.
    replies = {}
    order = []
    expected = []
    for i in range(20):
        claimed = i % 2 == 0
        expected.append(2 if claimed else 1)
        client.connection.call_async(BUS_NAME, "/com/vekoid", INTERFACE, "Claim", "sb", ("1000", claimed),
                                     reply_handler=lambda *a: None, error_handler=lambda e: None)
        client.connection.call_async(BUS_NAME, "/com/vekoid", PROPERTIES, "Get", "ss", (INTERFACE, "State"),
                                     reply_handler=lambda value, i=i: (replies.__setitem__(i, int(value)),
                                                                       order.append(i)),
                                     error_handler=lambda error, i=i: replies.__setitem__(i, error))
    context = GLib.MainContext.default()
    deadline = time.monotonic() + 5
    while len(replies) < 20 and time.monotonic() < deadline:
        context.iteration(False) or time.sleep(0.002)
    assert [replies.get(i) for i in range(20)] == expected
    assert order == list(range(20))
