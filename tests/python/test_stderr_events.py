"""What the module drops or fails to do off the calling threads shows on the process's stderr
when the host installed no event sink: one line per event, a burst folded into a count."""
import os
import re
import subprocess
import sys
import textwrap

from conftest import PACKAGE_ROOT, WAIT_S

# Frames of one camera whose chunk cannot be created, then the flush that writes them out.
FRAMES_THAT_CANNOT_BE_WRITTEN = textwrap.dedent("""
    import sys
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    for i in range(5):
        bridge.log_frame("robot", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", bytes(12), i)
    bridge.flush_source("robot", 0)
    print("returned", flush=True)
""")


def test_frames_dropped_by_the_writer_are_reported_on_stderr(daemon, tmp_path):
    # A plain file where the spool directory must be created: no chunk can be opened, even by
    # root.
    (tmp_path / ".rgb_spool").write_text("not a directory")
    env = dict(os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path))
    done = subprocess.run([sys.executable, "-c", FRAMES_THAT_CANNOT_BE_WRITTEN, PACKAGE_ROOT],
                          env=env, capture_output=True, text=True, timeout=WAIT_S)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "returned\n"  # every call succeeded, as the caller sees it

    lines = done.stderr.splitlines()
    first = [line for line in lines if line.startswith(
        "WARN data_daemon_bridge::writer: failed to open NUT chunk; dropping frame ")]
    assert len(first) == 1, done.stderr
    path = re.escape(str(tmp_path / ".rgb_spool" / "robot" / "0" / "RGB_IMAGES" / "cam"))
    assert re.fullmatch(r'.* error="[^"]+" sensor_name="cam" path="' + path +
                        r'/chunk_\d+_\d+\.nut"', first[0]), first[0]
    # The other four frames of the burst, folded into one line.
    assert ("WARN data_daemon_bridge::writer: failed to open NUT chunk; dropping frame: "
            "4 more like this") in lines, done.stderr
    assert not [line for line in lines if line.startswith("DEBUG")]
