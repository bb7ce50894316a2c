"""The package's maintainer scripts on a scratch root (DPKG_ROOT): purge
removes the fingers wherever the store points, and configure copes with what
an administrator left at the store's path."""
import os
import subprocess

import pytest

from conftest import SOURCE_DIR

STORE = "usr/share/deepin-authentication/modes/veko2547"
LOG = "var/log/vekoidfp2547.log"


@pytest.fixture
def root(tmp_path):
    """An empty root and stand-ins for the programs the scripts call on the
    real system (pam-auth-update; dpkg-query, which owns nothing here)."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, body in (("pam-auth-update", "exit 0"), ("dpkg-query", "exit 1")):
        (bin_dir / name).write_text(f"#!/bin/sh\n{body}\n")
        (bin_dir / name).chmod(0o755)
    scratch = tmp_path / "root"
    scratch.mkdir()
    return scratch


def run(root, script, action):
    stand_ins = root.parent / "bin"
    env = {**os.environ, "DPKG_ROOT": str(root), "PATH": f"{stand_ins}:{os.environ['PATH']}"}
    return subprocess.run(["sh", "-e", str(SOURCE_DIR / "debian" / f"veko2547.{script}"), action],
                          env=env, capture_output=True, text=True, timeout=30)


def fingers(directory):
    """Writes the fingers of two users and a temporary file of the service."""
    for user, finger in (("alice", "index"), ("bob", "thumb")):
        (directory / user).mkdir(parents=True)
        (directory / user / f"{finger}.Data").write_bytes(bytes(28000))
    (directory / "alice" / ".finger.a1B2c3").write_bytes(b"half")


def tree(directory):
    return sorted(str(p.relative_to(directory)) for p in directory.rglob("*"))


def test_purge_removes_the_store_the_log_and_the_empty_directories_above(root):
    fingers(root / STORE)
    (root / LOG).parent.mkdir(parents=True)
    (root / LOG).write_text("lines\n")
    (root / "usr/share/deepin-authentication/interfaces").mkdir(parents=True)
    result = run(root, "postrm", "purge")
    assert result.returncode == 0, result.stderr
    assert not (root / STORE).exists() and not (root / LOG).exists()
    # "modes" was left empty; its parent still holds another directory.
    assert tree(root / "usr/share/deepin-authentication") == ["interfaces"]


@pytest.mark.parametrize("link", ["/var/lib/veko-fingers", "../../../../var/lib/veko-fingers"])
def test_purge_removes_the_fingers_where_a_linked_store_points(root, link):
    moved = root / "var/lib/veko-fingers"
    fingers(moved)
    (root / STORE).parent.mkdir(parents=True)
    (root / STORE).symlink_to(link)
    result = run(root, "postrm", "purge")
    assert result.returncode == 0, result.stderr
    assert not moved.exists() and not os.path.lexists(root / STORE)

    # Something that is not a finger stays, and with it the directory.
    fingers(moved)
    (moved / "notes.txt").write_text("the administrator's")
    (moved / "alice" / "photo.png").write_bytes(b"png")
    (root / STORE).parent.mkdir(parents=True)
    (root / STORE).symlink_to(link)
    assert run(root, "postrm", "purge").returncode == 0
    assert tree(moved) == ["alice", "alice/photo.png", "notes.txt"]


def test_purge_leaves_a_directory_of_another_user_and_says_so(root):
    theirs = root / "home/mallory/fingers"
    fingers(theirs)
    os.chown(theirs, 65534, 65534)
    (root / STORE).parent.mkdir(parents=True)
    (root / STORE).symlink_to("/home/mallory/fingers")
    result = run(root, "postrm", "purge")
    assert result.returncode == 0, result.stderr
    assert "only the link is removed" in result.stderr
    assert len(tree(theirs)) == 5 and not os.path.lexists(root / STORE)


def test_purge_with_a_link_above_the_store(root):
    moved = root / "srv/modes"
    fingers(moved / "veko2547")
    (root / STORE).parent.parent.mkdir(parents=True)
    # Relative: the shell resolves a path through the links above it in the
    # real root, not in DPKG_ROOT.
    (root / STORE).parent.symlink_to("../../../srv/modes")
    result = run(root, "postrm", "purge")
    assert result.returncode == 0, result.stderr
    assert tree(moved) == []
    # The link above is the administrator's: it stays.
    assert (root / STORE).parent.is_symlink()


@pytest.mark.parametrize("what", ["file", "dangling link"])
def test_configure_moves_aside_what_is_not_a_directory_at_the_store(root, what):
    store = root / STORE
    store.parent.mkdir(parents=True)
    if what == "file":
        store.write_text("not a store")
    else:
        store.symlink_to("/nowhere")
    result = run(root, "postinst", "configure")
    assert result.returncode == 0, result.stderr
    assert "was not a directory" in result.stderr
    assert store.is_dir() and not store.is_symlink() and store.stat().st_mode & 0o777 == 0o700
    aside = [p for p in store.parent.iterdir() if p.name.startswith("veko2547.moved-aside-")]
    assert len(aside) == 1
    assert aside[0].read_text() == "not a store" if what == "file" else aside[0].is_symlink()


def test_configure_keeps_a_store_and_a_link_to_a_moved_one(root):
    fingers(root / STORE)
    assert run(root, "postinst", "configure").returncode == 0
    assert len(tree(root / STORE)) == 5
    moved = root / "var/lib/veko-fingers"
    moved.parent.mkdir(parents=True)
    (root / STORE).rename(moved)
    (root / STORE).symlink_to("/var/lib/veko-fingers")
    result = run(root, "postinst", "configure")
    assert result.returncode == 0 and result.stderr == ""
    assert (root / STORE).is_symlink() and len(tree(moved)) == 5
