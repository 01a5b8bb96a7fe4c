"""Peak memory while frames arrive faster than they can be compressed: 1920×1080 RGB frames
logged back to back (a copy each takes about a millisecond, a PNG several tens), so the writer
queue fills to its 256 MiB cap and log_frame waits on it. The figure is the growth of the
process's resident set over the run (sampled every 2 ms from /proc), against the cap.
Run by bench/report.py in a sandbox with a development daemon listening.
"""
import os
import threading
import time

from quillspan.data_daemon import _data_bridge as bridge

from natural_frames import natural_frames
from rows import emit, note

FRAMES = 160  # about 1 GB of pixels, four times the cap
QUEUE_CAP_BYTES = 256 * 1024 * 1024
ROBOT = "bench-cam"
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


class PeakSampler(threading.Thread):
    def __init__(self):
        super().__init__(daemon=True)
        self.peak = resident_bytes()
        self.done = threading.Event()

    def run(self):
        while not self.done.wait(0.002):
            self.peak = max(self.peak, resident_bytes())


def main():
    width, height = 1920, 1080
    frames = natural_frames(width, height, 8)
    # Start the writer and its compression threads first, so their stacks and scratch buffers
    # count in the baseline rather than as queue growth.
    bridge.log_frame(ROBOT, 0, "RGB_IMAGES", "warmup", width, height, "uint8", frames[0], 0)
    bridge.flush_source(ROBOT, 0)
    baseline = resident_bytes()
    sampler = PeakSampler()
    sampler.start()
    start = time.perf_counter()
    timestamp_ns = time.time_ns()
    for i in range(FRAMES):
        bridge.log_frame(ROBOT, 0, "RGB_IMAGES", "flood", width, height, "uint8",
                         frames[i % len(frames)], timestamp_ns + i * 33_333_333)
    logged = time.perf_counter() - start
    bridge.flush_source(ROBOT, 0)
    sampler.done.set()
    sampler.join()
    sampler.peak = max(sampler.peak, resident_bytes())
    note(f"memory_peak: {FRAMES} frames logged in {logged:.1f} s")
    emit(6, "resident memory growth, frames arriving faster than compressed",
         f"{width}x{height} RGB, {FRAMES} frames", sampler.peak - baseline,
         "writer queue cap", QUEUE_CAP_BYTES, "B")


if __name__ == "__main__":
    main()
