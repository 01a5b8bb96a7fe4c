"""What the module drops or fails to do off the calling threads shows on the process's stderr
when the host installed no event sink: one line per event, a burst folded into a count."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

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


def test_event_lines_escape_what_would_steer_a_terminal(daemon, tmp_path):
    # C1 controls (CSI), bidirectional controls and a line separator in a robot id reach the line
    # through the chunk's path.
    robot = "r\u009b31m\u202e\u2066\u2028x"
    (tmp_path / ".rgb_spool").write_text("not a directory")
    script = FRAMES_THAT_CANNOT_BE_WRITTEN.replace('"robot"', repr(robot))
    env = dict(os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path))
    done = subprocess.run([sys.executable, "-c", script, PACKAGE_ROOT], env=env,
                          capture_output=True, timeout=WAIT_S)
    assert done.returncode == 0, done.stderr
    [line] = [line for line in done.stderr.decode().splitlines()
              if "failed to open NUT chunk; dropping frame " in line]
    assert "/r\\u{9b}31m\\u{202e}\\u{2066}\\u{2028}x/0/RGB_IMAGES/cam/" in line, line
    assert not re.search("[\u0080-\u009f\u202a-\u202e\u2066-\u2069\u2028\u2029]", line), line


# Frames whose timestamps do not advance make the writer warn, once a chunk. The host closes its
# stderr after the import (or was started without one), so that the next files opened, chunk
# files and IPC files among them, may take descriptor 2. The pauses keep the warnings about the
# chunks opened after the close from being folded into the first one.
CLOSES_ITS_STDERR = textwrap.dedent("""
    import os, sys, time
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    FRAME = bytes(2 * 2 * 3)
    def frames(name):
        for _ in range(5):
            bridge.log_frame("closed", 0, "RGB_IMAGES", name, 2, 2, "uint8", FRAME, 7)
        bridge.flush_source("closed", 0)
    if sys.argv[3] == "after-import":
        frames("open")  # every thread and IPC file of the module exists before the close
        os.close(2)
    time.sleep(1.1)
    for cam in range(3):
        frames(f"cam{cam}")  # a new chunk file each
    with open(sys.argv[2], "w") as host_file:  # the host's own file may take descriptor 2 now
        time.sleep(1.1)
        frames("late")
    print("done", flush=True)
""")


@pytest.mark.parametrize("closed", ["after-import", "at-start"])
def test_a_host_without_its_stderr_gets_no_line_in_any_file(closed, daemon, tmp_path,
                                                            private_ipc_namespace):
    from test_video import decode

    host_file = tmp_path / "host-data.txt"
    env = dict(os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path))
    done = subprocess.run(
        [sys.executable, "-c", CLOSES_ITS_STDERR, PACKAGE_ROOT, str(host_file), closed], env=env,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE if closed == "after-import" else None,
        preexec_fn=(lambda: os.close(2)) if closed == "at-start" else None, timeout=WAIT_S * 2)
    assert done.returncode == 0, done.stderr
    assert done.stdout == b"done\n"
    if closed == "after-import":  # while stderr was open, the warning went there
        assert b"video frame timestamp did not advance" in done.stderr, done.stderr
    assert host_file.read_bytes() == b""
    chunks = sorted(tmp_path.glob(".rgb_spool/closed/0/RGB_IMAGES/*/*.nut"))
    cameras = {"cam0", "cam1", "cam2", "late"} | ({"open"} if closed == "after-import" else set())
    assert {chunk.parent.name for chunk in chunks} == cameras
    for chunk in chunks:
        assert b"data_daemon_bridge" not in chunk.read_bytes(), chunk
        assert len(decode(chunk)) == 5 * 12, chunk
    # Nor the IPC library's files. Searched from another process: closing a file of this one would
    # drop the locks that keep this process's own IPC node alive.
    found = subprocess.run(["grep", "-r", "-l", "-D", "skip", "data_daemon_bridge",
                            str(private_ipc_namespace.path)], capture_output=True, text=True)
    assert found.returncode == 1, found.stdout + found.stderr


def run_with_stderr_pipe(script, env, full=False, close_reader=False):
    """Runs script with its stderr the write end of a pipe whose read end stays here, unread:
    filled up before the start when full, closed once the script has imported the module when
    close_reader (the script then waits for a line on stdin). Returns the exit status and what the
    script printed."""
    read_end, write_end = os.pipe()
    try:
        if full:
            os.set_blocking(write_end, False)
            try:
                while True:
                    os.write(write_end, b"x" * 4096)
            except BlockingIOError:
                pass
            os.set_blocking(write_end, True)  # the script's stderr blocks, as a host's does
        child = subprocess.Popen([sys.executable, "-c", script, PACKAGE_ROOT], env=env,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=write_end)
    finally:
        os.close(write_end)
    try:
        assert child.stdout.readline() == b"imported\n"
        if close_reader:
            os.close(read_end)
            read_end = None
        child.stdin.write(b"go\n")
        child.stdin.close()
        out = child.stdout.read()
        return child.wait(timeout=WAIT_S * 2), out
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        if read_end is not None:
            os.close(read_end)


# A host that keeps SIGPIPE at its default action, as command-line tools and embedders do, and
# whose stderr is a pipe that nobody reads any more by the time the writer warns.
READERLESS_STDERR = textwrap.dedent("""
    import signal, sys
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    print("imported", flush=True)
    sys.stdin.readline()
    for i in range(5):
        bridge.log_frame("readerless", 0, "RGB_IMAGES", "cam", 2, 2, "uint8", bytes(12), i)
    bridge.flush_source("readerless", 0)
    print("survived", flush=True)
""")


# Frames flow from several threads while the host's own thread writes to its stderr too; the
# stderr pipe is full and nobody drains it; then the interpreter exits.
FULL_STDERR = textwrap.dedent("""
    import os, sys, threading
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    print("imported", flush=True)
    sys.stdin.readline()
    def host_writes():
        while True:
            os.write(2, b"host line\\n")
    threading.Thread(target=host_writes, daemon=True).start()
    def camera(name):
        for i in range(200):
            bridge.log_frame("full", 0, "RGB_IMAGES", name, 2, 2, "uint8", bytes(12), i)
    cameras = [threading.Thread(target=camera, args=(f"cam{k}",)) for k in range(3)]
    for thread in cameras:
        thread.start()
    for thread in cameras:
        thread.join()
    bridge.flush_source("full", 0)
    print("returned", flush=True)
""")


@pytest.mark.parametrize("script,pipe,last_line", [
    pytest.param(READERLESS_STDERR, {"close_reader": True}, b"survived\n", id="reader-gone"),
    pytest.param(FULL_STDERR, {"full": True}, b"returned\n", id="full-never-drained"),
])
def test_a_stderr_pipe_nobody_reads_neither_ends_nor_stalls_the_host(script, pipe, last_line,
                                                                      daemon, tmp_path):
    (tmp_path / ".rgb_spool").write_text("not a directory")  # every frame is dropped, with a WARN
    env = dict(os.environ, QUILLSPAN_DAEMON_RECORDINGS_ROOT=str(tmp_path))
    status, out = run_with_stderr_pipe(script, env, **pipe)
    assert status == 0, f"exit status {status}"  # neither a signal nor a hang at exit
    assert out == last_line  # and every call returned
