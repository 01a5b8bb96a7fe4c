"""log_frame: what one call costs the calling thread for 640×480 and 1920×1080 RGB frames, against
one copy of the same bytes in Python (bytes(frame)). Each log_frame is followed by flush_source
(not timed), so that every call finds the writer idle and the figure is the call's own cost;
each figure is the median over the calls.
Run by bench/report.py in a sandbox with a development daemon listening.
"""
import time

from quillspan.data_daemon import _data_bridge as bridge

from natural_frames import natural_frames
from rows import emit, median, note

CALLS = 25
ROBOT = "bench-cam"


def main():
    for width, height in ((640, 480), (1920, 1080)):
        frames = natural_frames(width, height, 4)
        ours, copy = [], []
        for i in range(CALLS):
            frame = frames[i % len(frames)]
            start = time.perf_counter_ns()
            bridge.log_frame(ROBOT, 0, "RGB_IMAGES", f"cam_{width}", width, height, "uint8",
                             frame, time.time_ns())
            ours.append(time.perf_counter_ns() - start)
            bridge.flush_source(ROBOT, 0)
            start = time.perf_counter_ns()
            bytes(frame)
            copy.append(time.perf_counter_ns() - start)
        note(f"frame_call: {width}x{height} done")
        emit(3, "log_frame, calling thread, per frame", f"{width}x{height} RGB",
             median(ours) / 1e9, "bytes(frame)", median(copy) / 1e9, "s")


if __name__ == "__main__":
    main()
