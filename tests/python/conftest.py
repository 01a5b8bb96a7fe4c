"""Fixtures shared by the module's end-to-end tests.

The module under test is the one built for the running interpreter: DDB_BUILD_DIR (default:
the repository's build/) holds one package tree per interpreter, python<X.Y>/, which goes on
sys.path here, before any test imports quillspan.data_daemon._data_bridge.
"""
import json
import os
import pathlib
import queue
import subprocess
import sys
import tempfile
import threading
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("DDB_BUILD_DIR", ROOT / "build")).resolve()
PACKAGE_ROOT = BUILD_DIR / f"python{sys.version_info[0]}.{sys.version_info[1]}"

if not (PACKAGE_ROOT / "quillspan").is_dir():
    raise RuntimeError(f"no module built for this interpreter under {PACKAGE_ROOT}")
sys.path.insert(0, str(PACKAGE_ROOT))


# Bounds on waits for another process, only so that a broken run fails instead of hanging.
WAIT_S = 30.0


@pytest.fixture(scope="session", autouse=True)
def private_ipc_namespace():
    """Runs the session in a directory of its own whose IPC configuration keeps the library's
    service and node files in that directory and gives its shared memory a prefix of this
    session alone, so that test runs on one machine never meet each other or a daemon. The IPC
    library reads config/iceoryx2.toml from the working directory of each process, once, before
    its first node: the module in this process and every daemon started from here.

    scripts/pytest.sh makes the directory (DDB_IPC_SANDBOX) and removes it, with the shared
    memory under its prefix, after the interpreter has exited: the ports of threads that never
    end are released only then. A session started by hand makes its own and leaves it behind."""
    sandbox = os.environ.get("DDB_IPC_SANDBOX") or tempfile.mkdtemp(prefix="ddb-pytest-")
    sandbox = pathlib.Path(sandbox).resolve()
    prefix = "ddbpy" + sandbox.name.rsplit("-", 1)[-1].replace(".", "") + "_"
    (sandbox / "config").mkdir(exist_ok=True)
    (sandbox / "config" / "iceoryx2.toml").write_text(
        f'[global]\nroot-path = "{sandbox}/iceoryx2/"\nprefix = "{prefix}"\n')
    previous = os.getcwd()
    os.chdir(sandbox)
    try:
        yield sandbox
    finally:
        os.chdir(previous)


@pytest.fixture(scope="session", autouse=True)
def recordings_root(tmp_path_factory):
    """The recordings root of the session: the module resolves it once per process, on the first
    frame it accepts, so it is set before any test runs. Chunk files land under its .rgb_spool."""
    root = tmp_path_factory.mktemp("recordings")
    os.environ["QUILLSPAN_DAEMON_RECORDINGS_ROOT"] = str(root)
    return root


class DevDaemon:
    """The development daemon in its own process: it prints every envelope it receives as one
    JSON line, and answers the queries with the values given by its options."""

    def __init__(self, *options):
        binary = BUILD_DIR / "tools" / "dev_daemon"
        self.lines = queue.Queue()
        self.process = subprocess.Popen(
            [str(binary), "--announce-ready", *options], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        first = self._next_line(WAIT_S)
        if first != {"ready": True}:
            self.stop()
            raise RuntimeError(f"dev_daemon did not start: {first!r}, {self.process.stderr.read()}")

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))
        self.lines.put(None)  # end of output

    def _next_line(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def next_envelope(self, timeout=WAIT_S):
        """The next envelope received; fails the test when none arrives within timeout."""
        envelope = self._next_line(timeout)
        assert envelope is not None, "no envelope reached the daemon"
        return envelope

    def envelopes(self, count, timeout=WAIT_S):
        """The next count envelopes, in the order received."""
        deadline = time.monotonic() + timeout
        return [self.next_envelope(max(0.0, deadline - time.monotonic())) for _ in range(count)]

    def assert_quiet(self, timeout=0.3):
        """Nothing more arrived (within a short grace period for stragglers)."""
        extra = self._next_line(timeout)
        assert extra is None, f"unexpected envelope {extra!r}"

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


@pytest.fixture
def start_daemon():
    """Starts development daemons with the given options; each is stopped when the test ends."""
    daemons = []

    def start(*options):
        daemon = DevDaemon(*options)
        daemons.append(daemon)
        return daemon

    yield start
    for daemon in daemons:
        daemon.stop()


@pytest.fixture
def daemon(start_daemon):
    """A development daemon with its default answers."""
    return start_daemon()
