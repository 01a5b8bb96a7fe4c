"""Faults the module's users meet, each with the development daemon in another process, a
producer in a process of its own (so that the module's process-wide threads and settings start
fresh) and real chunk files decoded by ffmpeg: the daemon killed or stalled, the spool's file
system full, more threads than the services take, forks while other threads log, a producer
killed in the middle of a publish, and no daemon at all, with threads and processes that come
and go."""
import errno
import json
import os
import pathlib
import queue
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

from conftest import BUILD_DIR, WAIT_S
from ipc_sandbox import IpcSandbox
from local_daemon import DevDaemon
from test_video import chunk_path, decode

PACKAGE_ROOT = next(p for p in sys.path
                    if p.endswith(f"python{sys.version_info[0]}.{sys.version_info[1]}"))

# Imports the module and reads commands from stdin; every answer is one JSON line on stdout.
PRODUCER_PRELUDE = textwrap.dedent("""
    import json, os, sys, threading, time
    sys.path.insert(0, sys.argv[1])
    import numpy as np
    from quillspan.data_daemon import _data_bridge as bridge

    def say(**fields):
        sys.stdout.write(json.dumps(fields) + "\\n")
        sys.stdout.flush()

    def frame(seed, width=16, height=12):
        return np.random.default_rng(seed).integers(0, 256, (height, width, 3), np.uint8)
""")


class Producer:
    """A Python process running PRODUCER_PRELUDE and then script, with args after the package
    root in sys.argv; the test talks to it line by line. It is in the IPC sandbox of its working
    directory: the session's, or cwd's."""

    def __init__(self, script, env=None, args=(), cwd=None):
        self.process = subprocess.Popen(
            [sys.executable, "-c", PRODUCER_PRELUDE + textwrap.dedent(script), PACKAGE_ROOT,
             *map(str, args)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            env=env, cwd=cwd)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))
        self.lines.put(None)

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def maybe_read(self, timeout):
        """The producer's next line, or None when none comes within timeout."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def read(self, timeout=WAIT_S):
        """The producer's next line; fails the test when none comes within timeout."""
        line = self.maybe_read(timeout)
        if line is None:
            self.process.kill()
            pytest.fail("producer silent or gone: " + self.process.stderr.read())
        return line

    def finish(self, timeout=WAIT_S):
        """Closes stdin and waits for the exit; returns stderr."""
        self.process.stdin.close()
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            pytest.fail("producer hung: " + self.process.stderr.read())
        return self.process.stderr.read()


@pytest.fixture
def producers():
    started = []

    def start(script, **kwargs):
        producer = Producer(script, **kwargs)
        started.append(producer)
        return producer

    yield start
    for producer in started:
        if producer.process.poll() is None:
            producer.process.kill()
            producer.process.wait()


def frame(seed, width=16, height=12):
    """The producers' frames (PRODUCER_PRELUDE), to compare decoded chunks with."""
    return np.random.default_rng(seed).integers(0, 256, (height, width, 3), np.uint8)


def stream_dir(root, robot, name="cam", data_type="RGB_IMAGES"):
    return pathlib.Path(root) / ".rgb_spool" / robot / "0" / data_type / name


def decoded_whole(root, chunk):
    """The frames of an announced chunk as ffmpeg decodes them, after checking that the file
    has the size announced and holds as many frames as announced."""
    path = chunk_path(root, chunk)
    assert path.stat().st_size == chunk["bytes_written"]
    decoded = decode(path)
    assert len(decoded) == chunk["frame_count"] * 16 * 12 * 3
    return decoded


def announced_chunks(envelopes, robot):
    return [e for e in envelopes
            if e.get("variant") == "VideoChunkReady" and e["robot_id"] == robot]


def drain(daemon, until, timeout=WAIT_S):
    """Envelopes received until one satisfies until (included)."""
    received = []
    deadline = time.monotonic() + timeout
    while True:
        envelope = daemon.next_envelope(max(0.0, deadline - time.monotonic()))
        received.append(envelope)
        if until(envelope):
            return received


def joint_values(envelopes, robot):
    return [int(json.loads(bytes.fromhex(s["payload"]))["value"])
            for e in envelopes if e.get("variant") == "BatchedData" and e["robot_id"] == robot
            for s in e["samples"]]


