"""One short recording session through the module, as a robot SDK drives it; run by
tools/main_job.py in its sandbox, with the module on PYTHONPATH.

    main_job_session.py SECONDS

Starts a recording, then for SECONDS logs, each from a thread of its own as an SDK's callbacks
would: 50 joint positions at 500 Hz, a JSON gripper state at 50 Hz, an RGB camera and a depth
camera (640×480, 30 frames a second) of a moving synthetic scene. Then stop_recording,
flush_source, and the recording's id from the daemon. Prints one JSON object on stdout: what was
logged and how fast.
"""
import hashlib
import json
import math
import sys
import threading
import time

from quillspan.data_daemon import _data_bridge as bridge

from synthetic_scene import SyntheticScene

ROBOT_ID = "demo-robot"
ROBOT_INSTANCE = 0
JOINTS = 50
JOINT_HZ = 500
JSON_HZ = 50
CAMERA_HZ = 30
WIDTH, HEIGHT = 640, 480


def paced(rate_hz, start, stop_at):
    """Yields tick numbers at rate_hz from start until stop_at (monotonic seconds), sleeping
    until each tick is due; a late tick is taken at once, never skipped."""
    tick = 0
    while True:
        due = start + tick / rate_hz
        if due >= stop_at:
            return
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        yield tick
        tick += 1


class Logged:
    """What one logging thread logged: calls made, and the span from its first to last."""

    def __init__(self):
        self.count = 0
        self.first = None
        self.last = None

    def mark(self):
        now = time.monotonic()
        self.first = self.first if self.first is not None else now
        self.last = now
        self.count += 1

    def rate(self):
        if self.count < 2:
            return 0.0
        return (self.count - 1) / (self.last - self.first)


def log_joints(start, stop_at, logged):
    names = "\0".join(f"joint_{i:02d}" for i in range(JOINTS))
    for tick in paced(JOINT_HZ, start, stop_at):
        t = tick / JOINT_HZ
        values = [0.8 * math.sin(2 * math.pi * (0.2 + 0.01 * j) * t + j) for j in range(JOINTS)]
        bridge.log_joints(ROBOT_ID, ROBOT_INSTANCE, "JOINT_POSITIONS", names, values,
                          time.time_ns())
        logged.mark()


def log_gripper(start, stop_at, logged):
    for tick in paced(JSON_HZ, start, stop_at):
        t = tick / JSON_HZ
        state = {"open_amount": round(0.5 + 0.5 * math.sin(t), 4), "tick": tick}
        bridge.log_json(ROBOT_ID, ROBOT_INSTANCE, "PARALLEL_GRIPPER_OPEN_AMOUNTS", "gripper",
                        json.dumps(state).encode(), time.time_ns())
        logged.mark()


def log_camera(kind, start, stop_at, logged, digests):
    """Logs one camera's frames; for the RGB camera, digests gets each frame's MD5, so that the
    frames decoded from the chunks can be compared with them pixel for pixel."""
    scene = SyntheticScene(WIDTH, HEIGHT)
    for tick in paced(CAMERA_HZ, start, stop_at):
        t = tick / CAMERA_HZ
        captured_ns = time.time_ns()
        if kind == "rgb":
            frame = scene.rgb(t)
            bridge.log_frame(ROBOT_ID, ROBOT_INSTANCE, "RGB_IMAGES", "head_rgb", WIDTH, HEIGHT,
                             "uint8", frame, captured_ns)
            digests.append(hashlib.md5(frame).hexdigest())
        else:
            # Depth in metres as 32-bit floats, handed over as their bytes.
            bridge.log_frame(ROBOT_ID, ROBOT_INSTANCE, "DEPTH_IMAGES", "head_depth", WIDTH,
                             HEIGHT, "float32", scene.depth(t).view("uint8"), captured_ns)
        logged.mark()


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 6.0
    version = bridge.daemon_version(5.0)
    ready = bridge.wait_until_ready(5.0)
    if ready is None:
        sys.exit("main_job_session: the daemon did not answer its health query")
    start_ns = bridge.start_recording(ROBOT_ID, ROBOT_INSTANCE, robot_name="demo",
                                      dataset_name="main job")

    logged = {"joints": Logged(), "json": Logged(), "rgb": Logged(), "depth": Logged()}
    rgb_md5 = []
    start = time.monotonic() + 0.05
    stop_at = start + seconds
    threads = [
        threading.Thread(target=log_joints, args=(start, stop_at, logged["joints"])),
        threading.Thread(target=log_gripper, args=(start, stop_at, logged["json"])),
        threading.Thread(target=log_camera, args=("rgb", start, stop_at, logged["rgb"], rgb_md5)),
        threading.Thread(target=log_camera, args=("depth", start, stop_at, logged["depth"], [])),
    ]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    began = time.monotonic()
    bridge.stop_recording(ROBOT_ID, ROBOT_INSTANCE)
    stopped = time.monotonic()
    bridge.flush_source(ROBOT_ID, ROBOT_INSTANCE)
    flushed = time.monotonic()
    recording_id = bridge.get_recording_id(ROBOT_ID, ROBOT_INSTANCE, start_ns, 5.0)

    print(json.dumps({
        "robot_id": ROBOT_ID, "robot_instance": ROBOT_INSTANCE, "seconds": seconds,
        "daemon_version": version, "recording_id": recording_id,
        "start_timestamp_ns": start_ns, "joints_per_call": JOINTS,
        "logged": {kind: entry.count for kind, entry in logged.items()},
        "rates": {kind: entry.rate() for kind, entry in logged.items()},
        "targets": {"joints": JOINT_HZ, "json": JSON_HZ, "rgb": CAMERA_HZ, "depth": CAMERA_HZ},
        "stop_recording_s": stopped - began, "flush_source_s": flushed - stopped,
        "rgb_md5": rgb_md5,
    }))


if __name__ == "__main__":
    main(sys.argv)
