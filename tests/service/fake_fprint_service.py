#!/usr/bin/python3
"""A stand-in for the fingerprint service that answers from a script, to see
how the PAM module takes answers the real service never gives.

usage: fake_fprint_service.py ADDRESS SCRIPT CALL_LOG

SCRIPT is JSON: {"fingers": [names], "verify": [step, ...], "claim_error": text}.
With "claim_error" every Claim(..., true) fails with that text (name Failed); with
"hang_on_stop" the stand-in stops itself (SIGSTOP) in StopVerify. The n-th Verify
call plays step n (the last step again once they are used up):
  "before_reply": signals sent before Verify's reply
  "after":        signals sent after the reply, 20 ms apart
  "forged":       signals sent after the reply from another connection, which
                  does not own the service's name, to everybody and to each
                  connection on the bus
  "leave":        true: leave the bus after the signals
A signal is its list of arguments: [id, code, json] goes out as (sis),
anything else as that many strings. Every method call is appended to CALL_LOG
as one JSON line: [member, arguments...].
"""
import json
import os
import signal
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

import bus_contract

NAME = INTERFACE = bus_contract.SERVICE_NAME
PATH = bus_contract.SERVICE_PATH


def status(args):
    message = dbus.lowlevel.SignalMessage(PATH, INTERFACE, "VerifyStatus")
    if len(args) == 3 and isinstance(args[1], int):
        message.append(*args, signature="sis")
    else:
        message.append(*[str(a) for a in args], signature="s" * len(args))
    return message


class Fake(dbus.service.Object):
    def __init__(self, bus, address, script, log):
        super().__init__(bus, PATH)
        self.bus, self.address, self.script, self.log = bus, address, script, log
        self.verifies = 0

    def record(self, *call):
        with open(self.log, "a") as out:
            out.write(json.dumps(call) + "\n")

    @dbus.service.method(INTERFACE, in_signature="s", out_signature="as")
    def ListFingers(self, user):
        self.record("ListFingers", str(user))
        return self.script["fingers"]

    @dbus.service.method(INTERFACE, in_signature="sb")
    def Claim(self, user, claimed):
        self.record("Claim", str(user), bool(claimed))
        if claimed and self.script.get("claim_error"):
            raise dbus.DBusException(self.script["claim_error"], name="org.freedesktop.DBus.Error.Failed")

    @dbus.service.method(INTERFACE)
    def StopVerify(self):
        self.record("StopVerify")
        if self.script.get("hang_on_stop"):
            os.kill(os.getpid(), signal.SIGSTOP)  # the test continues it

    @dbus.service.method(INTERFACE, in_signature="s")
    def Verify(self, finger):
        self.record("Verify", str(finger))
        steps = self.script["verify"]
        step = steps[min(self.verifies, len(steps) - 1)]
        self.verifies += 1
        for args in step.get("before_reply", []):
            self.bus.send_message(status(args))
        GLib.timeout_add(20, self.play, list(step.get("after", [])), step)

    def play(self, pending, step):
        if pending:
            self.bus.send_message(status(pending.pop(0)))
            return True
        if step.get("forged"):
            # Broadcast, and addressed to every connection (which no match rule filters).
            other = dbus.bus.BusConnection(self.address)
            names = [n for n in other.list_names() if n.startswith(":") and n != other.get_unique_name()]
            for args in step["forged"]:
                for destination in [None, *names]:
                    message = status(args)
                    if destination:
                        message.set_destination(destination)
                    other.send_message(message)
            other.flush()
        if step.get("leave"):
            self.bus.flush()
            os._exit(0)
        return False


def main():
    address, script, log = sys.argv[1:4]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    fake = Fake(bus, address, json.loads(script), log)
    bus.request_name(NAME)
    GLib.MainLoop().run()
    del fake


if __name__ == "__main__":
    main()