# --- 1. The daemon is killed while samples and frames flow, then started again.

FLOWING = """
    robot = "killed"
    logged = 0            # samples and frames logged so far, one of each per step
    stop = threading.Event()

    def flow():
        global logged
        while not stop.is_set():
            bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(logged)], time.time_ns())
            bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(logged),
                             time.time_ns())
            logged += 1
            time.sleep(0.005)

    flowing = threading.Thread(target=flow)
    flowing.start()
    for command in sys.stdin:
        command = command.strip()
        if command == "count":
            say(logged=logged)
        elif command == "start":
            say(start=bridge.start_recording(robot, 0))
        elif command == "end":
            stop.set()
            flowing.join()
            bridge.stop_recording(robot, 0)
            bridge.flush_source(robot, 0)
            say(logged=logged)
"""


def wait_for_more(producer, than, timeout=WAIT_S):
    """Asks the producer how many steps it logged until it logged more than `than`."""
    deadline = time.monotonic() + timeout
    while True:
        producer.send("count")
        logged = producer.read()["logged"]
        if logged > than or time.monotonic() > deadline:
            return logged
        time.sleep(0.05)


def test_daemon_killed_and_restarted_while_data_flows(start_daemon, producers, recordings_root):
    robot = "killed"
    first = start_daemon()
    producer = producers(FLOWING)
    producer.send("start")
    producer.read()
    before_kill = drain(first, lambda e: len(joint_values([e], robot)) > 0)
    first.process.send_signal(signal.SIGKILL)
    first.process.wait()
    at_kill = wait_for_more(producer, 0)
    # With nobody listening the producer goes on (its calls only queue), long enough to fill the
    # dead daemon's buffer: the data publisher must not wait on it for ever.
    assert wait_for_more(producer, at_kill + 150) > at_kill + 150

    second = start_daemon()
    after_restart = wait_for_more(producer, 0)
    # Samples logged after the restart reach the new daemon, in the order logged.
    received = drain(second, lambda e: any(v >= after_restart for v in joint_values([e], robot)))
    producer.send("start")  # the producer's own command publisher reaches it too
    start = producer.read()["start"]
    producer.send("end")
    logged = producer.read(timeout=WAIT_S * 2)["logged"]
    # The stop comes on the producer's own publisher, the rest on its data publisher's: the
    # daemon reads the two in no fixed order.
    ends = set()
    received += drain(second, lambda e: ends.add(e.get("variant")) or
                      {"StopRecording", "SourceFlushed"} <= ends, timeout=WAIT_S * 2)
    assert "Traceback" not in producer.finish()

    starts = [e for e in received if e.get("variant") == "StartRecording"]
    assert [e["timestamp_ns"] for e in starts] == [start]
    # Samples queued while nobody listened may be lost (each after its subscriber wait); none
    # logged once the new daemon listened is, and the order holds throughout.
    values = joint_values(received, robot)
    assert values == sorted(set(values))
    assert set(range(after_restart, logged)) <= set(values)

    # Every chunk file is whole: the ones announced, the ones sealed while no daemon listened
    # (their announcement may have been dropped) and the flushed tail. Together they hold every
    # frame logged, in order.
    files = sorted(stream_dir(recordings_root, robot).iterdir())  # by start time
    assert b"".join(decode(f) for f in files) == b"".join(frame(k).tobytes() for k in range(logged))
    for chunk in announced_chunks(before_kill + received, robot):
        decoded_whole(recordings_root, chunk)


# --- 3. The daemon stops reading (alive, but stopped).

STALLED = """
    robot = "stalled"
    for command in sys.stdin:
        word, *args = command.split()
        if word == "start":
            say(start=bridge.start_recording(robot, 0))
        elif word == "samples":
            for k in range(int(args[0])):
                bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
                bridge.log_json(robot, 0, "CUSTOM", "note", json.dumps(k).encode(), k)
            say(samples=int(args[0]))
        elif word == "frames":  # until one is refused, or passes when args[0] == "pass"
            for k in range(200):
                started = time.monotonic()
                try:
                    bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(k),
                                     time.time_ns())
                    if args[0] == "pass":
                        break
                except bridge.LoggingStalledError as e:
                    say(stalled=str(e), waited=time.monotonic() - started)
                    break
                time.sleep(0.05)
            else:
                say(stalled=None)
            if args[0] == "pass":
                say(passed=True)
        elif word == "stop":
            threading.Thread(target=lambda: (bridge.stop_recording(robot, 0),
                                             say(stopped=True))).start()
        elif word == "flush":
            bridge.flush_source(robot, 0)
            say(flushed=True)
"""

