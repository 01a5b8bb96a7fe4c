"""Profile files that a careless or hostile host puts in place of a profile: a FIFO, a link to a
device, a directory, a link loop, a file far too large, brackets nested far too deep. The first log_frame reads the named
profile for the writer's spool limit; it must return at once, with the default limit, and say on
stderr which file it refused and why. Faults of a profile's own content stay silent, as before."""
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import PACKAGE_ROOT

# Bounds the whole producer generously: the old reader never returned from a FIFO, read a
# device until memory ran out, and spent minutes on a megabyte of nested brackets.
PRODUCER_TIMEOUT_S = 120

# The address space a producer may use, except under AddressSanitizer (whose shadow memory
# does not fit any such bound): a reader without a bound then fails at once instead of taking the
# machine's memory.
ADDRESS_SPACE = 4 << 30

ONE_FRAME = textwrap.dedent("""
    import resource, sys
    sys.path.insert(0, sys.argv[1])
    if sys.argv[2] != "0":
        resource.setrlimit(resource.RLIMIT_AS,
                           (int(sys.argv[2]), resource.getrlimit(resource.RLIMIT_AS)[1]))
    from quillspan.data_daemon import _data_bridge as bridge
    bridge.log_frame("arm", 0, "RGB_IMAGES", "cam", 1, 1, "uint8", b"abc", 1)
    print("returned", flush=True)
""")

MIB = 1 << 20


def make_fifo(path):
    os.mkfifo(path)


def link_to_dev_zero(path):
    os.symlink("/dev/zero", path)


def make_directory(path):
    path.mkdir()


def link_to_itself(path):
    os.symlink(path.name, path)


def write(text):
    return lambda path: path.write_text(text)


NESTED = "spool_limit: " + "[" * (MIB // 2 - 16) + "]" * (MIB // 2 - 16) + "\n"

# (profile, the refusal's error text or None when nothing is reported)
CASES = [
    pytest.param(make_fifo, "I/O error: not a regular file", id="fifo"),
    pytest.param(link_to_dev_zero, "I/O error: not a regular file", id="link-to-dev-zero"),
    pytest.param(make_directory, "I/O error: Is a directory (os error 21)", id="directory"),
    pytest.param(link_to_itself, "I/O error: Too many levels of symbolic links (os error 40)",
                 id="link-loop"),
    pytest.param(write("spool_limit: 1g\n" + "#" * MIB), "I/O error: File too large (os error 27)",
                 id="over-1-mib"),
    pytest.param(write(NESTED), "YAML error: nesting deeper than 64 levels at line 1 column 77",
                 id="nested-brackets"),
    pytest.param(write("spool_limit: 1g\n"), None, id="sound"),
    pytest.param(write("spool_limit: 1g\noffline: yes\n"), None, id="faulty-content"),
    pytest.param(None, None, id="missing"),
]


@pytest.mark.parametrize("make_profile, refusal", CASES)
def test_a_refused_profile_is_reported_and_the_frame_taken(make_profile, refusal, daemon,
                                                           tmp_path):
    profiles = tmp_path / "home" / ".quillspan" / "data_daemon" / "profiles"
    profiles.mkdir(parents=True)
    path = profiles / "lab.yaml"
    if make_profile is not None:
        make_profile(path)
    under_asan = "libasan" in os.environ.get("LD_PRELOAD", "")
    env = daemon.child_env(HOME=tmp_path / "home", QUILLSPAN_DAEMON_PROFILE="lab")
    env.pop("QSM_SPOOL_LIMIT", None)
    done = subprocess.run(
        [sys.executable, "-c", ONE_FRAME, PACKAGE_ROOT, str(0 if under_asan else ADDRESS_SPACE)],
        cwd=daemon.sandbox.path, env=env, capture_output=True, text=True,
        timeout=PRODUCER_TIMEOUT_S)
    assert (done.returncode, done.stdout) == (0, "returned\n"), done.stderr

    reported = [line for line in done.stderr.splitlines() if line.startswith(("WARN", "ERROR"))]
    expected = [] if refusal is None else [
        "WARN data_daemon_bridge::writer: profile refused; using the default spool limit "
        f'error="{refusal}" path="{path}"']
    assert reported == expected


def test_a_fifo_named_as_the_profile_is_refused_without_being_opened(daemon, tmp_path):
    # The open of a special file does whatever that file's open does; inotify sees every open.
    import ctypes
    libc = ctypes.CDLL(None, use_errno=True)
    in_open, in_nonblock = 0x20, os.O_NONBLOCK
    profiles = tmp_path / "home" / ".quillspan" / "data_daemon" / "profiles"
    profiles.mkdir(parents=True)
    fifo = profiles / "fifo.yaml"
    os.mkfifo(fifo)
    os.symlink(fifo.name, profiles / "lab.yaml")
    watch = libc.inotify_init1(in_nonblock)
    assert watch >= 0, os.strerror(ctypes.get_errno())
    try:
        assert libc.inotify_add_watch(watch, bytes(fifo), in_open) >= 0
        env = daemon.child_env(HOME=tmp_path / "home", QUILLSPAN_DAEMON_PROFILE="lab")
        env.pop("QSM_SPOOL_LIMIT", None)
        done = subprocess.run([sys.executable, "-c", ONE_FRAME, PACKAGE_ROOT, "0"],
                              cwd=daemon.sandbox.path, env=env, capture_output=True, text=True,
                              timeout=PRODUCER_TIMEOUT_S)
        assert (done.returncode, done.stdout) == (0, "returned\n"), done.stderr
        assert "profile refused" in done.stderr, done.stderr
        with pytest.raises(BlockingIOError):
            os.read(watch, 4096)  # no event: nothing opened the FIFO
    finally:
        os.close(watch)
