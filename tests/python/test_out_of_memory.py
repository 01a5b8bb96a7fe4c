"""Memory that runs out: a producer process lowers its own address-space limit.

Under a call, until the call's copy cannot be made: the caller gets MemoryError (an Exception,
which it can catch), nothing of the failed call is queued, and the same call works once the limit
is raised again. On the module's own threads, with a little room left, so that the video writer
cannot open a chunk (its 8 MiB buffer) and the other threads are short of memory as well: the
process goes on, the flush returns, and once the limit is raised the next frame opens a chunk of
its own, which the next flush announces."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import PACKAGE_ROOT, WAIT_S

pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer's shadow memory does not fit under an address-space limit")

# argv[1]: the package root. Imports the module and defines address_space(), the process's
# address space now, and limit(headroom), which leaves that many bytes of it for what follows.
PRELUDE = textwrap.dedent("""
    import resource, sys
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge

    def address_space():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)

    def limit(headroom):
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, hard))
""")

# argv: the package root, the function ("frame" or "json"), the payload sizes of the call that
# fails and of the call after it. Prints what the failing call raised.
PRODUCER = PRELUDE + textwrap.dedent("""
    kind, failing, after = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    payloads = {size: bytes(size) for size in (failing, after)}  # made while memory lasts

    def call(size):
        if kind == "frame":
            bridge.log_frame("oom", 0, "RGB_IMAGES", "cam", size // 3 // 1024, 1024, "uint8",
                             payloads[size], 1)
        else:
            bridge.log_json("oom", 0, "STATE", "gripper", payloads[size], 1)

    # Room for the call's small allocations, not for its copy of the payload.
    limit(16 << 20)
    try:
        call(failing)
        print("returned")
    except Exception as error:
        print(type(error).__name__)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    call(after)
    bridge.flush_source("oom", 0)
""")

FRAME = 48 << 20  # 16384 x 1024 RGB

# (function, payload bytes of the failing call and of the call after it, what the daemon gets
# from the source up to its flush marker)
CASES = [
    pytest.param("frame", FRAME, FRAME,
                 [("VideoHeartbeat", None), ("VideoChunkReady", (FRAME // 3 // 1024, 1024, 1)),
                  ("SourceFlushed", None)], id="log_frame-pixel-mapping"),
    pytest.param("json", FRAME, 9, [("Data", "00" * 9), ("SourceFlushed", None)],
                 id="log_json-payload-copy"),
]


def summary(envelope):
    if envelope["variant"] == "VideoChunkReady":
        return envelope["variant"], (envelope["width"], envelope["height"], envelope["frame_count"])
    if envelope["variant"] == "Data":
        return envelope["variant"], envelope["payload"]
    return envelope["variant"], None


@pytest.mark.parametrize("kind, failing, after, received", CASES)
def test_memory_error_leaves_nothing_behind(kind, failing, after, received, daemon):
    done = subprocess.run(
        [sys.executable, "-c", PRODUCER, PACKAGE_ROOT, kind, str(failing), str(after)],
        cwd=daemon.sandbox.path, env=daemon.child_env(), capture_output=True, text=True,
        timeout=WAIT_S * 4)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "MemoryError\n", done.stderr

    source = []
    while not source or source[-1][0] != "SourceFlushed":
        envelope = daemon.next_envelope()
        if envelope.get("robot_id") == "oom":
            source.append(summary(envelope))
    assert source == received


# argv: the package root, the robot_id, the headroom in MiB. A frame, a sample and a flush with
# that little room, then, with the limit raised, a frame (capture time 7) and a flush.
THREADS_PRODUCER = PRELUDE + textwrap.dedent("""
    robot_id, headroom = sys.argv[2], int(sys.argv[3])
    limit(headroom << 20)
    bridge.log_frame(robot_id, 0, "RGB_IMAGES", "cam", 2, 2, "uint8", bytes(12), 3)
    bridge.log_json(robot_id, 0, "STATE", "gripper", b"{}", 5)
    bridge.flush_source(robot_id, 0)
    print("flushed", flush=True)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    bridge.log_frame(robot_id, 0, "RGB_IMAGES", "cam", 2, 2, "uint8", bytes(12), 7)
    bridge.flush_source(robot_id, 0)
    print("flushed", flush=True)
""")


# From about 10 MiB up to about 25 MiB of room, what runs short moves from the threads' start to
# the writer's chunk buffer and to the data publisher's shared memory.
@pytest.mark.parametrize("headroom_mib", [10, 12, 15, 18, 20, 25, 30])
def test_module_threads_go_on_when_memory_runs_out(headroom_mib, daemon):
    robot_id = f"oom-threads-{headroom_mib}"
    done = subprocess.run(
        [sys.executable, "-c", THREADS_PRODUCER, PACKAGE_ROOT, robot_id, str(headroom_mib)],
        cwd=daemon.sandbox.path, env=daemon.child_env(), capture_output=True, text=True,
        timeout=WAIT_S * 4)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "flushed\nflushed\n", done.stderr

    # Whatever of the first part reached the daemon, the frame logged once the limit was raised
    # is the whole of a chunk of its own, and the source's SourceFlushed follows its announcement.
    received = []
    while received[-2:] != [("VideoChunkReady", [7]), ("SourceFlushed", None)]:
        envelope = daemon.next_envelope()
        if envelope.get("robot_id") != robot_id or envelope["variant"] == "VideoHeartbeat":
            continue
        if envelope["variant"] == "VideoChunkReady":
            assert envelope["frame_count"] == len(envelope["frame_timestamps_ns"]), envelope
            received.append((envelope["variant"], envelope["frame_timestamps_ns"]))
        else:
            received.append((envelope["variant"], None))