STALL_TEXT = ("video logging stalled: the data daemon is not draining the spool backlog (frame "
              "rejected after 1s of backpressure)")


def test_daemon_that_stops_reading(start_daemon, producers, tmp_path):
    robot = "stalled"
    daemon = start_daemon()
    producer = producers(STALLED, env=dict(os.environ, QSM_SPOOL_LIMIT="1",
                                            QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path)))
    producer.send("start")
    producer.read()
    producer.send("frames pass")  # the writer runs and has measured the spool once
    producer.read()
    os.kill(daemon.process.pid, signal.SIGSTOP)
    try:
        # Far more samples than the daemon's buffer holds: the calls only queue.
        producer.send("samples 500")
        assert producer.read() == {"samples": 500}

        # The daemon does not take the chunks off the spool either: once the backlog is over the
        # spool budget (512 MiB, the least one; a sparse file stands for it), a frame is refused
        # after the second it may wait.
        backlog = tmp_path / ".rgb_spool" / "backlog"
        backlog.parent.mkdir(exist_ok=True)
        with open(backlog, "wb") as f:
            f.truncate(600 * 1024 * 1024)
        producer.send("frames stall")
        refused = producer.read()
        assert refused["stalled"] == STALL_TEXT
        assert refused["waited"] >= 1.0

        # The stop waits until every sample queued before it is on the wire, which cannot be
        # while the daemon reads nothing.
        producer.send("stop")
        assert producer.maybe_read(2.0) is None
    finally:
        os.kill(daemon.process.pid, signal.SIGCONT)
    assert producer.read() == {"stopped": True}
    backlog.unlink()
    producer.send("frames pass")
    assert producer.read() == {"passed": True}
    producer.send("flush")
    assert producer.read() == {"flushed": True}
    assert "Traceback" not in producer.finish()

    seen = set()
    received = drain(daemon, lambda e: seen.add(e.get("variant")) or
                     {"StopRecording", "SourceFlushed"} <= seen)
    assert joint_values(received, robot) == list(range(500))
    notes = [e for e in received if e.get("variant") == "Data"]
    assert [int(bytes.fromhex(e["payload"])) for e in notes] == list(range(500))
    [stop] = [e for e in received if e.get("variant") == "StopRecording"]
    assert stop["publish_timestamp_ns"] > max(e["publish_timestamp_ns"] for e in notes)
    for chunk in announced_chunks(received, robot):
        decoded_whole(tmp_path, chunk)


# --- 4. More threads than the commands service takes publishers.

MANY_THREADS = """
    THREADS, SAMPLES = 200, 20
    outcomes = [None] * THREADS
    all_tried, all_stopped = threading.Barrier(THREADS), threading.Barrier(THREADS)

    def call(f, *args):
        try:
            f(*args)
            return None
        except RuntimeError as e:
            return str(e)

    def work(i):
        robot = f"t{i}"
        start = call(bridge.start_recording, robot, 0)
        for k in range(SAMPLES):
            bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
            bridge.log_json(robot, 0, "CUSTOM", "note", json.dumps(k).encode(), k)
        all_tried.wait()  # every thread keeps its publisher until all have tried
        outcomes[i] = [start, call(bridge.stop_recording, robot, 0)]
        all_stopped.wait()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    say(outcomes=outcomes)
"""


