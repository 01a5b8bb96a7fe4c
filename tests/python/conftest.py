"""Fixtures shared by the module's end-to-end tests.

The module under test is the one built for the running interpreter: DDB_BUILD_DIR (default:
the repository's build/) holds one package tree per interpreter, python<X.Y>/, which goes on
sys.path here, before any test imports quillspan.data_daemon._data_bridge.
"""
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))

from ipc_sandbox import IpcSandbox  # noqa: E402
from local_daemon import DevDaemon  # noqa: E402

BUILD_DIR = pathlib.Path(os.environ.get("DDB_BUILD_DIR", ROOT / "build")).resolve()
PACKAGE_ROOT = BUILD_DIR / f"python{sys.version_info[0]}.{sys.version_info[1]}"

if not (PACKAGE_ROOT / "quillspan").is_dir():
    raise RuntimeError(f"no module built for this interpreter under {PACKAGE_ROOT}")
sys.path.insert(0, str(PACKAGE_ROOT))


# Bounds on waits for another process, only so that a broken run fails instead of hanging.
WAIT_S = 30.0


def unknown_uid():
    """A user id the password database does not know: a process that takes it on (as root) has
    no home directory."""
    import pwd
    known = {p.pw_uid for p in pwd.getpwall()}
    return next(u for u in range(4242, 65000) if u not in known)


@pytest.fixture(scope="session", autouse=True)
def private_ipc_namespace():
    """Runs the session in an IPC sandbox (tools/ipc_sandbox.py): the module in this process
    and every process started from here, daemons included, are alone in it.

    tools/ipc_sandbox.py, which scripts/pytest.sh runs pytest under, makes the sandbox
    (DDB_IPC_SANDBOX) and removes it after the interpreter has exited: the ports of threads that
    never end are released only then. A session started by hand makes its own and leaves it
    behind."""
    given = os.environ.get("DDB_IPC_SANDBOX")
    sandbox = IpcSandbox(given) if given else IpcSandbox.create()
    previous = os.getcwd()
    os.chdir(sandbox.path)
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


@pytest.fixture
def start_daemon(private_ipc_namespace):
    """Starts development daemons (tools/local_daemon.py) in the session's sandbox with the
    given options; each is stopped when the test ends."""
    daemons = []

    def start(*options):
        daemon = DevDaemon(BUILD_DIR, *options, sandbox=private_ipc_namespace)
        daemons.append(daemon)
        return daemon

    yield start
    for daemon in daemons:
        daemon.stop()


@pytest.fixture
def daemon(start_daemon):
    """A development daemon with its default answers."""
    return start_daemon()
