"""Profiles the video path: where the CPU time of logged frames goes, stage by stage.

    python3 bench/profile_video.py BUILD_DIR [FRAMES]

Runs a workload in a sandbox with the development daemon (tools/local_daemon.py): FRAMES (default
150) 640×480 RGB frames of a panned photograph and as many float32 depth frames, logged back to
back, then flush_source. It runs under `perf record` (CPU-clock sampling), switched on only from
the first log_frame to the return of flush_source, so preparing the frames is not counted. The
report gives each stage of the path (by thread and function) its share of the samples and its
CPU time per frame, then the functions that take the most.
"""
import collections
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tools"))

from local_daemon import DevDaemon  # noqa: E402

ROBOT = "bench-cam"
SAMPLE_HZ = 1999


def workload(frames_count, control, ack):
    import numpy as np
    from quillspan.data_daemon import _data_bridge as bridge

    from natural_frames import natural_frames

    rgb = natural_frames(640, 480, 8)
    depth = [(frame[..., 0].astype(np.float32) / 255 * 4 + 0.3) for frame in rgb]
    with open(control, "w") as ctl, open(ack) as acknowledged:
        def perf_command(command):
            ctl.write(command + "\n")
            ctl.flush()
            acknowledged.readline()

        perf_command("enable")
        start = time.perf_counter()
        timestamp_ns = time.time_ns()
        for i in range(frames_count):
            stamp = timestamp_ns + i * 33_333_333
            bridge.log_frame(ROBOT, 0, "RGB_IMAGES", "rgb", 640, 480, "uint8", rgb[i % 8], stamp)
            bridge.log_frame(ROBOT, 0, "DEPTH_IMAGES", "depth", 640, 480, "float32",
                             depth[i % 8].view(np.uint8), stamp)
        bridge.flush_source(ROBOT, 0)
        elapsed = time.perf_counter() - start
        perf_command("disable")
    print(f"workload: {2 * frames_count} frames in {elapsed:.2f} s "
          f"({2 * frames_count / elapsed:.1f} frames/s)", file=sys.stderr)


# The encoder's own functions, where the compiler keeps them apart from encode_png_rgb24.
ENCODER_FUNCTIONS = ("encode_png_rgb24", "filter_up", "subtract_row", "IdatStream",
                     "put_png_chunk")


def thread_kind(comm):
    if "png-compress" in comm:
        return "PNG threads"
    if comm.startswith("qs-video-writer"):
        return "writer thread"
    if comm.startswith("qs-data-publish"):
        return "data publisher"
    return "calling thread"


def stage(comm, dso, symbol):
    """The stage of the video path that a sample belongs to."""
    if "adler32" in symbol:
        part = "zlib Adler-32"  # zlib's own, or the encoder's, which writes the wrapper
    elif "crc32" in symbol or "png_crc" in symbol:
        part = "PNG CRC-32"  # the encoder has zlib compute it
    elif dso.startswith("libz"):
        part = "zlib deflate"
    elif any(name in symbol for name in ENCODER_FUNCTIONS):
        part = "PNG filter Up and chunk assembly"
    elif "depth_to_rgb24" in symbol:
        part = "depth to RGB24"
    elif dso.startswith("[kernel"):
        part = "kernel (page faults, file writes, scheduling)"
    elif "memmove" in symbol or "memcpy" in symbol or "memset" in symbol:
        part = "memory copies"
    elif "nut" in symbol.lower():
        part = "NUT muxing"
    elif dso.startswith("libpython") or dso.startswith("python"):
        part = "Python interpreter"
    else:
        part = "other"
    return f"{thread_kind(comm)}: {part}"


def read_samples(data):
    """(samples, comm, dso, symbol) for each entry of the profile."""
    result = subprocess.run(
        ["perf", "report", "-i", str(data), "--stdio", "--no-children", "-n", "-g", "none",
         "--sort", "comm,dso,symbol", "-t", "\t"],
        capture_output=True, text=True, check=True)
    entries = []
    for line in result.stdout.splitlines():
        if not line or line.startswith("#"):
            continue
        fields = [field.strip() for field in line.split("\t")]
        if len(fields) < 5:
            continue
        symbol = fields[4].split("] ", 1)[-1]
        entries.append((int(fields[1]), fields[2], fields[3], symbol))
    return entries


def report(entries, frames):
    total = sum(samples for samples, *_ in entries)
    cpu_s = total / SAMPLE_HZ
    print(f"== {total} samples, {cpu_s:.2f} s of CPU for {frames} frames "
          f"({cpu_s / frames * 1000:.1f} ms a frame)")
    print("== by stage")
    stages = collections.Counter()
    for samples, comm, dso, symbol in entries:
        stages[stage(comm, dso, symbol)] += samples
    for name, samples in stages.most_common():
        print(f"  {100 * samples / total:5.1f}%  {samples / SAMPLE_HZ / frames * 1000:6.2f} ms/frame"
              f"  {name}")
    print("== functions with 1% of the samples or more (libz's own functions have no symbols)")
    functions = collections.Counter()
    for samples, comm, dso, symbol in entries:
        functions[(thread_kind(comm), dso, symbol)] += samples
    for (kind, dso, symbol), samples in functions.most_common():
        if samples < total / 100:
            break
        print(f"  {100 * samples / total:5.1f}%  {kind:<15} {dso[:36]:<36} {symbol[:60]}")


def main(argv):
    if len(argv) == 5 and argv[1] == "--workload":
        workload(int(argv[2]), argv[3], argv[4])
        return 0
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    frames = int(argv[2]) if len(argv) == 3 else 150
    with DevDaemon(argv[1]) as daemon, tempfile.TemporaryDirectory() as scratch:
        data = pathlib.Path(scratch, "perf.data")
        control, ack = pathlib.Path(scratch, "control"), pathlib.Path(scratch, "ack")
        os.mkfifo(control)
        os.mkfifo(ack)
        subprocess.run(
            ["perf", "record", "-q", "-e", "cpu-clock", "-F", str(SAMPLE_HZ), "-D", "-1",
             f"--control=fifo:{control},{ack}", "-o", str(data), "--", sys.executable,
             str(HERE / "profile_video.py"), "--workload", str(frames), str(control), str(ack)],
            cwd=daemon.sandbox.path, env=daemon.child_env(), check=True)
        report(read_samples(data), 2 * frames)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
