"""Runs every benchmark and prints one table (scripts/bench.sh runs this after building).

    python3 bench/report.py BUILD_DIR

Each Python benchmark runs in a process of its own, in a fresh sandbox with its own development
daemon (tools/local_daemon.py), and prints its rows (bench/rows.py); the C++ PNG benchmark runs
with Google Benchmark's JSON output. Every row of the table is one comparison measured side by
side in one run on the same data: the module's figure, the baseline's, and their ratio. A
benchmark that fails shows as a row saying so, and the command then exits non-zero.
"""
import json
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tools"))

from local_daemon import DevDaemon  # noqa: E402

# (item, script, the development daemon's options)
PYTHON_BENCHMARKS = (
    (1, "joints_call.py", ()),
    (2, "joints_throughput.py", ()),
    (3, "frame_call.py", ()),
    (4, "video_throughput.py", ()),
    (6, "memory_peak.py", ()),
    # The daemon takes 20,000 envelopes a second at most: half of what it can print when busy
    # itself, a fraction of what either producer publishes.
    (7, "lagging_daemon.py", ("--read-delay-us", "50")),
    # Its cases run without a daemon, each in a sandbox of its own; the daemon started here is
    # the baseline of its memory row.
    (8, "absent_daemon.py", ()),
)


def run_python_benchmark(build_dir, script, daemon_options=()):
    """The script's rows. It finds the build tree in DDB_BUILD_DIR and its daemon's options, as
    a JSON list, in DDB_DAEMON_OPTIONS."""
    with DevDaemon(build_dir, *daemon_options) as daemon:
        output = daemon.run_python(HERE / script, DDB_BUILD_DIR=build_dir,
                                   DDB_DAEMON_OPTIONS=json.dumps(daemon_options))
    return [json.loads(line) for line in output.splitlines() if line.startswith("{")]


def run_png_benchmark(build_dir, frames_dir):
    subprocess.run([sys.executable, str(HERE / "natural_frames.py"), str(frames_dir)], check=True)
    result = subprocess.run(
        [str(pathlib.Path(build_dir) / "bench" / "png_encoder_bench"), f"--frames={frames_dir}",
         "--benchmark_format=json", "--benchmark_repetitions=6",
         "--benchmark_enable_random_interleaving=true", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True)
    # Repetitions of the four benchmarks run in a random order, so that a change in the machine's
    # load during the run falls on both encoders alike; each figure is the median repetition.
    medians = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            medians[entry["run_name"]] = entry
    rows = []
    for frame_set, words in (("photo", "photograph"), ("noisy", "noisy scene")):
        for width, height in ((640, 480), (1920, 1080)):
            name = f"{frame_set}_{width}x{height}"
            ours = medians[f"encode_png_rgb24/{name}"]
            libpng = medians[f"libpng/{name}"]
            case = f"{width}x{height} RGB, {words}"
            # One thread each: the CPU time is the encoder's own, whatever else the machine runs.
            rows.append(row(5, "PNG encoder, one thread, CPU time per frame", case,
                            seconds(ours), "libpng, filter Up, zlib level 1", seconds(libpng),
                            "s"))
            rows.append(row(5, "PNG encoder, encoded size per frame", case, ours["png_bytes"],
                            "libpng, filter Up, zlib level 1", libpng["png_bytes"], "B"))
    return rows


def seconds(entry):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
    return entry["cpu_time"] * scale


def row(item, what, case, ours, baseline_name, baseline, unit):
    return {"item": item, "what": what, "case": case, "ours": ours,
            "baseline_name": baseline_name, "baseline": baseline, "unit": unit}


def failed_row(item, what, error):
    """A benchmark that failed; its own output (stderr) says why."""
    reason = (f"exit status {error.returncode}" if isinstance(error, subprocess.CalledProcessError)
              else str(error).strip().splitlines()[-1][:60])
    return {"item": item, "what": what, "failed": f"{reason}; see its output above"}


def show(value, unit):
    if unit == "s":
        for scale, name in ((1.0, "s"), (1e-3, "ms"), (1e-6, "us")):
            if value >= scale:
                return f"{value / scale:.3g} {name}"
        return f"{value / 1e-9:.3g} ns"
    if unit == "/s":
        return f"{value:,.0f}/s" if value >= 100 else f"{value:.3g}/s"
    if unit == "B":
        if value >= 1024 * 1024:
            return f"{value / (1024 * 1024):.1f} MiB"
        return f"{value / 1024:.0f} KiB"
    return f"{value:.3g}"


def verdict(ratio, unit):
    """The ratio in words: how the module compares with the baseline."""
    higher_is_better = unit == "/s"
    better = ratio > 1 if higher_is_better else ratio < 1
    words = {"s": ("faster", "slower"), "/s": ("higher", "lower"), "B": ("smaller", "larger")}
    factor = ratio if ratio >= 1 else 1 / ratio
    return f"{factor:.2f}x {words[unit][0 if better else 1]}"


def table(rows):
    header = ("#", "measure", "case", "ours", "baseline", "baseline value", "ours/baseline",
              "ours is")
    lines = [header]
    for r in sorted(rows, key=lambda r: r["item"]):
        if "failed" in r:
            lines.append((str(r["item"]), r["what"], "FAILED", r["failed"], "", "", "", ""))
            continue
        ratio = r["ours"] / r["baseline"]
        lines.append((str(r["item"]), r["what"], r["case"], show(r["ours"], r["unit"]),
                      r["baseline_name"], show(r["baseline"], r["unit"]), f"{ratio:.3g}",
                      verdict(ratio, r["unit"])))
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    out = []
    for n, line in enumerate(lines):
        out.append("  ".join(cell.ljust(widths[i]) for i, cell in enumerate(line)).rstrip())
        if n == 0:
            out.append("  ".join("-" * w for w in widths))
    return "\n".join(out)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    build_dir = pathlib.Path(argv[1]).resolve()
    rows = []
    for item, script, daemon_options in PYTHON_BENCHMARKS:
        print(f"bench: {script}", file=sys.stderr, flush=True)
        try:
            rows += run_python_benchmark(build_dir, script, daemon_options)
        except (subprocess.CalledProcessError, RuntimeError) as error:
            rows.append(failed_row(item, script, error))
    print("bench: png_encoder_bench", file=sys.stderr, flush=True)
    with tempfile.TemporaryDirectory(prefix="ddb-frames-") as frames_dir:
        try:
            rows += run_png_benchmark(build_dir, frames_dir)
        except (subprocess.CalledProcessError, KeyError) as error:
            rows.append(failed_row(5, "png_encoder_bench", error))
    print()
    print(table(rows))
    print()
    print("Times: lower is better; rates: higher is better; sizes: smaller is better. "
          "Each row's two figures come from one run on the same data.")
    return 1 if any("failed" in r for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
