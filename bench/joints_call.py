"""log_joints: what one call costs the calling thread, for 10, 100 and 1,000 joints, against
  - the floor: converting the same Python list to a C array of doubles once (array('d', values)),
  - a pure-Python path that renders one JSON object per joint, as the module's publisher thread
    does off the calling thread.
Run by bench/report.py in a sandbox with a development daemon listening. The three are timed in
turn, several rounds, and each figure is the median of the rounds; between rounds
stop_recording drains what the publisher thread still holds (not timed).
"""
import json
import math
import time
from array import array

from quillspan.data_daemon import _data_bridge as bridge

from rows import emit, median, note, time_calls

ROUNDS = 7
ROBOT = "bench-arm"


def json_per_joint(names, values, timestamp_s):
    return [(name, json.dumps({"timestamp": timestamp_s, "value": value}).encode())
            for name, value in zip(names, values)]


def main():
    for joints in (10, 100, 1000):
        names = [f"joint_{i}" for i in range(joints)]
        joined = "\0".join(names)
        values = [math.sin(i) for i in range(joints)]
        timestamp_ns = time.time_ns()
        calls = max(100, min(2000, 20000 // joints))

        def ours():
            bridge.log_joints(ROBOT, 0, "JOINT_POSITIONS", joined, values, timestamp_ns)

        def floor():
            array("d", values)

        def python_json():
            json_per_joint(names, values, timestamp_ns / 1e9)

        timings = {ours: [], floor: [], python_json: []}
        for _ in range(ROUNDS):
            for call, seconds in timings.items():
                seconds.append(time_calls(call, calls))
            bridge.stop_recording(ROBOT, 0)
        note(f"joints_call: {joints} joints done")
        case = f"{joints} joints"
        ours_s = median(timings[ours])
        emit(1, "log_joints, calling thread, per call", case, ours_s,
             "array('d', values)", median(timings[floor]), "s")
        emit(1, "log_joints, calling thread, per call", case, ours_s,
             "JSON per joint, pure Python", median(timings[python_json]), "s")


if __name__ == "__main__":
    main()
