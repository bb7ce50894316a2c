#!/usr/bin/python3
"""A minimal PAM host program, as a screen locker is one: pam_authenticate
for one user with a PAM configuration directory of its own, every message
of the conversation shown as a person would see it.

Run as a program it prints each message on a line of its own and the result:

    pam_host.py CONFDIR SERVICE USER

`authenticate()` is the same for the tests' host (tests/service/pam_call.py).
"""
import argparse
import ctypes
import locale
import sys

PAM_SUCCESS = 0
PAM_CONV_ERR = 19
PAM_RHOST = 4
PAM_SILENT = 0x8000
PAM_ERROR_MSG, PAM_TEXT_INFO = 3, 4


class Message(ctypes.Structure):
    _fields_ = [("style", ctypes.c_int), ("text", ctypes.c_char_p)]


class Response(ctypes.Structure):
    _fields_ = [("resp", ctypes.c_void_p), ("retcode", ctypes.c_int)]


ConvFunc = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.POINTER(Message)),
                            ctypes.POINTER(ctypes.POINTER(Response)), ctypes.c_void_p)


class Conv(ctypes.Structure):
    _fields_ = [("conv", ConvFunc), ("appdata", ctypes.c_void_p)]


def authenticate(confdir, service, user, on_message, silent=False, rhost=None, on_returned=None):
    """pam_start_confdir, pam_authenticate and pam_end. `on_message(style,
    text)` sees every message and returns False to end the conversation;
    `on_returned()` runs as soon as pam_authenticate has returned. Returns
    (result, its text)."""
    locale.setlocale(locale.LC_ALL, "")  # as host programs do: the person's language
    libc = ctypes.CDLL(None)
    libc.calloc.restype = ctypes.c_void_p
    libpam = ctypes.CDLL("libpam.so.0")
    libpam.pam_strerror.restype = ctypes.c_char_p

    def converse(count, messages, responses, _):
        going_on = True
        for i in range(count):
            going_on = on_message(messages[i].contents.style, messages[i].contents.text.decode()) and going_on
        if not going_on:
            return PAM_CONV_ERR
        responses[0] = ctypes.cast(libc.calloc(count, ctypes.sizeof(Response)), ctypes.POINTER(Response))
        return PAM_SUCCESS

    conv = Conv(ConvFunc(converse), None)
    handle = ctypes.c_void_p()
    started = libpam.pam_start_confdir(service.encode(), user.encode(), ctypes.byref(conv), confdir.encode(),
                                       ctypes.byref(handle))
    if started != PAM_SUCCESS:
        raise RuntimeError(f"pam_start_confdir failed: {started}")
    if rhost:
        libpam.pam_set_item(handle, PAM_RHOST, rhost.encode())
    result = libpam.pam_authenticate(handle, PAM_SILENT if silent else 0)
    if on_returned:
        on_returned()
    text = libpam.pam_strerror(handle, result).decode()
    libpam.pam_end(handle, result)
    return result, text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("confdir", "service", "user"):
        parser.add_argument(name)
    args = parser.parse_args()

    def show(style, text):
        print(("  " if style == PAM_TEXT_INFO else "  ! ") + text, flush=True)
        return True

    result, text = authenticate(args.confdir, args.service, args.user, show)
    print(f"pam_authenticate: {text}")
    return 0 if result == PAM_SUCCESS else 1


if __name__ == "__main__":
    sys.exit(main())