def test_more_threads_than_publishers(daemon, producers):
    producer = producers(MANY_THREADS)
    outcomes = producer.read(timeout=WAIT_S * 4)["outcomes"]
    assert "Traceback" not in producer.finish()

    refused = [i for i, (start, stop) in enumerate(outcomes) if start is not None]
    served = [i for i, (start, stop) in enumerate(outcomes) if start is None]
    # 128 publishers a service: the data publisher thread holds one, 127 calling threads the rest.
    assert len(served) == 127
    for i in refused:
        start, stop = outcomes[i]
        assert start == stop
        assert start.startswith("failed to create publisher: ")
        assert "ExceedsMaxSupportedPublishers" in start
    assert all(stop is None for i, (start, stop) in enumerate(outcomes) if i in served)

    # Samples travel on the data publisher thread, which every thread shares: all of them
    # arrive, each thread's in its order, whether its own publisher was refused or not.
    received = daemon.envelopes(200 * 40 + 2 * 127)
    for i in range(200):
        robot = f"t{i}"
        assert joint_values(received, robot) == list(range(20)), robot
        notes = [int(bytes.fromhex(e["payload"])) for e in received
                 if e.get("variant") == "Data" and e["robot_id"] == robot]
        assert notes == list(range(20)), robot
    commands = {(e["variant"], e["robot_id"]) for e in received
                if e["variant"] in ("StartRecording", "StopRecording")}
    assert commands == {(v, f"t{i}") for i in served for v in ("StartRecording", "StopRecording")}
    daemon.assert_quiet()


# --- 5. Forks of a process that is recording, while its other threads log.

FORKING = """
    import faulthandler, signal
    CHILDREN = 8
    stop = threading.Event()
    logged = {}  # parent thread -> frames logged

    def hammer(t):
        robot, k = f"parent{t}", 0
        while not stop.is_set():
            bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(1000 * t + k),
                             time.time_ns())
            bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
            k += 1
            logged[t] = k
            time.sleep(0.002)  # keeps the volume modest; the forks still meet calls in flight

    def child(c):
        # The forking thread alone lives on: everything of the module is made afresh here.
        robot = f"child{c}"
        for k in range(3):
            bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(5000 + 10 * c + k),
                             time.time_ns())
            bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
        bridge.flush_source(robot, 0)
        bridge.stop_recording(robot, 0)

    # numpy loads numpy.random on first use; a fork in the middle of that import would leave the
    # child waiting on the import lock of a thread it does not have: load it before any fork.
    frame(0)
    bridge.start_recording("parent0", 0)
    hammers = [threading.Thread(target=hammer, args=(t,)) for t in range(3)]
    for t in hammers:
        t.start()
    outcomes = {}
    for c in range(CHILDREN):
        time.sleep(0.02)
        pid = os.fork()
        if pid == 0:
            code = 1
            # Should the child hang, its threads' Python stacks go to stderr before the bound.
            faulthandler.dump_traceback_later(15, exit=True)
            try:
                child(c)
                code = 0
            finally:
                os._exit(code)
        # A child that hangs is killed after a bound and reported.
        deadline = time.monotonic() + 20
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                outcomes[pid] = os.waitstatus_to_exitcode(status)
                break
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                outcomes[pid] = "hung"
                break
            time.sleep(0.01)
    stop.set()
    for t in hammers:
        t.join()
    for t in range(3):
        bridge.flush_source(f"parent{t}", 0)
    say(children=outcomes, logged=logged, pid=os.getpid())
"""


# The address sanitizer's allocator (GCC 12's runtime) takes no lock around fork: a child forked
# while another thread allocates may find the allocator's lock taken for ever, whatever the
# module does. The test runs in the plain build.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's allocator is not fork-safe with threads allocating")
def test_forks_while_other_threads_log(daemon, producers, recordings_root):
    producer = producers(FORKING)
    result = producer.read(timeout=WAIT_S * 8)
    stderr = producer.finish()
    children = {int(pid): code for pid, code in result["children"].items()}
    assert list(children.values()) == [0] * 8, (children, stderr)

    ends = {}
    received = drain(daemon, lambda e: e.get("variant") == "SourceFlushed" and ends.setdefault(
        e["robot_id"], e["producer_pid"]) is not None and len(ends) == 3 + 8)
    for c, pid in enumerate(children):
        robot = f"child{c}"
        assert ends[robot] == pid
        [chunk] = announced_chunks(received, robot)
        assert chunk["producer_pid"] == pid
        assert decoded_whole(recordings_root, chunk) == b"".join(
            frame(5000 + 10 * c + k).tobytes() for k in range(3))
        assert joint_values(received, robot) == [0, 1, 2]

    # The parent's chunks hold its frames and nothing else: no byte from a child.
    for t, count in result["logged"].items():
        robot = f"parent{t}"
        chunks = announced_chunks(received, robot)
        assert {c["producer_pid"] for c in chunks} == {result["pid"]}
        files = sorted(stream_dir(recordings_root, robot).iterdir())
        assert len(files) == len(chunks)
        decoded = b""
        for chunk in sorted(chunks, key=lambda c: c["chunk_start_ns"]):
            decoded += decoded_whole(recordings_root, chunk)
        assert decoded == b"".join(frame(1000 * int(t) + k).tobytes() for k in range(count))
        assert joint_values(received, robot) == list(range(count))


