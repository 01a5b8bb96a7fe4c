"""The development daemon (dev_daemon --help) in a process of its own, for the tests, the
benchmarks and the main job.

The daemon runs in an IPC sandbox (tools/ipc_sandbox.py): one it is given, such as the test
session's, or a fresh one of its own, removed when the daemon stops. It prints every envelope it
receives as one JSON line to a file in the sandbox (output), its diagnostics to another
(diagnostics). DevDaemon reads that file as it grows; a program run beside the daemon
(run_python, child_env) finds it in DDB_DAEMON_OUTPUT and reads it with a DaemonOutput of its
own.

A program that owns the daemon's sandbox should not import the module itself: the module's
threads keep their IPC resources until their process ends, and the sandbox is removed with
whatever is left in it once the daemon has stopped.
"""
import collections
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

from ipc_sandbox import IpcSandbox

ROOT = pathlib.Path(__file__).resolve().parents[1]

# A bound on waits for another process, only so that a broken run fails instead of hanging.
WAIT_S = 60.0

READY_LINE = b'{"ready":true}'


def package_root(build_dir, python=sys.executable):
    """The package tree under build_dir that holds the module built for the given interpreter."""
    version = subprocess.run(
        [python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
        check=True, capture_output=True, text=True).stdout.strip()
    root = pathlib.Path(build_dir).resolve() / f"python{version}"
    if not (root / "quillspan").is_dir():
        raise RuntimeError(f"no module built for Python {version} under {root}")
    return root


class DaemonOutput:
    """Reads a daemon's output file as it grows, line by line, each line taken once; one
    reader, one thread."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self._read_at = 0
        self._partial = b""  # the start of a line not yet finished
        self._lines = collections.deque()  # finished lines not yet taken

    def _read(self):
        with open(self.path, "rb") as out:
            out.seek(self._read_at)
            data = out.read()
        self._read_at += len(data)
        lines = (self._partial + data).split(b"\n")
        self._partial = lines.pop()
        self._lines.extend(lines)

    def new_lines(self):
        """The lines not yet taken, as bytes, without their newlines."""
        self._read()
        lines = list(self._lines)
        self._lines.clear()
        return lines

    def wait_for_line(self, predicate, what, timeout=WAIT_S, alive=lambda: None):
        """Takes lines until one satisfies predicate (given the raw line) and returns them, that
        one included; the lines after it stay for the next call. Fails after timeout, or once
        alive() gives a reason and every line written before is taken."""
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            self._read()
            while self._lines:
                line = self._lines.popleft()
                seen.append(line)
                if predicate(line):
                    return seen
            reason = alive()
            if reason is not None:
                self._read()
                if self._lines:
                    continue  # what the writer wrote before it ended
                raise RuntimeError(f"{reason} (while waiting for {what})")
            if time.monotonic() > deadline:
                raise RuntimeError(f"timed out waiting for {what}")
            time.sleep(0.002)


class DevDaemon:
    """The development daemon, started with the given options in sandbox (an IpcSandbox), or
    in a fresh sandbox of its own without one; it listens once this returns. stop() ends it and
    removes a sandbox of its own."""

    def __init__(self, build_dir, *options, sandbox=None):
        self.build_dir = pathlib.Path(build_dir).resolve()
        self._own_sandbox = sandbox is None
        self.sandbox = IpcSandbox.create() if sandbox is None else sandbox
        self.process = None
        try:
            descriptor, output = tempfile.mkstemp(
                prefix="daemon-", suffix=".jsonl", dir=self.sandbox.path)
            os.close(descriptor)
            self.output = pathlib.Path(output)
            self.diagnostics = self.output.with_suffix(".stderr")
            self._reader = DaemonOutput(self.output)
            with open(self.output, "wb") as out, open(self.diagnostics, "wb") as err:
                self.process = subprocess.Popen(
                    [str(self.build_dir / "tools" / "dev_daemon"), "--announce-ready", *options],
                    stdout=out, stderr=err, cwd=self.sandbox.path)
            self.wait_for_line(lambda line: line == READY_LINE, "the daemon's ready line")
        except BaseException:
            self.stop()
            raise

    def _alive(self):
        if self.process.poll() is not None:
            return (f"dev_daemon exited with {self.process.returncode}: "
                    f"{self.diagnostics.read_text(errors='replace')}")
        return None

    def wait_for_line(self, predicate, what, timeout=WAIT_S):
        """Takes the daemon's output lines (raw) until one satisfies predicate; returns them,
        that one included (DaemonOutput.wait_for_line)."""
        return self._reader.wait_for_line(predicate, what, timeout, alive=self._alive)

    def next_envelope(self, timeout=WAIT_S):
        """The next envelope received, decoded (an envelope that did not decode shows as
        {"error": ..., "bytes": ...}); fails when none arrives within timeout."""
        [line] = self.wait_for_line(lambda line: True, "an envelope", timeout)
        return json.loads(line)

    def envelopes(self, count, timeout=WAIT_S):
        """The next count envelopes, in the order received."""
        deadline = time.monotonic() + timeout
        return [self.next_envelope(max(0.0, deadline - time.monotonic())) for _ in range(count)]

    def assert_quiet(self, timeout=0.3):
        """Nothing more arrived (within a short grace period for stragglers)."""
        try:
            extra = self.next_envelope(timeout)
        except RuntimeError:
            return
        raise AssertionError(f"unexpected envelope {extra!r}")

    def all_envelopes(self):
        """Every envelope the daemon printed so far, taken or not, in the order received."""
        return read_envelopes(self.output)

    @property
    def recordings_root(self):
        """The recordings root of the programs run beside the daemon (child_env)."""
        root = self.sandbox.path / "recordings"
        root.mkdir(exist_ok=True)
        return root

    def child_env(self, **extra):
        """Environment of a program that imports the module beside the daemon: it finds the
        module built for this interpreter, the tools' and benchmarks' helpers, the daemon's
        output file (DDB_DAEMON_OUTPUT) and recordings_root; extra adds variables."""
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(
            [str(package_root(self.build_dir)), str(ROOT / "tools"), str(ROOT / "bench")] +
            ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
        env["QUILLSPAN_DAEMON_RECORDINGS_ROOT"] = str(self.recordings_root)
        env["DDB_DAEMON_OUTPUT"] = str(self.output)
        env.update({key: str(value) for key, value in extra.items()})
        return env

    def run_python(self, script, *args, **extra_env):
        """Runs a Python program in the daemon's sandbox with child_env(); its stdout is
        returned, its stderr passes through. A non-zero exit raises CalledProcessError."""
        return subprocess.run(
            [sys.executable, str(pathlib.Path(script).resolve()), *map(str, args)],
            cwd=self.sandbox.path, env=self.child_env(**extra_env), check=True,
            stdout=subprocess.PIPE, text=True).stdout

    def stop(self):
        """Ends the daemon (it may be dead already) and removes a sandbox of its own."""
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self._own_sandbox:
            self.sandbox.remove()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def is_variant(line, variant):
    """Whether a raw output line is an envelope of the given variant (its name comes first)."""
    return line.startswith(b'{"variant":"' + variant.encode() + b'"')


def read_envelopes(path):
    """Every envelope in a daemon output file, decoded, in the order received (one that did not
    decode shows as {"error": ..., "bytes": ...})."""
    with open(path, "rb") as out:
        lines = out.read().split(b"\n")
    return [json.loads(line) for line in lines[:-1] if line != READY_LINE]
