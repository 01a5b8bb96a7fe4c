"""Recording start, stop and configuration refresh, decoded by the development daemon, and the
same commands with no daemon listening."""
import threading
import time

import pytest

from quillspan.data_daemon import _data_bridge as bridge

NO_SUBSCRIBER = "failed to send sample: no data-daemon command subscriber connected within 5s"


class Instance:
    """An integer-like robot instance."""

    def __index__(self):
        return 7


def test_start_recording_returns_the_capture_time_it_sent(daemon):
    before = time.time_ns()
    returned = bridge.start_recording("arm", 3)
    after = time.time_ns()
    assert before <= returned <= after
    assert daemon.next_envelope() == {
        "variant": "StartRecording", "robot_id": "arm", "robot_instance": 3,
        "robot_name": None, "dataset_id": None, "dataset_name": None,
        "publish_timestamp_ns": returned, "timestamp_ns": returned, "cloud_recording_id": None}


@pytest.mark.parametrize("call, expected", [
    pytest.param(dict(robot_id="arm", robot_instance=0, timestamp_ns=5),
                 dict(robot_instance=0, timestamp_ns=5), id="given-capture-time"),
    pytest.param(dict(robot_id="arm", robot_instance=True, timestamp_ns=-1, robot_name=""),
                 dict(robot_instance=1, timestamp_ns=-1, robot_name=""), id="bool-and-empty-name"),
    pytest.param(dict(robot_id="bras-ü", robot_instance=Instance(), dataset_id="d1",
                      dataset_name="set", cloud_recording_id="rec-9", timestamp_ns=2**63 - 1),
                 dict(robot_id="bras-ü", robot_instance=7, dataset_id="d1", dataset_name="set",
                      cloud_recording_id="rec-9", timestamp_ns=2**63 - 1), id="all-fields"),
    pytest.param(dict(robot_id="arm", robot_instance=-(2**63), robot_name=None, timestamp_ns=None),
                 dict(robot_instance=-(2**63)), id="none-is-absent"),
])
def test_start_recording_fields(daemon, call, expected):
    before = time.time_ns()
    returned = bridge.start_recording(**call)
    after = time.time_ns()
    envelope = daemon.next_envelope()
    publish = envelope.pop("publish_timestamp_ns")
    assert before <= publish <= after
    fields = dict(variant="StartRecording", robot_id="arm", robot_name=None, dataset_id=None,
                  dataset_name=None, cloud_recording_id=None, timestamp_ns=publish)
    fields.update(expected)
    assert envelope == fields
    assert returned == fields["timestamp_ns"]


@pytest.mark.parametrize("timestamp", [None, 12345])
def test_stop_recording(daemon, timestamp):
    before = time.time_ns()
    assert bridge.stop_recording("arm", 2, timestamp_ns=timestamp) is None
    after = time.time_ns()
    envelope = daemon.next_envelope()
    assert envelope["variant"] == "StopRecording"
    assert (envelope["robot_id"], envelope["robot_instance"]) == ("arm", 2)
    assert before <= envelope["publish_timestamp_ns"] <= after
    expected = envelope["publish_timestamp_ns"] if timestamp is None else timestamp
    assert envelope["timestamp_ns"] == expected


def test_one_threads_commands_arrive_in_call_order(daemon):
    with pytest.raises(ValueError):
        bridge.start_recording("", 0)  # refused before anything is sent
    start = bridge.start_recording("arm", 0)
    assert bridge.refresh_config() is None
    bridge.stop_recording("arm", 0)
    received = daemon.envelopes(3)
    assert [e["variant"] for e in received] == ["StartRecording", "RefreshConfig",
                                                "StopRecording"]
    assert received[0]["timestamp_ns"] == start
    assert received[1] == {"variant": "RefreshConfig"}
    daemon.assert_quiet()


def log_a_joint_then_stop():
    bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", [1.0], 1)
    bridge.stop_recording("arm", 0)


def test_commands_without_a_daemon_fail_after_the_subscriber_wait():
    """Each call waits for a subscriber with the interpreter lock released, on its own thread's
    publisher, and then raises. A ticker thread keeps running meanwhile. stop_recording first
    drains the samples queued before it, within its one subscriber wait: with nobody listening,
    the publisher thread may spend that wait on the queued joint frame, and the stop then gets
    what is left of it."""
    ticks = 0
    stop_ticking = threading.Event()

    def ticker():
        nonlocal ticks
        while not stop_ticking.wait(0.01):
            ticks += 1

    outcomes = {}

    def attempt(name, call):
        started = time.monotonic()
        ticks_before = ticks
        try:
            call()
            outcomes[name] = ("returned", None, None)
        except BaseException as error:  # recorded for the main thread
            outcomes[name] = (error, time.monotonic() - started, ticks - ticks_before)

    calls = {
        "start_recording": lambda: bridge.start_recording("arm", 0),
        "refresh_config": bridge.refresh_config,
        "stop_recording": log_a_joint_then_stop,
    }
    least_waits = {"start_recording": 5.0, "refresh_config": 5.0, "stop_recording": 5.0}
    ticking = threading.Thread(target=ticker)
    ticking.start()
    threads = [threading.Thread(target=attempt, args=item) for item in calls.items()]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    stop_ticking.set()
    ticking.join()

    assert set(outcomes) == set(calls)
    for name, (error, elapsed, ticks_during) in outcomes.items():
        assert type(error) is RuntimeError, name
        assert error.args == (NO_SUBSCRIBER,), name
        assert elapsed >= least_waits[name], name
        # The ticker ran about every 10 ms during the call: the lock was released.
        assert ticks_during >= 50, name
