"""The module's main job (scripts/run.sh): a short recording session through the module, as a
robot SDK drives it, received by the development daemon, and a summary of what arrived.

    python3 tools/main_job.py BUILD_DIR [--seconds S]

It starts the development daemon in a private sandbox whose recordings root is temporary
(tools/local_daemon.py), runs tools/main_job_session.py against it in another process, then
prints: the envelopes the daemon received by kind, each announced chunk with its frame count
and size and ffmpeg's decoding of it, and the achieved rates. It exits with status 1 when
anything logged is missing, out of order or undecodable, and 2 when the session itself fails.
"""
import argparse
import collections
import json
import pathlib
import re
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from local_daemon import DevDaemon, is_variant  # noqa: E402

SESSION = pathlib.Path(__file__).resolve().parent / "main_job_session.py"

# What each logging thread of the session logs: (envelope variant, data_type, name).
CAMERAS = {"rgb": ("RGB_IMAGES", "head_rgb"), "depth": ("DEPTH_IMAGES", "head_depth")}


# Chunk files end with their last frame, with no index, by design; ffmpeg's demuxer says so
# when it probes for the duration. These lines are no decoding errors.
NO_INDEX_NOTES = re.compile(r"read_timestamp failed|no index at the end|Last message repeated")


def decode_with_ffmpeg(path):
    """(MD5 of each frame decoded, width, height, errors) of a chunk file: ffmpeg decodes every
    frame to 24-bit RGB and prints one checksum line per frame, each frame as it is (no
    frame-rate conversion)."""
    result = subprocess.run(
        ["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-map", "0:v:0", "-fps_mode",
         "passthrough", "-pix_fmt", "rgb24", "-f", "framemd5", "-"],
        capture_output=True, text=True)
    errors = "; ".join(line.strip() for line in result.stderr.splitlines()
                       if line.strip() and not NO_INDEX_NOTES.search(line))
    if result.returncode != 0:
        errors = errors or f"ffmpeg exited with {result.returncode}"
    digests = [line.split(",")[-1].strip() for line in result.stdout.splitlines()
               if line and not line.startswith("#")]
    size = re.search(r"^#dimensions 0: (\d+)x(\d+)$", result.stdout, re.M)
    width, height = (int(size.group(1)), int(size.group(2))) if size else (0, 0)
    return digests, width, height, errors


class Summary:
    def __init__(self):
        self.problems = []

    def check(self, ok, problem):
        if not ok:
            self.problems.append(problem)
        return ok


def check_samples(envelopes, logged, report, summary):
    joints = [e for e in envelopes if e.get("variant") == "BatchedData"]
    data = [e for e in envelopes if e.get("variant") == "Data"]
    summary.check(len(joints) == logged["joints"],
                  f"{logged['joints']} joint frames logged, {len(joints)} BatchedData received")
    summary.check(all(len(e["samples"]) == report["joints_per_call"] for e in joints),
                  "a BatchedData envelope does not carry one sample per joint")
    stamps = [e["timestamp_ns"] for e in joints]
    summary.check(all(a < b for a, b in zip(stamps, stamps[1:])),
                  "joint frames arrived out of their logging order")
    summary.check(len(data) == logged["json"],
                  f"{logged['json']} JSON samples logged, {len(data)} Data received")
    ticks = [json.loads(bytes.fromhex(e["payload"]))["tick"] for e in data]
    summary.check(ticks == list(range(len(ticks))), "JSON samples arrived out of order or changed")
    for variant in ("StartRecording", "StopRecording", "SourceFlushed"):
        count = sum(1 for e in envelopes if e.get("variant") == variant)
        summary.check(count == 1, f"{count} {variant} envelopes received, expected 1")
    undecoded = [e for e in envelopes if "error" in e]
    summary.check(not undecoded, f"{len(undecoded)} envelopes did not decode")
    # The daemon reads the samples (the data publisher's) and the stop (the calling thread's)
    # from two publishers, so it may print them in either order; what stop_recording promises
    # is that every sample logged before it was published before the stop's clock reading.
    stops = [e for e in envelopes if e.get("variant") == "StopRecording"]
    if stops:
        stop_ns = stops[0]["publish_timestamp_ns"]
        late = [e for e in joints + data if e["publish_timestamp_ns"] >= stop_ns]
        summary.check(not late, f"{len(late)} samples logged before stop_recording carry a "
                      "publish time at or after the stop's")


