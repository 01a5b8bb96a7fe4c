"""The interpreter's exit while daemon threads are inside module calls: the way an SDK runs its
camera and joint loops. At exit the interpreter ends every thread that asks for its lock back;
the process must still exit cleanly, whatever kind of call each thread was in."""
import os
import resource
import subprocess
import sys
import textwrap

import pytest

from conftest import WAIT_S, unknown_uid

PACKAGE_ROOT = next(p for p in sys.path
                    if p.endswith(f"python{sys.version_info[0]}.{sys.version_info[1]}"))

# The main thread starts daemon threads that each run CALL for ever, waits until they all run,
# lets them go on a little and returns: the interpreter then exits with them inside the module.
SCRIPT = textwrap.dedent("""
    import os, sys, threading, time
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    import _bridge_test_hooks as hooks
    SETUP

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

    class SlowIndex:
        # An integer argument whose value comes from Python code.
        def __index__(self):
            return sum(range(2000))

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
            except BaseException as error:
                # A call that failed (the panic type of the module and of the hooks have this
                # name): the loop goes on too.
                if type(error).__name__ != "InvariantPanic":
                    raise

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
# The frame's buffer view is held while its timestamp converts.
FRAME_CONVERSION = ('bridge.log_frame("cam-robot", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", '
                    'bytearray(FRAME), SlowIndex())')
# Calls whose body fails with the lock released: one the test hooks make fail, and a frame whose
# writer cannot be made (a named profile and no home directory to find it in).
FAILING_BODY = 'hooks.panic_without_gil("failed on purpose")'
FAILING_FRAME = 'bridge.log_frame("no-home", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", FRAME, 1)'
# Becomes a user without a password-database entry, and so without a home directory.
NO_HOME = "os.setuid(int(sys.argv[2]))"
# A failure raised while a finalizer runs: the panic replaces a pending error whose value is the
# only holder of an object, whose finalizer then logs (an SDK object's __del__, say), letting the
# lock go at each call, so that the interpreter may end the thread in it at exit. The script's
# own teardown, once the finalization has begun, lets the lock go for a while, so that the
# threads waiting for it are ended then and there.
FINALIZER = textwrap.dedent("""
    class Finalized:
        def __del__(self):
            for _ in range(100):
                bridge.log_json("arm", 0, "GRIPPER", "g", b"{}", 1)
    class Lingering:
        def __del__(self, sleep=time.sleep):
            sleep(0.05)
    import types
    holder = types.ModuleType("_lingering")  # cleared with the modules, unlike this script's
    holder.lingering = Lingering()
    sys.modules[holder.__name__] = holder
    del holder""")
FAILING_UNDER_FINALIZER = 'hooks.panic_replacing_error(Finalized)'

CASES = [
    # (id, call, needs a daemon, spool over its budget, without a home directory[, setup])
    ("samples", SAMPLE, False, False, False),
    ("json", JSON, False, False, False),
    ("frames-and-flushes", FRAME_AND_FLUSH, True, False, False),
    ("stall-wait", STALL, False, True, False),
    ("queries", QUERY, False, False, False),
    ("stop-drain-with-daemon", STOP, True, False, False),
    ("stop-drain-without-daemon", STOP, False, False, False),
    ("conversion-running-python", CONVERSION, False, False, False),
    ("frame-conversion-running-python", FRAME_CONVERSION, True, False, False),
    ("failing-body", FAILING_BODY, False, False, False),
    ("frame-failing-without-home", FAILING_FRAME, False, False, True),
    ("failure-raised-under-a-finalizer", FAILING_UNDER_FINALIZER, False, False, False, FINALIZER),
]


def script_for(call, threads, setup=""):
    body = textwrap.indent(textwrap.dedent(call).strip("\n"), " " * 4)
    return (SCRIPT.replace("    CALL", body).replace("THREADS", str(threads))
            .replace("SETUP", setup))


@pytest.mark.parametrize("call,needs_daemon,over_budget,without_home,setup",
                         [(case + ("",))[1:6] for case in CASES], ids=[case[0] for case in CASES])
def test_interpreter_exits_cleanly_with_daemon_threads_in_calls(call, needs_daemon, over_budget,
                                                                without_home, setup,
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
    args = []
    if without_home:
        if os.geteuid() != 0:
            pytest.skip("needs root to become a user without a home")
        env.pop("HOME", None)
        env["QUILLSPAN_DAEMON_PROFILE"] = "robot-lab"
        setup, args = NO_HOME, [str(unknown_uid())]
    script = script_for(call, threads=3, setup=setup)
    # A few runs, since where each thread is when the interpreter ends it varies from run to run.
    for run in range(3):
        done = subprocess.run([sys.executable, "-c", script, PACKAGE_ROOT, *args], env=env,
                              capture_output=True, text=True, timeout=WAIT_S * 2)
        assert done.returncode == 0, f"run {run}: exit status {done.returncode}\n{done.stderr}"
        assert done.stdout == "main returns\n", done.stdout + done.stderr
        assert "terminate called" not in done.stderr, done.stderr
        assert "Fatal Python error" not in done.stderr, done.stderr


# An SDK's exit with its loops still running: a daemon thread whose calls fail their conversion, a
# daemon thread flooding the module with JSON samples, and the main thread's last frame, flush and
# stop, either as its script's last lines or from an atexit callback. argv: the package root, the
# source's robot id, "return" or "atexit".
LAST_ENVELOPES = textwrap.dedent("""
    import atexit, sys, threading, time
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    robot = sys.argv[2]
    # Threads waiting for the interpreter lock ask for it only after a switch interval: with a
    # long one, those waiting when the finalization begins are never handed the lock by it, and
    # CPython 3.10 lets them go on waking in that wait, every interval, writing into the
    # interpreter's state. So whatever of the exit sleeps after the finalization meets them.
    sys.setswitchinterval(0.05)

    def last():
        bridge.log_joints(robot, 0, "JOINT_POSITIONS", "a", [1.0], 1)
        bridge.log_frame(robot, 0, "RGB_IMAGES", "atexit", 2, 2, "uint8", bytes(12), 1)
        bridge.flush_source(robot, 0)
        bridge.stop_recording(robot, 0)

    def loop(call):
        while True:
            try:
                call()
            except TypeError:
                pass

    threading.Thread(target=loop, daemon=True, args=(
        lambda: bridge.log_joints(robot, 0, "JOINT_POSITIONS", "a", ["x"], 1),)).start()
    threading.Thread(target=loop, daemon=True, args=(
        lambda: bridge.log_json(robot, 0, "GRIPPER", "g", b"{}", 1),)).start()
    time.sleep(0.2)
    if sys.argv[3] == "atexit":
        atexit.register(last)
    else:
        last()
""")


def limit_address_space():
    # Bounds the flood's backlog, as a host's limit would.
    resource.setrlimit(resource.RLIMIT_AS, (8 << 30, resource.RLIM_INFINITY))


@pytest.mark.parametrize("where", ["return", "atexit"])
def test_the_last_envelopes_of_an_exit_with_flooding_daemon_threads_arrive(where, daemon):
    under_asan = "libasan" in os.environ.get("LD_PRELOAD", "")
    # Memory the interpreter frees is handed back to the system at once, so that a thread writing
    # into what the finalization freed faults there and then instead of going unnoticed.
    env = daemon.child_env(GLIBC_TUNABLES="glibc.malloc.mmap_threshold=0")
    # Several runs, since where each daemon thread is when the interpreter finalizes varies.
    for run in range(6):
        robot = f"exit-{where}-{run}"
        done = subprocess.run(
            [sys.executable, "-c", LAST_ENVELOPES, PACKAGE_ROOT, robot, where],
            cwd=daemon.sandbox.path, env=env, capture_output=True, text=True,
            timeout=WAIT_S * 2, preexec_fn=None if under_asan else limit_address_space)
        assert done.returncode == 0, f"run {run}: exit status {done.returncode}\n{done.stderr}"
        assert "Fatal Python error" not in done.stderr, done.stderr
        last = []
        while last != ["SourceFlushed", "StopRecording"]:
            envelope = daemon.next_envelope()
            if envelope.get("robot_id") == robot and envelope["variant"] in (
                    "SourceFlushed", "StopRecording"):
                last.append(envelope["variant"])
            assert len(last) <= 2, last
