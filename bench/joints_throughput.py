"""End-to-end joint throughput: joint samples a second that reach the development daemon, from
one and from four Python threads. A call logs 50 joints (50 joint samples, one BatchedData
envelope). The clock runs from the first call to the moment the daemon has printed every sample
and the StopRecording that stop_recording sends after draining them. (Samples and the stop come
from two publishers, so the daemon may print the stop before the last samples queued for it.)
Compared side by side: four threads against one, and, for one thread, what reaches the daemon
against what log_joints accepts on the calling thread (the publisher keeping up, or not).
Run by bench/report.py in a sandbox with a development daemon listening.
"""
import math
import os
import threading
import time

from quillspan.data_daemon import _data_bridge as bridge

from local_daemon import DaemonOutput, is_variant
from rows import emit, note

JOINTS = 50
CALLS = 20000  # in all, shared among the threads
ROBOT = "bench-arm"


def wait_for(daemon, wanted):
    """Reads the daemon's output until it has printed wanted[variant] envelopes of each variant;
    fails, saying how many came, when they do not."""
    seen = dict.fromkeys(wanted, 0)

    def all_arrived(line):
        for variant in seen:
            seen[variant] += is_variant(line, variant)
        return seen == wanted

    try:
        daemon.wait_for_line(all_arrived, str(wanted))
    except RuntimeError:
        raise RuntimeError(f"expected {wanted}, received {seen}")


def run(threads, daemon):
    names = "\0".join(f"joint_{i}" for i in range(JOINTS))
    values = [math.cos(i) for i in range(JOINTS)]
    per_thread = CALLS // threads
    start_barrier = threading.Barrier(threads + 1)

    def work():
        start_barrier.wait()
        timestamp_ns = time.time_ns()
        for i in range(per_thread):
            bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", names, values, timestamp_ns + i)

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for worker in workers:
        worker.start()
    daemon.new_lines()  # forget what came before
    start_barrier.wait()
    start = time.perf_counter()
    for worker in workers:
        worker.join()
    accepted = time.perf_counter() - start
    bridge.stop_recording(ROBOT, 0)
    wait_for(daemon, {"BatchedData": per_thread * threads, "StopRecording": 1})
    arrived = time.perf_counter() - start
    samples = per_thread * threads * JOINTS
    note(f"joints_throughput: {threads} thread(s) done")
    return samples / arrived, samples / accepted


def main():
    daemon = DaemonOutput(os.environ["DDB_DAEMON_OUTPUT"])
    # Warm-up: the publisher thread and the IPC ports are built on first use.
    bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", "a", [0.0], 0)
    bridge.stop_recording(ROBOT, 0)
    wait_for(daemon, {"BatchedData": 1, "StopRecording": 1})
    one_e2e, one_accepted = run(1, daemon)
    four_e2e, _ = run(4, daemon)
    emit(2, "joint samples reaching the daemon", "4 threads vs 1", four_e2e,
         "1 thread", one_e2e, "/s")
    emit(2, "joint samples reaching the daemon", "1 thread", one_e2e,
         "log_joints accepting them, 1 thread", one_accepted, "/s")


if __name__ == "__main__":
    main()
