"""Memory that runs out under a call: a producer process lowers its own address-space limit until
the call's copy cannot be made. The caller gets MemoryError (an Exception, which it can catch),
nothing of the failed call is queued, and the same call works once the limit is raised again."""
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

# argv: the package root, the function ("frame" or "json"), the payload sizes of the call that
# fails and of the call after it. Prints what the failing call raised.
PRODUCER = textwrap.dedent("""
    import resource, sys
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    kind, failing, after = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    payloads = {size: bytes(size) for size in (failing, after)}  # made while memory lasts

    def call(size):
        if kind == "frame":
            bridge.log_frame("oom", 0, "RGB_IMAGES", "cam", size // 3 // 1024, 1024, "uint8",
                             payloads[size], 1)
        else:
            bridge.log_json("oom", 0, "STATE", "gripper", payloads[size], 1)

    def address_space():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    # Room for the call's small allocations, not for its copy of the payload.
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + (16 << 20), hard))
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
