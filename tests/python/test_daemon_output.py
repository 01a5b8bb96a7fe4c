"""The reader of the development daemon's output file (tools/local_daemon.py), through which every
test, benchmark and the main job waits for envelopes: each line is taken once and whole, in the
order written."""
import re

import pytest

from local_daemon import DaemonOutput


def append(path, data):
    with open(path, "ab") as out:
        out.write(data)


def test_lines_are_taken_once_whole_and_in_order(tmp_path):
    path = tmp_path / "daemon.jsonl"
    append(path, b"a\nb\nc\nd")  # "d" is not finished yet
    reader = DaemonOutput(path)
    # The lines after the one waited for stay for the next wait.
    assert reader.wait_for_line(lambda line: line == b"b", "b", timeout=5) == [b"a", b"b"]
    assert reader.wait_for_line(lambda line: True, "c", timeout=5) == [b"c"]
    append(path, b"e\nf\n")
    assert reader.new_lines() == [b"de", b"f"]
    assert reader.new_lines() == []


@pytest.mark.parametrize("last, outcome", [(b"wanted\n", [b"wanted"]),
                                           (b"other\n", "ended (while waiting for wanted)")])
def test_a_writer_that_ended_has_its_last_lines_read_before_the_wait_gives_up(tmp_path, last,
                                                                               outcome):
    path = tmp_path / "daemon.jsonl"
    append(path, b"")
    reader = DaemonOutput(path)

    unwritten = [last]

    def writes_and_ends():
        if unwritten:  # between the reader's last look and its check of the writer
            append(path, unwritten.pop())
        return "ended"

    def wait():
        return reader.wait_for_line(lambda line: line == b"wanted", "wanted", timeout=5,
                                    alive=writes_and_ends)

    if isinstance(outcome, list):
        assert wait() == outcome
    else:
        with pytest.raises(RuntimeError, match=re.escape(outcome)):
            wait()