# --- 2. The spool's file system fills up.

FILLING = """
    robot = "full"
    for command in sys.stdin:
        phase, count = (int(word) for word in command.split())
        for k in range(count):
            bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(100 * phase + k),
                             time.time_ns())
        bridge.flush_source(robot, 0)
        say(flushed=phase)
"""


def fill_up(directory):
    """Writes a file into directory until its file system has no byte left; returns the file."""
    filler = directory / "filler"
    with open(filler, "wb", buffering=0) as f:
        for block in (1 << 16, 1 << 12, 1):
            try:
                while True:
                    f.write(bytes(block))
            except OSError as error:
                assert error.errno == errno.ENOSPC
    return filler


@pytest.fixture
def small_file_system(tmp_path):
    """A 4 MiB tmpfs of the test's own: it is mounted for the test and taken away after."""
    mountpoint = tmp_path / "small"
    mountpoint.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(mountpoint)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a tmpfs here: " + mounted.stderr.strip())
    try:
        yield mountpoint
    finally:
        subprocess.run(["umount", "-l", str(mountpoint)], check=False)


def test_spool_file_system_fills_up(daemon, producers, small_file_system):
    robot = "full"
    producer = producers(FILLING, env=dict(
        os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(small_file_system)))
    phases = {}
    for phase, fill in ((1, False), (2, True), (3, False)):
        filler = fill_up(small_file_system) if fill else None
        producer.send(f"{phase} 20")
        assert producer.read() == {"flushed": phase}
        phases[phase] = announced_chunks(
            drain(daemon, lambda e: e.get("variant") == "SourceFlushed"), robot)
        if filler:
            filler.unlink()
    assert "Traceback" not in producer.finish()

    # With no byte left the chunk cannot be finished: it is dropped, never announced. Before and
    # after, every frame is written and announced, and each announced chunk is whole.
    assert phases[2] == []
    for phase in (1, 3):
        [chunk] = phases[phase]
        assert decoded_whole(small_file_system, chunk) == b"".join(
            frame(100 * phase + k).tobytes() for k in range(20))
    assert len(list(stream_dir(small_file_system, robot).iterdir())) == 3


# --- A producer killed in the middle of a publish.

PUBLISHING = """
    robot = sys.argv[2]
    bridge.start_recording(robot, 0)
    say(started=True)
    count = int(sys.argv[3])
    for k in range(count):
        bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
        bridge.log_json(robot, 0, "CUSTOM", "blob", bytes(64 * 1024), k)
    bridge.stop_recording(robot, 0)
    say(stopped=True)
"""


def session_nodes(sandbox):
    """The files in which the IPC library keeps its record of this session's nodes (one
    directory a node, with lock files beside it), under the session's own root path."""
    found = set()
    for directory, _, files in os.walk(sandbox.root_path / "nodes"):
        found.update(os.path.join(directory, f) for f in files if f.startswith(sandbox.prefix))
    return found


def session_shared_memory(sandbox):
    return {path.name for path in sandbox.shared_memory()}