def check_chunks(envelopes, report, daemon, summary):
    """Checks every announced chunk against its file and ffmpeg's decoding of it, and the RGB
    camera's decoded frames against the frames logged; returns the lines to print."""
    logged = report["logged"]
    lines = []
    spool = daemon.recordings_root / ".rgb_spool"
    announced_files = set()
    for kind, (data_type, name) in CAMERAS.items():
        chunks = [e for e in envelopes if e.get("variant") == "VideoChunkReady"
                  and e["data_type"] == data_type and e["name"] == name]
        total = 0
        stamps = []
        digests = []
        for chunk in chunks:
            path = (spool / chunk["robot_id"] / str(chunk["robot_instance"]) / data_type / name /
                    f"chunk_{chunk['chunk_start_ns']}_{chunk['writer_thread_id']}.nut")
            announced_files.add(path)
            total += chunk["frame_count"]
            stamps += chunk["frame_timestamps_ns"]
            size = path.stat().st_size if path.exists() else None
            frames, width, height, errors = (decode_with_ffmpeg(path) if size is not None
                                             else ([], 0, 0, "file missing"))
            digests += frames
            decoded = len(frames)
            ok = all([
                summary.check(size is not None, f"{path.name}: announced but missing"),
                summary.check(size is None or size == chunk["bytes_written"],
                              f"{path.name}: {size} bytes on disk, {chunk['bytes_written']} "
                              "announced"),
                summary.check(decoded == chunk["frame_count"] and not errors,
                              f"{path.name}: ffmpeg decoded {decoded} of {chunk['frame_count']} "
                              f"frames{': ' + errors if errors else ''}"),
                summary.check((width, height) == (chunk["width"], chunk["height"]),
                              f"{path.name}: ffmpeg sees {width}x{height}"),
            ])
            lines.append(f"  {data_type}/{name}  {path.name}  {chunk['width']}x{chunk['height']} "
                         f"{chunk['dtype']}  {chunk['frame_count']} frames  "
                         f"{chunk['bytes_written'] / 1048576:.1f} MiB  "
                         f"ffmpeg: {decoded} frames decoded  {'ok' if ok else 'FAILED'}")
        summary.check(total == logged[kind],
                      f"{data_type}/{name}: {logged[kind]} frames logged, {total} in chunks")
        summary.check(all(a < b for a, b in zip(stamps, stamps[1:])),
                      f"{data_type}/{name}: frames out of their logging order")
        if kind == "rgb":
            summary.check(digests == report["rgb_md5"],
                          f"{data_type}/{name}: the decoded frames differ from the frames logged")
    on_disk = set(spool.rglob("*.nut")) if spool.exists() else set()
    for path in sorted(on_disk - announced_files):
        summary.check(False, f"{path.relative_to(spool)}: chunk file never announced")
    return lines


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--seconds", type=float, default=6.0)
    args = parser.parse_args(argv[1:])

    with DevDaemon(args.build_dir, "--version-text", "dev-main-job", "--recording-id",
                     "rec-main-job-1") as daemon:
        print(f"main job: development daemon up, recordings root {daemon.recordings_root}")
        print(f"main job: recording for {args.seconds:g} s (joints 50 x 500 Hz, JSON 50 Hz, "
              "RGB and depth cameras 640x480 at 30 fps)", flush=True)
        try:
            report = json.loads(daemon.run_python(SESSION, args.seconds))
        except subprocess.CalledProcessError as error:
            print(f"main job: the session failed with status {error.returncode}")
            return 2
        # flush_source returned once its SourceFlushed was published behind every sample and
        # chunk announcement; the stop came from another publisher, so it may be printed later.
        # What does not arrive is reported below, with everything else missing.
        try:
            seen = daemon.wait_for_line(lambda line: is_variant(line, "SourceFlushed"),
                                        "SourceFlushed")
            if not any(is_variant(line, "StopRecording") for line in seen):
                daemon.wait_for_line(lambda line: is_variant(line, "StopRecording"),
                                     "StopRecording", timeout=5.0)
        except RuntimeError as error:
            print(f"main job: {error}")
        envelopes = daemon.all_envelopes()
        logged = report["logged"]
        summary = Summary()

        print()
        print(f"Logged by the session ({report['robot_id']}/{report['robot_instance']}, daemon "
              f"version {report['daemon_version']!r}, recording id "
              f"{report['recording_id']!r}):")
        print(f"  {logged['joints']} joint frames ({logged['joints'] * report['joints_per_call']} "
              f"joint samples), {logged['json']} JSON samples, {logged['rgb']} RGB frames, "
              f"{logged['depth']} depth frames")
        print()
        print("Envelopes received by the daemon, by kind:")
        by_kind = collections.Counter(e.get("variant", "undecodable") for e in envelopes)
        for kind, count in sorted(by_kind.items()):
            print(f"  {kind:<16} {count}")
        print()
        check_samples(envelopes, logged, report, summary)
        summary.check(report["recording_id"] == "rec-main-job-1",
                      f"get_recording_id answered {report['recording_id']!r}")
        print("Chunks announced (VideoChunkReady), each decoded by ffmpeg:")
        for line in check_chunks(envelopes, report, daemon, summary):
            print(line)
        print()
        print("Achieved rates (logging threads):")
        for kind, rate in report["rates"].items():
            print(f"  {kind:<6} {rate:8.1f}/s  (target {report['targets'][kind]}/s)")
        print(f"  stop_recording took {report['stop_recording_s'] * 1000:.1f} ms, "
              f"flush_source {report['flush_source_s'] * 1000:.1f} ms")
        print()
        if summary.problems:
            print("main job: FAILED")
            for problem in summary.problems:
                print(f"  - {problem}")
            return 1
        print("main job: OK: everything logged reached the daemon in order, every chunk decodes, "
              "and the RGB frames decode to the pixels logged")
        return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
