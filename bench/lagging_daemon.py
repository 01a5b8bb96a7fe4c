"""A daemon that reads slower than the producer publishes: the development daemon takes at most
one envelope every --read-delay-us microseconds (bench/report.py starts it so), so its buffer
stays full and every producer waits for room.

Compared side by side in one run, against the same daemon:
- envelopes a second reaching it from log_joints (one BatchedData of JOINTS joints a call,
  published by the module's data publisher thread), against a C++ producer that publishes the
  same envelopes on the commands service with the Block strategy, which waits for room inside
  the IPC library (bench/block_publisher.cc): what the daemon can take;
- how long stop_recording takes to drain what a one-second burst of log_joints calls left
  queued, against the time the Block producer's rate gives for the same number of envelopes.
"""
import json
import os
import pathlib
import subprocess
import time

from quillspan.data_daemon import _data_bridge as bridge

from local_daemon import DaemonOutput, is_variant
from rows import emit, note

ROBOT = "bench-arm"
JOINTS = 7
SECONDS_OF_ENVELOPES = 2.0  # how many envelopes each producer publishes, at the daemon's pace
WAIT_S = 600.0  # a bound only, so that a broken run fails instead of hanging

NAMES = "\0".join(f"joint_{j}" for j in range(JOINTS))
VALUES = [0.25 * j for j in range(JOINTS)]


def wait_for(daemon, wanted):
    """Reads the daemon's output until it has printed wanted[variant] envelopes of each
    variant."""
    seen = dict.fromkeys(wanted, 0)

    def all_arrived(line):
        for variant in seen:
            seen[variant] += is_variant(line, variant)
        return seen == wanted

    try:
        daemon.wait_for_line(all_arrived, str(wanted), timeout=WAIT_S)
    except RuntimeError:
        raise RuntimeError(f"expected {wanted}, received {seen}")


def block_publisher_rate(daemon, count):
    program = pathlib.Path(os.environ["DDB_BUILD_DIR"]) / "bench" / "block_publisher"
    producer = subprocess.Popen([str(program), str(count), str(JOINTS)], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
    try:
        if producer.stdout.readline() != "ready\n":
            raise RuntimeError("block_publisher did not start")
        daemon.new_lines()  # forget what came before
        start = time.perf_counter()
        producer.stdin.write("go\n")
        producer.stdin.flush()
        wait_for(daemon, {"BatchedData": count})
        return count / (time.perf_counter() - start)
    finally:
        producer.stdin.close()
        producer.wait()


def module_rate(daemon, count):
    daemon.new_lines()
    timestamp_ns = time.time_ns()
    start = time.perf_counter()
    for i in range(count):
        bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", NAMES, VALUES, timestamp_ns + i)
    wait_for(daemon, {"BatchedData": count})
    return count / (time.perf_counter() - start)


def burst_then_stop(daemon):
    """Logs for one second, then stops the recording: (envelopes still queued when the stop
    began, seconds the stop took)."""
    daemon.new_lines()
    timestamp_ns = time.time_ns()
    calls = 0
    end = time.perf_counter() + 1.0
    while time.perf_counter() < end:
        for _ in range(1000):
            bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", NAMES, VALUES, timestamp_ns + calls)
            calls += 1
    delivered = sum(is_variant(line, "BatchedData") for line in daemon.new_lines())
    start = time.perf_counter()
    bridge.stop_recording(ROBOT, 0)
    drain = time.perf_counter() - start
    wait_for(daemon, {"BatchedData": calls - delivered, "StopRecording": 1})
    return calls - delivered, drain


def main():
    options = json.loads(os.environ["DDB_DAEMON_OPTIONS"])
    delay_us = int(options[options.index("--read-delay-us") + 1])
    count = int(SECONDS_OF_ENVELOPES * 1e6 / delay_us)
    daemon = DaemonOutput(os.environ["DDB_DAEMON_OUTPUT"])
    # Warm-up: the publisher thread and the IPC ports are built on first use.
    bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", NAMES, VALUES, 0)
    bridge.stop_recording(ROBOT, 0)
    wait_for(daemon, {"BatchedData": 1, "StopRecording": 1})

    block = block_publisher_rate(daemon, count)
    note("lagging_daemon: Block publisher done")
    ours = module_rate(daemon, count)
    note("lagging_daemon: log_joints done")
    queued, drain = burst_then_stop(daemon)
    note("lagging_daemon: burst done")
    case = f"daemon taking 1 per {delay_us} us, {JOINTS} joints"
    emit(7, "envelopes a second reaching a lagging daemon", case, ours,
         "C++ publisher, Block strategy", block, "/s")
    emit(7, "stop_recording after a 1 s log_joints burst", f"{queued:,} envelopes queued", drain,
         "same count at the Block publisher's rate", queued / block, "s")


if __name__ == "__main__":
    main()
