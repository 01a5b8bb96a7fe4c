"""The interpreter's exit while daemon threads are inside module calls: the way an SDK runs its
camera and joint loops. At exit the interpreter ends every thread that asks for its lock back;
the process must still exit cleanly, whatever kind of call each thread was in."""
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import WAIT_S

PACKAGE_ROOT = next(p for p in sys.path
                    if p.endswith(f"python{sys.version_info[0]}.{sys.version_info[1]}"))

# The main thread starts daemon threads that each run CALL for ever, waits until they all run,
# lets them go on a little and returns: the interpreter then exits with them inside the module.
SCRIPT = textwrap.dedent("""
    import os, sys, threading, time
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge

    FRAME = bytes(2 * 2 * 3)

    class SlowValues:
        # A sequence whose items come from Python code, so that the interpreter may end the
        # thread in the middle of the conversion.
        def __len__(self):
            return 50
        def __getitem__(self, i):
            if i >= 50:
                raise IndexError(i)
            return float(sum(range(200)))

    def call():
        CALL

    started = threading.Barrier(THREADS + 1)

    def loop():
        started.wait()
        while True:
            try:
                call()
            except RuntimeError:
                pass  # no daemon within the wait: the loop goes on, as an SDK's would

    for _ in range(THREADS):
        threading.Thread(target=loop, daemon=True).start()
    started.wait()
    time.sleep(0.3)
    print("main returns", flush=True)
""")

SAMPLE = 'bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a\\0b", [1.0, 2.0], 1)'
JSON = 'bridge.log_json("arm", 0, "GRIPPER", "g", b"{}", 1)'
FRAME_AND_FLUSH = """
        bridge.log_frame("cam-robot", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", FRAME, 1)
        bridge.flush_source("cam-robot", 0)"""
STALL = """
        try:
            bridge.log_frame("stalled", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", FRAME, 1)
        except bridge.LoggingStalledError:
            pass"""
QUERY = """
        bridge.wait_until_ready(0.01)
        bridge.get_recording_id("arm", 0, 1, 0.01)"""
STOP = """
        bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", [1.0], 1)
        bridge.stop_recording("arm", 0)"""
CONVERSION = 'bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", SlowValues(), 1)'

CASES = [
    # (id, call, needs a daemon, spool over its budget)
    ("samples", SAMPLE, False, False),
    ("json", JSON, False, False),
    ("frames-and-flushes", FRAME_AND_FLUSH, True, False),
    ("stall-wait", STALL, False, True),
    ("queries", QUERY, False, False),
    ("stop-drain-with-daemon", STOP, True, False),
    ("stop-drain-without-daemon", STOP, False, False),
    ("conversion-running-python", CONVERSION, False, False),
]


def script_for(call, threads):
    body = textwrap.indent(textwrap.dedent(call).strip("\n"), " " * 4)
    return SCRIPT.replace("    CALL", body).replace("THREADS", str(threads))


@pytest.mark.parametrize("call,needs_daemon,over_budget",
                         [case[1:] for case in CASES], ids=[case[0] for case in CASES])
def test_interpreter_exits_cleanly_with_daemon_threads_in_calls(call, needs_daemon, over_budget,
                                                                start_daemon, tmp_path):
    if needs_daemon:
        start_daemon()
    env = dict(os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path))
    if over_budget:
        spool = tmp_path / ".rgb_spool"
        spool.mkdir()
        with open(spool / "backlog", "wb") as backlog:
            backlog.truncate(64 * 1024 * 1024)  # sparse: its length is what counts
        env["QSM_SPOOL_LIMIT"] = "1"
    script = script_for(call, threads=3)
    # A few runs, since where each thread is when the interpreter ends it varies from run to run.
    for run in range(3):
        done = subprocess.run([sys.executable, "-c", script, PACKAGE_ROOT], env=env,
                              capture_output=True, text=True, timeout=WAIT_S * 2)
        assert done.returncode == 0, f"run {run}: exit status {done.returncode}\n{done.stderr}"
        assert done.stdout == "main returns\n", done.stdout + done.stderr
        assert "terminate called" not in done.stderr, done.stderr
        assert "Fatal Python error" not in done.stderr, done.stderr
