"""One short recording through the Python module, as a robot SDK makes it: start, joint
samples and a JSON sample while the robot moves, stop, and the recording's id from the daemon.

Run it with the module's package tree on the path and a daemon listening, for instance:
    PYTHONPATH=build/python3.11 python3 tools/recording_demo.py
"""
import json
import math
import time

from quillspan.data_daemon import _data_bridge as bridge

ROBOT, INSTANCE = "demo-arm", 0
JOINTS = ["shoulder", "elbow", "wrist"]

ready = bridge.wait_until_ready(5.0)
print(f"daemon {bridge.daemon_version(1.0)!r} ready: {ready}")
start_ns = bridge.start_recording(ROBOT, INSTANCE, robot_name="demo arm", dataset_name="demo")
for step in range(3):
    angles = [math.sin(step / 10 + i) for i in range(len(JOINTS))]
    bridge.log_joints(ROBOT, INSTANCE, "JOINT_POSITIONS", "\0".join(JOINTS), angles,
                      time.time_ns())
bridge.log_json(ROBOT, INSTANCE, "BATTERY", "main", json.dumps({"charge": 0.87}).encode(),
                time.time_ns())
bridge.stop_recording(ROBOT, INSTANCE)
print(f"recording started at {start_ns} ns; id: "
      f"{bridge.get_recording_id(ROBOT, INSTANCE, start_ns, 1.0)!r}")