def test_producer_killed_mid_publish(daemon, producers, private_ipc_namespace):
    sandbox = private_ipc_namespace
    baseline_nodes, baseline_memory = session_nodes(sandbox), session_shared_memory(sandbox)
    # The producer to be killed publishes as long as it lives, 64 KiB samples on two threads.
    killed = producers(PUBLISHING.replace("int(sys.argv[3])", "10**9").replace(
        "sys.argv[2]", '"killed"'))
    assert killed.read() == {"started": True}
    drain(daemon, lambda e: len(joint_values([e], "killed")) >= 1)
    killed_nodes = session_nodes(sandbox) - baseline_nodes
    killed_memory = session_shared_memory(sandbox) - baseline_memory
    killed.process.send_signal(signal.SIGKILL)
    killed.process.wait()
    assert killed_nodes and killed_memory
    # What the killed process held stays behind: its nodes' records and its shared memory.
    left_nodes = session_nodes(sandbox) & killed_nodes
    left_memory = session_shared_memory(sandbox) & killed_memory
    assert left_nodes == killed_nodes and left_memory

    # The next producer works in full: the library removes the dead process's resources when the
    # new process makes its first node.
    following = producers(PUBLISHING.replace("int(sys.argv[3])", "100").replace(
        "sys.argv[2]", '"next"'))
    assert following.read() == {"started": True}
    assert following.read() == {"stopped": True}
    assert "Traceback" not in following.finish()
    assert not session_nodes(sandbox) & killed_nodes
    assert not session_shared_memory(sandbox) & killed_memory

    seen = set()

    def everything_of_next(e):
        if e.get("robot_id") == "next":
            seen.add(e["variant"])
            seen.update(joint_values([e], "next"))
            if e["variant"] == "Data":
                seen.add(("Data", e["timestamp_ns"]))
        return {"StartRecording", "StopRecording", 99, ("Data", 99)} <= seen

    received = drain(daemon, everything_of_next)
    assert daemon.process.poll() is None
    assert not [e for e in received if "error" in e]
    assert joint_values(received, "next") == list(range(100))
    assert [e["timestamp_ns"] for e in received if e.get("variant") == "Data"
            and e["robot_id"] == "next"] == list(range(100))


# --- 6. No daemon listens, or one comes and goes.

NO_SUBSCRIBER = "failed to send sample: no data-daemon command subscriber connected within 5s"

ABSENT = """
    robot = "absent"

    def resident_bytes():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024

    def at_500_hz(seconds, log):
        k, start = 0, time.monotonic()
        while time.monotonic() - start < seconds:
            log(k)
            k += 1
            time.sleep(max(0.0, start + k / 500 - time.monotonic()))
        return k

    def timed(call):
        started = time.monotonic()
        try:
            call()
            return time.monotonic() - started, None
        except RuntimeError as e:
            return time.monotonic() - started, str(e)

    def joints_and_frames(k):
        bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
        if k % 50 == 0:
            bridge.log_frame(robot, 0, "RGB_IMAGES", "cam", 16, 12, "uint8", frame(k),
                             time.time_ns())

    for command in sys.stdin:
        word = command.strip()
        if word == "log then stop":
            logged = at_500_hz(3, joints_and_frames)
            stop_s, stop_error = timed(lambda: bridge.stop_recording(robot, 0))
            flush_s, flush_error = timed(lambda: bridge.flush_source(robot, 0))
            say(logged=logged, stop_s=stop_s, stop_error=stop_error, flush_s=flush_s,
                flush_error=flush_error)
        elif word == "log on":
            payload = bytes(4096)
            before = resident_bytes()
            at_500_hz(10, lambda k: bridge.log_json(robot, 0, "CUSTOM", "blob", payload, k))
            say(grown=resident_bytes() - before)
        elif word == "daemon up":
            start = bridge.start_recording(robot, 0)
            for k in range(20):
                bridge.log_joints(robot, 0, "JOINT_POSITIONS", "j", [float(k)], k)
            bridge.stop_recording(robot, 0)
            bridge.flush_source(robot, 0)
            say(start=start)
"""


