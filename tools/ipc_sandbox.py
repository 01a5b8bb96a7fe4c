"""Private IPC namespaces (sandboxes) for the tests, the benchmarks and the main job, so that
runs on one machine never meet each other, nor a daemon running there, on the daemon's fixed
service names.

A sandbox is a fresh directory, /tmp/ddb-ipc-<token>, holding config/iceoryx2.toml. The IPC
library reads that file from the working directory of each process, once, before its first
node: every process started in the directory (the module's host, a development daemon) is in
the sandbox. The file gives the library the directory's iceoryx2/ as the root of its service
and node files, and "ddb<token>_" as the prefix of its shared-memory objects, which outlive
the directory in /dev/shm. The C++ tests make theirs by the same rule in the same place
(data_daemon_bridge/tests/support/ipc_sandbox.h): a token is six letters or digits, and two
sandboxes that exist at the same time never share one.

    python3 tools/ipc_sandbox.py COMMAND [ARG...]

runs COMMAND in the environment with DDB_IPC_SANDBOX naming a fresh sandbox (it does not change
into it: tests/python/conftest.py does), then removes the sandbox, shared memory included, and
exits with COMMAND's status. Removing it only once COMMAND has exited matters: the module's
threads keep their ports, and so their shared memory, until their process ends.
"""
import os
import pathlib
import secrets
import shutil
import signal
import subprocess
import sys

PARENT = pathlib.Path("/tmp")
NAME_PREFIX = "ddb-ipc-"


class IpcSandbox:
    """A sandbox: its directory (path), the prefix of its shared memory, the root of its
    service and node files."""

    def __init__(self, path):
        """The sandbox at path, made by create() here or in another process."""
        self.path = pathlib.Path(path)
        token = self.path.name[len(NAME_PREFIX):]
        if not self.path.name.startswith(NAME_PREFIX) or len(token) != 6:
            raise ValueError(f"{path} is no IPC sandbox")
        self.prefix = f"ddb{token}_"
        self.root_path = self.path / "iceoryx2"

    @classmethod
    def create(cls):
        while True:
            path = PARENT / (NAME_PREFIX + secrets.token_hex(3))
            try:
                path.mkdir(mode=0o700)
                break
            except FileExistsError:
                continue
        sandbox = cls(path)
        (path / "config").mkdir()
        (path / "config" / "iceoryx2.toml").write_text(
            f'[global]\nroot-path = "{sandbox.root_path}/"\nprefix = "{sandbox.prefix}"\n')
        return sandbox

    def shared_memory(self):
        """The shared-memory objects of the sandbox (none where shared memory is no file)."""
        shm = pathlib.Path("/dev/shm")
        return sorted(shm.glob(self.prefix + "*")) if shm.is_dir() else []

    def remove(self):
        """Removes the sandbox with whatever its processes left in it. Call it once they have
        all exited."""
        for path in self.shared_memory():
            path.unlink(missing_ok=True)
        shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.remove()


def run_in_sandbox(command):
    """COMMAND's exit status, run with DDB_IPC_SANDBOX naming a fresh sandbox, which is removed
    once COMMAND has exited."""
    sandbox = IpcSandbox.create()
    try:
        child = subprocess.Popen(command, env={**os.environ, "DDB_IPC_SANDBOX": str(sandbox.path)})

        # A Ctrl-C reaches the child as well (one process group); a termination request is
        # passed on. Either way the sandbox goes only after the child has exited.
        def pass_on(signum, _frame):
            child.send_signal(signum)

        signal.signal(signal.SIGTERM, pass_on)
        signal.signal(signal.SIGHUP, pass_on)
        while True:
            try:
                status = child.wait()
                break
            except KeyboardInterrupt:
                continue
    finally:
        sandbox.remove()
    return 128 - status if status < 0 else status


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(run_in_sandbox(sys.argv[1:]))
