#!/usr/bin/python3
"""Runs pam_authenticate once, in a process of its own, as a host program
would, and writes what happened as JSON into REPORT: the result, every
conversation message, the monotonic time at which pam_authenticate returned,
and the open file descriptors before pam_start and after pam_end. It prints
nothing, so anything on its standard output or error came from the module.

usage: pam_call.py REPORT CONFDIR SERVICE USER [--silent] [--end-conversation-at N] [--rhost HOST]
"""
import argparse
import ctypes
import json
import os
import time

PAM_SUCCESS = 0
PAM_CONV_ERR = 19
PAM_RHOST = 4
PAM_SILENT = 0x8000


class Message(ctypes.Structure):
    _fields_ = [("style", ctypes.c_int), ("text", ctypes.c_char_p)]


class Response(ctypes.Structure):
    _fields_ = [("resp", ctypes.c_void_p), ("retcode", ctypes.c_int)]


ConvFunc = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.POINTER(Message)),
                            ctypes.POINTER(ctypes.POINTER(Response)), ctypes.c_void_p)


class Conv(ctypes.Structure):
    _fields_ = [("conv", ConvFunc), ("appdata", ctypes.c_void_p)]


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

    libc = ctypes.CDLL(None)
    libc.calloc.restype = ctypes.c_void_p
    libpam = ctypes.CDLL("libpam.so.0")
    libpam.pam_strerror.restype = ctypes.c_char_p
    report = {"messages": [], "fds_before": open_fds()}

    def converse(count, messages, responses, _):
        for i in range(count):
            report["messages"].append([messages[i].contents.style, messages[i].contents.text.decode()])
        if len(report["messages"]) >= args.end_conversation_at > 0:
            return PAM_CONV_ERR
        responses[0] = ctypes.cast(libc.calloc(count, ctypes.sizeof(Response)), ctypes.POINTER(Response))
        return PAM_SUCCESS

    conv = Conv(ConvFunc(converse), None)
    handle = ctypes.c_void_p()
    started = libpam.pam_start_confdir(args.service.encode(), args.user.encode(), ctypes.byref(conv),
                                       args.confdir.encode(), ctypes.byref(handle))
    assert started == PAM_SUCCESS, started
    if args.rhost:
        libpam.pam_set_item(handle, PAM_RHOST, args.rhost.encode())
    result = libpam.pam_authenticate(handle, PAM_SILENT if args.silent else 0)
    report["returned_at"] = time.monotonic()
    report["result"] = result
    report["text"] = libpam.pam_strerror(handle, result).decode()
    libpam.pam_end(handle, result)
    report["fds_after"] = open_fds()
    with open(args.report, "w") as out:
        json.dump(report, out)


if __name__ == "__main__":
    main()
