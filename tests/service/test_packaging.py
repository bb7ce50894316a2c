"""`cmake --install` puts the service where the bus, systemd and the
authentication framework look for it."""
import configparser
import json
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    build_dir = os.environ.get("VEKO_BUILD_DIR")
    if not build_dir:
        pytest.fail("VEKO_BUILD_DIR must name the build directory")
    root = tmp_path_factory.mktemp("destdir")
    subprocess.run(["cmake", "--install", build_dir, "--prefix", "/usr"],
                   check=True, capture_output=True, env={**os.environ, "DESTDIR": str(root)})
    return root


def read_unit(path):
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    parser.optionxform = str
    parser.read(path)
    return parser


def test_binary_registration_and_manual_pages(installed):
    binary = installed / "usr/sbin/veko2547_svr"
    assert os.access(binary, os.X_OK)
    registration = installed / "usr/share/deepin-authentication/interfaces/veko2547.json"
    assert json.loads(registration.read_text()) == {
        "service": "com.vekoid.fprint", "path": "/com/vekoid", "interface": "com.vekoid.fprint", "type": 1}
    assert registration.read_text().strip() == (
        '{"service":"com.vekoid.fprint","path":"/com/vekoid","interface":"com.vekoid.fprint","type":1}')
    for page in ("man8/veko2547_svr.8", "man8/veko2547-ctl.8", "man8/pam_veko2547.8", "man5/veko2547.conf.5"):
        assert (installed / "usr/share/man" / page).read_text().startswith(".TH ")
        # man's own check: the page formats without a warning.
        check = subprocess.run(["man", "--warnings", "-l", str(installed / "usr/share/man" / page)],
                               capture_output=True, text=True, env={**os.environ, "MANPAGER": "cat"})
        assert check.returncode == 0 and check.stderr == "", (page, check.stderr)
    assert (installed / "usr/share/locale/de/LC_MESSAGES/veko2547.mo").stat().st_size > 0
    store = installed / "usr/share/deepin-authentication/modes/veko2547"
    assert store.is_dir() and (store.stat().st_mode & 0o777) == 0o700


def test_bus_and_polkit_policies(installed):
    policy = ET.parse(installed / "usr/share/dbus-1/system.d/com.vekoid.fprint.conf").getroot()
    rules = {(p.get("user") or p.get("context"), r.tag, tuple(sorted(r.attrib.items())))
             for p in policy.iter("policy") for r in p}
    # Everybody may call and hear what is addressed to them; only root owns
    # the name or sends signals of its interface.
    assert rules == {
        ("root", "allow", (("own", "com.vekoid.fprint"),)),
        ("root", "allow", (("send_interface", "com.vekoid.fprint"), ("send_type", "signal"))),
        ("default", "deny", (("own", "com.vekoid.fprint"),)),
        ("default", "allow", (("send_destination", "com.vekoid.fprint"),)),
        ("default", "allow", (("receive_sender", "com.vekoid.fprint"),)),
        ("default", "deny", (("send_interface", "com.vekoid.fprint"), ("send_type", "signal"))),
    }
    actions = ET.parse(installed / "usr/share/polkit-1/actions/com.vekoid.fprint.policy").getroot()
    defaults = {a.get("id"): tuple(a.find("defaults").find(k).text for k in ("allow_any", "allow_inactive",
                                                                             "allow_active"))
                for a in actions.iter("action")}
    assert defaults == {"com.vekoid.fprint.verify": ("no", "no", "yes"),
                        "com.vekoid.fprint.enroll": ("no", "no", "auth_self_keep"),
                        "com.vekoid.fprint.manage": ("auth_admin_keep",) * 3}


def test_activation_file_and_unit_start_the_installed_binary(installed):
    activation = read_unit(installed / "usr/share/dbus-1/system-services/com.vekoid.fprint.service")
    assert dict(activation["D-BUS Service"]) == {
        "Name": "com.vekoid.fprint", "Exec": "/usr/sbin/veko2547_svr", "User": "root",
        "SystemdService": "veko2547_svr.service"}
    service = read_unit(installed / "usr/lib/systemd/system/veko2547_svr.service")["Service"]
    assert service["Type"] == "dbus"
    assert service["BusName"] == "com.vekoid.fprint"
    assert service["ExecStart"] == "/usr/sbin/veko2547_svr"
    assert service["ProtectSystem"] == "strict"
    assert service["ReadWritePaths"].split() == ["-/usr/share/deepin-authentication/modes/veko2547", "/var/log"]
    assert service["PrivateTmp"] == "yes" and service["NoNewPrivileges"] == "yes"
    assert service["DeviceAllow"] == "char-usb_device rw"
    assert service["UMask"] == "0077"


@pytest.mark.skipif(not shutil.which("systemd-analyze"), reason="systemd-analyze is not installed")
def test_unit_passes_systemd_verification(installed, tmp_path):
    text = (installed / "usr/lib/systemd/system/veko2547_svr.service").read_text()
    unit = tmp_path / "veko2547_svr.service"
    # Verification checks that the executable and the documentation exist:
    # point it at the staged ones.
    unit.write_text(text.replace("ExecStart=/usr/sbin/", f"ExecStart={installed}/usr/sbin/"))
    result = subprocess.run(["systemd-analyze", "verify", str(unit)], capture_output=True, text=True, timeout=60,
                            env={**os.environ, "MANPATH": str(installed / "usr/share/man")})
    assert result.returncode == 0 and result.stderr.strip() == "", result.stderr
    # The unit's sandbox keeps systemd's exposure estimate low (0 best, 10 worst).
    result = subprocess.run(["systemd-analyze", "security", "--offline=true", "--no-pager", str(unit)],
                            capture_output=True, text=True, timeout=60)
    exposure = re.search(r"Overall exposure level for \S+: (\d+\.\d+)", result.stdout)
    assert exposure and float(exposure.group(1)) < 3.0, result.stdout
