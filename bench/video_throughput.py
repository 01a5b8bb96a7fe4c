"""Sustained video throughput: frames a second from the first log_frame, through flush_source,
to sealed and announced chunks, for 640×480 and 1920×1080 RGB frames of a photograph panned from
frame to frame; against Pillow saving the same frames as PNG files (compress_level=1) from a pool
of four threads, the way common robot-dataset recorders write camera frames. Both write to the
same file system. The two alternate for a few rounds; each figure is the best round.
Run by bench/report.py in a sandbox with a development daemon listening.
"""
import json
import os
import pathlib
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

from PIL import Image
from quillspan.data_daemon import _data_bridge as bridge

from local_daemon import DaemonOutput, is_variant
from natural_frames import natural_frames
from rows import emit, note

ROUNDS = 2
ROBOT = "bench-cam"
CASES = ((640, 480, 90), (1920, 1080, 30))


def ours(frames, width, height, name, daemon):
    daemon.new_lines()  # forget what came before
    start = time.perf_counter()
    timestamp_ns = time.time_ns()
    for i, frame in enumerate(frames):
        bridge.log_frame(ROBOT, 0, "RGB_IMAGES", name, width, height, "uint8", frame,
                         timestamp_ns + i * 33_333_333)
    bridge.flush_source(ROBOT, 0)
    elapsed = time.perf_counter() - start
    # flush_source returns once the SourceFlushed and every chunk announced before it were
    # published; the daemon prints them in that order.
    lines = daemon.wait_for_line(lambda line: is_variant(line, "SourceFlushed"), "SourceFlushed")
    announced = sum(json.loads(line)["frame_count"] for line in lines
                    if is_variant(line, "VideoChunkReady"))
    if announced != len(frames):
        raise RuntimeError(f"{len(frames)} frames logged, {announced} announced in chunks")
    return len(frames) / elapsed


def pillow(frames, directory):
    def save(numbered):
        index, frame = numbered
        Image.fromarray(frame).save(directory / f"frame_{index}.png", format="PNG",
                                    compress_level=1)

    start = time.perf_counter()
    with ThreadPoolExecutor(max_workers=4) as pool:
        list(pool.map(save, enumerate(frames)))
    return len(frames) / (time.perf_counter() - start)


def main():
    daemon = DaemonOutput(os.environ["DDB_DAEMON_OUTPUT"])
    with tempfile.TemporaryDirectory(prefix="ddb-pillow-") as scratch:
        for width, height, count in CASES:
            frames = natural_frames(width, height, count)
            best_ours = best_pillow = 0.0
            for round_ in range(ROUNDS):
                name = f"cam_{width}_{round_}"
                best_ours = max(best_ours, ours(frames, width, height, name, daemon))
                directory = pathlib.Path(scratch, f"{width}_{round_}")
                directory.mkdir()
                best_pillow = max(best_pillow, pillow(frames, directory))
            note(f"video_throughput: {width}x{height} done")
            emit(4, "video frames to sealed chunks", f"{width}x{height} RGB, {count} frames",
                 best_ours, "Pillow PNG level 1, 4 threads", best_pillow, "/s")


if __name__ == "__main__":
    main()
