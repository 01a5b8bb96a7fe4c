"""Profiles the video path: where the time of logged frames goes, by thread and by function.

    python3 bench/profile_video.py BUILD_DIR [FRAMES]

Runs a workload in a sandbox with the development daemon (tools/local_daemon.py): FRAMES (default
150) 640×480 RGB frames of a panned photograph and as many float32 depth frames, logged as fast
as log_frame takes them, then flush_source. The workload runs under `perf record` (CPU-clock
sampling with call graphs), and the report shows the share of samples of each thread (the
calling thread "python3", the writer "qs-video-writer", the compression threads
"qs-png-compress", the data publisher) and of the functions that take most of it.
"""
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tools"))

from local_daemon import LocalDaemon  # noqa: E402

ROBOT = "bench-cam"


def workload(frames_count):
    import numpy as np
    from quillspan.data_daemon import _data_bridge as bridge

    from natural_frames import natural_frames

    rgb = natural_frames(640, 480, 8)
    depth = [(frame[..., 0].astype(np.float32) / 255 * 4 + 0.3) for frame in rgb]
    start = time.perf_counter()
    timestamp_ns = time.time_ns()
    for i in range(frames_count):
        stamp = timestamp_ns + i * 33_333_333
        bridge.log_frame(ROBOT, 0, "RGB_IMAGES", "rgb", 640, 480, "uint8", rgb[i % 8], stamp)
        bridge.log_frame(ROBOT, 0, "DEPTH_IMAGES", "depth", 640, 480, "float32",
                         depth[i % 8].view(np.uint8), stamp)
    bridge.flush_source(ROBOT, 0)
    elapsed = time.perf_counter() - start
    print(f"workload: {2 * frames_count} frames in {elapsed:.2f} s "
          f"({2 * frames_count / elapsed:.1f} frames/s)", file=sys.stderr)


def perf_report(data, sort, limit, extra=()):
    result = subprocess.run(
        ["perf", "report", "-i", str(data), "--stdio", "--no-children", "--sort", sort,
         "--percent-limit", str(limit), *extra],
        capture_output=True, text=True, check=True)
    return [line for line in result.stdout.splitlines() if line and not line.startswith("#")]


def main(argv):
    if len(argv) >= 2 and argv[1] == "--workload":
        workload(int(argv[2]))
        return 0
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    frames = int(argv[2]) if len(argv) == 3 else 150
    with LocalDaemon(argv[1]) as daemon, tempfile.TemporaryDirectory() as scratch:
        data = pathlib.Path(scratch, "perf.data")
        subprocess.run(
            ["perf", "record", "-q", "-e", "cpu-clock", "-F", "1999", "-g", "-o", str(data),
             "--", daemon.python, str(HERE / "profile_video.py"), "--workload", str(frames)],
            cwd=daemon.workdir, env=daemon.child_env(), check=True)
        print("== share of CPU samples by thread")
        print("\n".join(perf_report(data, "comm", 0.5, ["-g", "none"])))
        print("== by thread and function (entries of 0.7% or more)")
        print("\n".join(perf_report(data, "comm,dso,symbol", 0.7, ["-g", "none"])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
