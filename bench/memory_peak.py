"""Peak memory while frames arrive faster than they can be compressed: 1920×1080 RGB frames
logged back to back (a copy each takes about a millisecond, a PNG several tens), so the writer
queue fills to its 256 MiB cap and log_frame waits on it; once from one camera, once from three
cameras logging from three threads. The figure is the growth of the process's resident set over
the run (sampled every 2 ms from /proc), against the cap. Each case runs in a process of its own,
so that neither inherits the other's memory.
Run by bench/report.py in a sandbox with a development daemon listening.
"""
import os
import subprocess
import sys
import threading
import time

from rows import note

FRAMES = 160  # about 1 GB of pixels, four times the cap, in each case
QUEUE_CAP_BYTES = 256 * 1024 * 1024
ROBOT = "bench-cam"
PAGE = os.sysconf("SC_PAGE_SIZE")
WIDTH, HEIGHT = 1920, 1080


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


def measure(cameras):
    """Runs the case in this process and emits its row."""
    from quillspan.data_daemon import _data_bridge as bridge

    from natural_frames import natural_frames
    from rows import emit

    frames = natural_frames(WIDTH, HEIGHT, 8)
    # Start the writer and its compression threads first, and give each of them (up to four) a
    # frame, so that their stacks and scratch buffers count in the baseline rather than as queue
    # growth.
    for i in range(4):
        bridge.log_frame(ROBOT, 0, "RGB_IMAGES", "warmup", WIDTH, HEIGHT, "uint8", frames[i],
                         i * 33_333_333)
    bridge.flush_source(ROBOT, 0)
    baseline = resident_bytes()
    sampler = PeakSampler()
    sampler.start()
    timestamp_ns = time.time_ns()
    per_camera = -(-FRAMES // cameras)

    def camera(index):
        for i in range(per_camera):
            bridge.log_frame(ROBOT, 0, "RGB_IMAGES", f"flood{index}", WIDTH, HEIGHT, "uint8",
                             frames[(i + index) % len(frames)], timestamp_ns + i * 33_333_333)

    start = time.perf_counter()
    threads = [threading.Thread(target=camera, args=(c,)) for c in range(cameras)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    logged = time.perf_counter() - start
    bridge.flush_source(ROBOT, 0)
    sampler.done.set()
    sampler.join()
    sampler.peak = max(sampler.peak, resident_bytes())
    note(f"memory_peak: {per_camera * cameras} frames from {cameras} camera(s) logged in "
         f"{logged:.1f} s")
    what = "one camera" if cameras == 1 else f"{cameras} cameras on {cameras} threads"
    emit(6, "resident memory growth, frames arriving faster than compressed",
         f"{WIDTH}x{HEIGHT} RGB, {what}, {per_camera * cameras} frames",
         sampler.peak - baseline, "writer queue cap", QUEUE_CAP_BYTES, "B")
    sys.stdout.flush()
    os._exit(0)  # the module's threads and their memory end with the process


def main():
    if len(sys.argv) > 1:
        measure(int(sys.argv[1]))
    for cameras in (1, 3):
        subprocess.run([sys.executable, __file__, str(cameras)], check=True)


if __name__ == "__main__":
    main()
