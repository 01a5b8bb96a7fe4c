"""The three daemon queries against the development daemon: answered, answered too late for a
query's reply window, answered "not ready" or "no id yet", and not answered at all."""
import math
import time

import pytest

from quillspan.data_daemon import _data_bridge as bridge


def recording_id(timeout_s):
    return bridge.get_recording_id("arm", 0, 1_700_000_000_000_000_000, timeout_s)


def test_answers_from_a_daemon(start_daemon):
    start_daemon("--ready-value", "4294967295", "--version-text", "2.1.0-é",
                 "--recording-id", "rec-0042")
    assert bridge.wait_until_ready(5.0) == 4294967295
    assert bridge.daemon_version(timeout_s=5) == "2.1.0-é"
    assert recording_id(5.0) == "rec-0042"


@pytest.mark.parametrize("timeout_s", [0.0, -1.0, math.nan])
def test_a_zero_time_out_still_asks_once(start_daemon, timeout_s):
    start_daemon("--ready-value", "7", "--recording-id", "")
    assert bridge.wait_until_ready(timeout_s) == 7
    assert bridge.daemon_version(timeout_s) == "dev"
    assert recording_id(timeout_s) == ""  # an empty id is an id


@pytest.mark.parametrize("options", [
    pytest.param(("--ready-value", "0"), id="not-ready"),
    pytest.param(("--reply-delay-ms", "500", "--recording-id", "late"), id="too-late"),
])
def test_no_accepted_answer_gives_none_after_the_time_out(start_daemon, options):
    start_daemon(*options)
    started = time.monotonic()
    assert bridge.wait_until_ready(0.3) is None
    assert time.monotonic() - started >= 0.3
    if "--reply-delay-ms" in options:
        assert bridge.daemon_version(0.3) is None
        assert recording_id(0.3) is None


def test_recording_id_not_minted_yet(daemon):
    started = time.monotonic()
    assert recording_id(0.5) is None
    assert time.monotonic() - started >= 0.5


def test_no_daemon_gives_none():
    assert bridge.wait_until_ready(0) is None
    assert bridge.daemon_version(0.1) is None
    assert recording_id(math.nan) is None
