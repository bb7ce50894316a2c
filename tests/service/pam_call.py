#!/usr/bin/python3
"""Runs pam_authenticate once, in a process of its own, as a host program
would, and writes what happened as JSON into REPORT: the result, every
conversation message, the monotonic time at which pam_authenticate returned,
and the open file descriptors before pam_start and after pam_end. It prints
nothing, so anything on its standard output or error came from the module.

usage: pam_call.py REPORT CONFDIR SERVICE USER [--silent] [--end-conversation-at N] [--rhost HOST]

The PAM plumbing is the demonstration's host (tools/demo/pam_host.py), found
beside this file or in the source tree.
"""
import argparse
import json
import os
import sys
import time
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path[:0] = [str(here), str(here.parents[1] / "tools" / "demo")]
from pam_host import authenticate  # noqa: E402


def open_fds():
    fds = {}
    for fd in os.listdir("/proc/self/fd"):
        try:
            fds[fd] = os.readlink(f"/proc/self/fd/{fd}")
        except OSError:
            pass  # the directory's own descriptor, closed again
    return fds


def main():
    parser = argparse.ArgumentParser()
    for name in ("report", "confdir", "service", "user"):
        parser.add_argument(name)
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--end-conversation-at", type=int, default=0)
    parser.add_argument("--rhost")
    args = parser.parse_args()

    report = {"messages": [], "fds_before": open_fds()}

    def message(style, text):
        report["messages"].append([style, text])
        return not len(report["messages"]) >= args.end_conversation_at > 0

    def returned():
        report["returned_at"] = time.monotonic()

    report["result"], report["text"] = authenticate(args.confdir, args.service, args.user, message,
                                                    silent=args.silent, rhost=args.rhost, on_returned=returned)
    report["fds_after"] = open_fds()
    with open(args.report, "w") as out:
        json.dump(report, out)


if __name__ == "__main__":
    main()
