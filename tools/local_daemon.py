"""A development daemon in a private sandbox, for programs that drive the module from child
processes (the main job, the benchmarks).

The sandbox is a temporary working directory holding:
  config/iceoryx2.toml   gives every IPC resource of this sandbox a prefix of its own, so that
                         runs on one machine never meet; the IPC library reads it from the
                         working directory of each process, which is why the daemon and every
                         child run in this directory
  recordings/            the recordings root (QUILLSPAN_DAEMON_RECORDINGS_ROOT) of the children
  daemon.jsonl           the daemon's output: one JSON line per envelope received
  daemon.stderr          the daemon's diagnostics

The orchestrating program never imports the module itself: it only starts processes, reads
the daemon's output and the spool, and cleans up, so that the IPC resources that the module's
threads keep until their process ends are all released before the sandbox is removed.
"""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]

# A bound on waits for another process, only so that a broken run fails instead of hanging.
WAIT_S = 60.0


def package_root(build_dir, python=sys.executable):
    """The package tree under build_dir that holds the module built for the given interpreter."""
    version = subprocess.run(
        [python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
        check=True, capture_output=True, text=True).stdout.strip()
    root = pathlib.Path(build_dir).resolve() / f"python{version}"
    if not (root / "quillspan").is_dir():
        raise RuntimeError(f"no module built for Python {version} under {root}")
    return root


class LocalDaemon:
    """Starts the development daemon, with the given options (dev_daemon --help), in a fresh
    sandbox; close() stops it and removes the sandbox with whatever IPC resources its processes
    left behind."""

    def __init__(self, build_dir, *options, python=sys.executable):
        self.build_dir = pathlib.Path(build_dir).resolve()
        self.python = python
        self.package_root = package_root(self.build_dir, python)
        self.workdir = pathlib.Path(tempfile.mkdtemp(prefix="ddb-local-"))
        self.prefix = f"ddbloc{os.getpid()}_{self.workdir.name[-6:]}_"
        (self.workdir / "config").mkdir()
        (self.workdir / "config" / "iceoryx2.toml").write_text(
            f'[global]\nprefix = "{self.prefix}"\n')
        self.recordings_root = self.workdir / "recordings"
        self.recordings_root.mkdir()
        self.output = self.workdir / "daemon.jsonl"
        self.reader = DaemonOutput(self.output)
        self.diagnostics = self.workdir / "daemon.stderr"
        with open(self.output, "wb") as out, open(self.diagnostics, "wb") as err:
            self.process = subprocess.Popen(
                [str(self.build_dir / "tools" / "dev_daemon"), "--announce-ready", *options],
                stdout=out, stderr=err, cwd=self.workdir)
        try:
            self.wait_for_line(lambda line: line == b'{"ready":true}', "the daemon's ready line")
        except BaseException:
            self.close()
            raise

    def child_env(self, **extra):
        """Environment of a child that imports the module: it finds the module, and its
        recordings root is the sandbox's."""
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(
            [str(self.package_root), str(ROOT / "tools"), str(ROOT / "bench")] +
            ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
        env["QUILLSPAN_DAEMON_RECORDINGS_ROOT"] = str(self.recordings_root)
        env["DDB_DAEMON_OUTPUT"] = str(self.output)
        env.update({key: str(value) for key, value in extra.items()})
        return env

    def run_python(self, script, *args, **extra_env):
        """Runs a Python program in the sandbox; its stdout is returned, its stderr passes
        through. A non-zero exit raises CalledProcessError."""
        return subprocess.run(
            [self.python, str(pathlib.Path(script).resolve()), *map(str, args)], cwd=self.workdir,
            env=self.child_env(**extra_env), check=True, stdout=subprocess.PIPE,
            text=True).stdout

    def wait_for_line(self, predicate, what, timeout=WAIT_S):
        return self.reader.wait_for_line(predicate, what, timeout, alive=self._alive)

    def _alive(self):
        if self.process.poll() is not None:
            return (f"dev_daemon exited with {self.process.returncode}: "
                    f"{self.diagnostics.read_text(errors='replace')}")
        return None

    def envelopes(self):
        """Every envelope the daemon printed so far, decoded, in the order received."""
        return read_envelopes(self.output)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        remove_ipc_resources(self.prefix)
        shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def remove_ipc_resources(prefix):
    """Removes the shared-memory segments and IPC bookkeeping files carrying prefix."""
    for path in pathlib.Path("/dev/shm").glob(prefix + "*"):
        path.unlink(missing_ok=True)
    state = pathlib.Path("/tmp/iceoryx2")
    if state.is_dir():
        for path in sorted(state.rglob(prefix + "*"), reverse=True):
            if path.is_dir():
                shutil.rmtree(path, ignore_errors=True)
            else:
                path.unlink(missing_ok=True)


class DaemonOutput:
    """Reads the daemon's output file as it grows; one reader, one thread."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self._read_at = 0
        self._pending = b""

    def new_lines(self):
        """The lines written since the previous call, as bytes, without their newlines."""
        with open(self.path, "rb") as out:
            out.seek(self._read_at)
            data = out.read()
        self._read_at += len(data)
        lines = (self._pending + data).split(b"\n")
        self._pending = lines.pop()  # a line not yet finished
        return lines

    def wait_for_line(self, predicate, what, timeout=WAIT_S, alive=lambda: None):
        """Reads on until a line satisfies predicate (given the raw line); returns the lines
        read, that one included. Fails after timeout, or once alive() returns a reason."""
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            for line in self.new_lines():
                seen.append(line)
                if predicate(line):
                    return seen
            reason = alive()
            if reason is not None:
                raise RuntimeError(f"{reason} (while waiting for {what})")
            if time.monotonic() > deadline:
                raise RuntimeError(f"timed out waiting for {what}")
            time.sleep(0.002)


def is_variant(line, variant):
    """Whether a raw output line is an envelope of the given variant (its name comes first)."""
    return line.startswith(b'{"variant":"' + variant.encode() + b'"')


def read_envelopes(path):
    """Every envelope in a daemon output file, decoded, in the order received (one that did not
    decode shows as {"error": ..., "bytes": ...})."""
    with open(path, "rb") as out:
        lines = out.read().split(b"\n")
    return [json.loads(line) for line in lines[:-1] if line != b'{"ready":true}']
