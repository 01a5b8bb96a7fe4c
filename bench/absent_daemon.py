"""A daemon that is down: how long the calls that wait for the daemon take, and what logging at
a robot's usual rate does to memory, while nobody listens.

Each case runs in a process of its own in a fresh IPC sandbox without a daemon (its module finds
no subscriber and no server there), side by side with its baseline:
- stop_recording after 3 s of log_joints at 500 Hz, and flush_source after one frame from each
  of three cameras, against one command's own subscriber wait (start_recording with no daemon,
  which gives up after it);
- resident memory after 60 s of log_joints at 500 Hz, against the same logging into the
  development daemon that bench/report.py started, which takes everything (run at the same
  time, in the daemon's sandbox).
"""
import json
import os
import subprocess
import sys
import time

from ipc_sandbox import IpcSandbox
from rows import emit, note

ROBOT = "bench-absent"
RATE_HZ = 500
JOINTS = 7
NAMES = "\0".join(f"joint_{j}" for j in range(JOINTS))
VALUES = [0.25 * j for j in range(JOINTS)]
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def log_joints_for(bridge, seconds):
    k, start = 0, time.monotonic()
    while time.monotonic() - start < seconds:
        bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", NAMES, VALUES, time.time_ns())
        k += 1
        time.sleep(max(0.0, start + k / RATE_HZ - time.monotonic()))


def seconds_of(call):
    """How long call() took; a RuntimeError (no subscriber) ends it as a return would."""
    start = time.perf_counter()
    try:
        call()
    except RuntimeError:
        pass
    return time.perf_counter() - start


def measure(case):
    """Runs one case in this process and prints its figure as one JSON line."""
    from quillspan.data_daemon import _data_bridge as bridge

    if case == "stop":
        log_joints_for(bridge, 3)
        figure = seconds_of(lambda: bridge.stop_recording(ROBOT, 0))
    elif case == "flush":
        import numpy as np
        for camera in range(3):
            bridge.log_frame(ROBOT, 0, "RGB_IMAGES", f"cam{camera}", 64, 48, "uint8",
                             np.zeros((48, 64, 3), np.uint8), time.time_ns())
        figure = seconds_of(lambda: bridge.flush_source(ROBOT, 0))
    elif case == "command":
        figure = seconds_of(lambda: bridge.start_recording(ROBOT, 0))
    else:  # "memory"
        log_joints_for(bridge, 60)
        figure = resident_bytes()
    print(json.dumps(figure), flush=True)
    os._exit(0)  # the module's threads, and whatever they queued, end with the process


def start_case(case, cwd):
    # Its stderr, a WARN event for every dropped sample folded into a count line a second, is
    # shown only when the case fails.
    return subprocess.Popen([sys.executable, __file__, case], cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def figure_of(process):
    out, err = process.communicate()
    if process.returncode != 0:
        sys.stderr.write(err)
        raise subprocess.CalledProcessError(process.returncode, process.args)
    return json.loads(out.splitlines()[-1])


def alone(case):
    """The figure of a case run in a fresh sandbox where no daemon listens."""
    with IpcSandbox.create() as sandbox:  # removed once the case's process has exited
        return figure_of(start_case(case, sandbox.path))


def main():
    if len(sys.argv) > 1:
        measure(sys.argv[1])
    command = alone("command")
    note("absent_daemon: command wait done")
    stop = alone("stop")
    note("absent_daemon: stop_recording done")
    flush = alone("flush")
    note("absent_daemon: flush_source done")
    with IpcSandbox.create() as sandbox:
        no_daemon = start_case("memory", sandbox.path)
        daemon_up = start_case("memory", os.getcwd())  # the development daemon's sandbox
        absent_rss, present_rss = figure_of(no_daemon), figure_of(daemon_up)
    note("absent_daemon: memory done")
    baseline = "one command's subscriber wait (start_recording)"
    emit(8, "stop_recording with no daemon", f"after 3 s of log_joints at {RATE_HZ} Hz", stop,
         baseline, command, "s")
    emit(8, "flush_source with no daemon", "one frame from each of 3 cameras", flush, baseline,
         command, "s")
    emit(8, "resident memory after 60 s of log_joints", f"{RATE_HZ} Hz, no daemon", absent_rss,
         "the same into a daemon that reads it all", present_rss, "B")


if __name__ == "__main__":
    main()
