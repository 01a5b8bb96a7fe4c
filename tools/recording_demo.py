"""One short recording through the Python module, as a robot SDK makes it: start, then for about
six seconds joint samples, a JSON sample now and then and the frames of two cameras (colour and
depth), stop, flush of the source's video, and the recording's id from the daemon.

Run it with the module's package tree on the path and a daemon listening, for instance:
    PYTHONPATH=build/python3.11 python3 tools/recording_demo.py
Chunk files go under the recordings root (QUILLSPAN_DAEMON_RECORDINGS_ROOT, when set).
"""
import json
import math
import time

import numpy as np

from quillspan.data_daemon import _data_bridge as bridge

ROBOT, INSTANCE = "demo-arm", 0
JOINTS = ["shoulder", "elbow", "wrist"]
WIDTH, HEIGHT = 64, 48
FRAME_PERIOD_S = 1 / 15
DURATION_S = 6.0

ready = bridge.wait_until_ready(5.0)
print(f"daemon {bridge.daemon_version(1.0)!r} ready: {ready}")
start_ns = bridge.start_recording(ROBOT, INSTANCE, robot_name="demo arm", dataset_name="demo")

ys, xs = np.mgrid[0:HEIGHT, 0:WIDTH]
frames = 0
began = time.monotonic()
while time.monotonic() - began < DURATION_S:
    t = time.monotonic() - began
    now = time.time_ns()
    angles = [math.sin(t + i) for i in range(len(JOINTS))]
    bridge.log_joints(ROBOT, INSTANCE, "JOINT_POSITIONS", "\0".join(JOINTS), angles, now)
    if frames % 15 == 0:
        bridge.log_json(ROBOT, INSTANCE, "BATTERY", "main",
                        json.dumps({"charge": round(0.9 - t / 100, 4)}).encode(), now)
    # A colour gradient that drifts, and a depth ramp from 0.5 m to 4 m that breathes.
    rgb = np.stack([(xs * 4 + frames) % 256, (ys * 5) % 256,
                    np.full_like(xs, frames * 8 % 256)], -1).astype(np.uint8)
    depth = (0.5 + 3.5 * xs / WIDTH * (1 + 0.2 * math.sin(t))).astype(np.float32)
    bridge.log_frame(ROBOT, INSTANCE, "RGB_IMAGES", "front", WIDTH, HEIGHT, "uint8", rgb, now)
    bridge.log_frame(ROBOT, INSTANCE, "DEPTH_IMAGES", "front_depth", WIDTH, HEIGHT, "float32",
                     depth.view(np.uint8), now)
    frames += 1
    time.sleep(FRAME_PERIOD_S)

bridge.stop_recording(ROBOT, INSTANCE)
bridge.flush_source(ROBOT, INSTANCE)  # seals and announces the cameras' last chunks
print(f"logged {frames} frames a camera; recording started at {start_ns} ns; id: "
      f"{bridge.get_recording_id(ROBOT, INSTANCE, start_ns, 1.0)!r}")