def test_no_daemon_neither_hangs_the_producer_nor_grows_its_memory(start_daemon, producers):
    env = dict(os.environ)
    if "libasan" in env.get("LD_PRELOAD", ""):
        # Freed memory in the sanitizer's quarantine would count as resident.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0"
    producer = producers(ABSENT, env=env)
    producer.send("log then stop")
    stopped = producer.read(timeout=WAIT_S * 2)
    # Each call gives up after about one subscriber wait; the bounds only tell that from one wait
    # a queued sample, which 1,500 samples would make two hours.
    assert stopped["logged"] > 1000
    assert stopped["stop_error"] == NO_SUBSCRIBER
    assert stopped["stop_s"] < 30
    assert stopped["flush_error"] is None
    assert stopped["flush_s"] < 30

    # Logging goes on while nobody listens: what is queued is dropped as it comes. Queued, it
    # would be 20 MB of payloads.
    producer.send("log on")
    assert producer.read(timeout=WAIT_S * 2)["grown"] < 8 * 1024 * 1024

    # A daemon that starts gets what comes next.
    daemon = start_daemon()
    producer.send("daemon up")
    start = producer.read()["start"]
    seen = set()
    received = drain(daemon, lambda e: seen.add(e.get("variant")) or
                     {"StopRecording", "SourceFlushed"} <= seen)
    assert "Traceback" not in producer.finish()
    assert [e["timestamp_ns"] for e in received if e.get("variant") == "StartRecording"] == [start]
    assert joint_values(received, "absent") == list(range(20))


CHURN_THREADS = """
    count, call = int(sys.argv[2]), sys.argv[3]
    outcomes = []

    def one(i):
        try:
            if call == "ready":
                outcomes.append(bridge.wait_until_ready(0))
            else:
                outcomes.append(bridge.start_recording(f"thread{i}", 0))
        except RuntimeError as e:
            outcomes.append(str(e))

    # One after another: each thread's services go as it ends, while the next opens them.
    for i in range(count):
        thread = threading.Thread(target=one, args=(i,))
        thread.start()
        thread.join()
    say(outcomes=outcomes)
"""

CHURN_PROCESS = """
    try:
        if sys.argv[2] == "ready":
            say(outcome=bridge.wait_until_ready(0))
        else:
            say(outcome=bridge.start_recording(f"process{sys.argv[3]}", 0))
    except RuntimeError as e:
        say(outcome=str(e))
"""


def process_churn(producers, sandbox, count, call):
    """The outcomes of count processes, four at a time, each making one call and ending."""
    outcomes, running = [], []
    for i in range(count):
        running.append(producers(CHURN_PROCESS, args=(call, i), cwd=sandbox.path))
        if len(running) == 4 or i == count - 1:
            for producer in running:
                outcomes.append(producer.read()["outcome"])
                assert "Traceback" not in producer.finish()
            running = []
    return outcomes


@pytest.fixture
def own_sandbox():
    """An IPC sandbox of the test's own, which no thread of this process holds services in:
    with no daemon there, the services come and go with the producers' threads."""
    with IpcSandbox.create() as sandbox:  # removed once the test's producers have ended
        yield sandbox


def test_threads_and_processes_that_come_and_go(own_sandbox, producers):
    # With no daemon, what a thread or process finds half created or half removed by the one
    # before it is no daemon: wait_until_ready gives None, never an error.
    threads = producers(CHURN_THREADS, args=(300, "ready"), cwd=own_sandbox.path)
    assert threads.read(timeout=WAIT_S * 4)["outcomes"] == [None] * 300
    assert "Traceback" not in threads.finish()
    assert process_churn(producers, own_sandbox, 80, "ready") == [None] * 80

    # With a daemon up, every command of the churn arrives.
    daemon = DevDaemon(BUILD_DIR, sandbox=own_sandbox)
    try:
        threads = producers(CHURN_THREADS, args=(20, "start"), cwd=own_sandbox.path)
        thread_starts = threads.read(timeout=WAIT_S * 2)["outcomes"]
        assert "Traceback" not in threads.finish()
        process_starts = process_churn(producers, own_sandbox, 12, "start")
        assert all(isinstance(start, int) for start in thread_starts + process_starts)
        received = daemon.envelopes(32)
        assert sorted((e["robot_id"], e["timestamp_ns"]) for e in received) == sorted(
            [(f"thread{i}", start) for i, start in enumerate(thread_starts)] +
            [(f"process{i}", start) for i, start in enumerate(process_starts)])
        daemon.assert_quiet()
    finally:
        daemon.stop()
