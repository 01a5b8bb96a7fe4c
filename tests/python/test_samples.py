"""Joint and JSON samples through the data publisher thread, and the drain that puts them on the
wire before a recording's stop."""
import json
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from conftest import PACKAGE_ROOT, WAIT_S
from quillspan.data_daemon import _data_bridge as bridge


def joint_payloads(envelope):
    """(name, decoded JSON object) for each sample of a BatchedData envelope."""
    return [(s["name"], json.loads(bytes.fromhex(s["payload"]))) for s in envelope["samples"]]


def split_at_stop(envelopes):
    """(the envelopes other than the one StopRecording, in the order received; the stop).

    The daemon reads the calling thread's commands publisher and the data publisher thread's
    publisher as two sources: a sample already delivered when the stop is sent may still be read
    after it. What the module guarantees is that every sample queued before stop_recording was
    delivered before the stop was sent, and that the stop's publish time is read after that."""
    stops = [e for e in envelopes if e["variant"] == "StopRecording"]
    assert len(stops) == 1, envelopes
    samples = [e for e in envelopes if e["variant"] != "StopRecording"]
    assert stops[0]["publish_timestamp_ns"] >= max(e["publish_timestamp_ns"] for e in samples)
    return samples, stops[0]


def test_stop_recording_comes_after_every_sample_queued_before_it(daemon):
    before = time.time_ns()
    for i in range(5):
        bridge.log_joints("arm", 1, "JOINT_POSITIONS", "shoulder\0elbow", [i, i + 0.5], 100 + i)
    # Another thread's sample, queued before the stop is called, also precedes the stop.
    other = threading.Thread(
        target=bridge.log_json, args=("arm", 1, "GRIPPER", "left", b'{"open":0.3}', 200))
    other.start()
    other.join()
    bridge.stop_recording("arm", 1, timestamp_ns=300)
    after = time.time_ns()

    samples, stop = split_at_stop(daemon.envelopes(7))
    batches, data = samples[:5], samples[5]
    for i, batch in enumerate(batches):
        assert batch["variant"] == "BatchedData"
        assert (batch["robot_id"], batch["robot_instance"], batch["data_type"]) == (
            "arm", 1, "JOINT_POSITIONS")
        assert batch["timestamp_ns"] == 100 + i
        assert batch["timestamp_s"] is None
        assert before <= batch["publish_timestamp_ns"] <= after
        t = (100 + i) / 1e9
        assert joint_payloads(batch) == [("shoulder", {"timestamp": t, "value": float(i)}),
                                         ("elbow", {"timestamp": t, "value": i + 0.5})]
    assert data["variant"] == "Data" and data["timestamp_ns"] == 200
    assert stop["timestamp_ns"] == 300
    assert before <= stop["publish_timestamp_ns"] <= after
    daemon.assert_quiet()


@pytest.mark.parametrize("names, values, timestamp_s, expected", [
    pytest.param("", [1.0], None, [("", 1.0)], id="empty-name"),
    pytest.param("a\0b", (1, 2), 2.0, [("a", 1.0), ("b", 2.0)], id="tuple-of-ints"),
    pytest.param("a\0b\0c", [0.25], None, [("a", 0.25)], id="more-names-than-values"),
    pytest.param("\0x\0", [1, 2, 3, 4], None, [("", 1.0), ("x", 2.0), ("", 3.0)],
                 id="empty-names-at-the-ends"),
])
def test_joint_frame_contents(daemon, names, values, timestamp_s, expected):
    bridge.log_joints("arm", 0, "JOINT_VELOCITIES", names, values, 5_000_000_000, timestamp_s)
    bridge.stop_recording("arm", 0)
    [batch], _ = split_at_stop(daemon.envelopes(2))
    assert batch["timestamp_s"] == timestamp_s
    t = 2.0 if timestamp_s is not None else 5.0
    assert joint_payloads(batch) == [(n, {"timestamp": t, "value": v}) for n, v in expected]


class PayloadBytes(bytes):
    pass


@pytest.mark.parametrize("payload", [
    pytest.param(b"", id="empty"),
    pytest.param(b'{"x": [1, 2.5, "\\u00e9"]}', id="json"),
    pytest.param(bytes(range(256)), id="not-json"),
    pytest.param(PayloadBytes(b'{"sub": true}'), id="bytes-subclass"),
    pytest.param(b"{" + b" " * 100_000 + b"}", id="large"),
])
def test_json_payload_arrives_unchanged(daemon, payload):
    before = time.time_ns()
    bridge.log_json("arm", 4, "CUSTOM_TYPE", "probe", payload, 77, timestamp_s=0.5)
    after = time.time_ns()
    bridge.stop_recording("arm", 4)
    [data], _ = split_at_stop(daemon.envelopes(2))
    publish = data.pop("publish_timestamp_ns")
    assert before <= publish <= after
    assert data == {"variant": "Data", "robot_id": "arm", "robot_instance": 4,
                    "data_type": "CUSTOM_TYPE", "name": "probe", "timestamp_ns": 77,
                    "timestamp_s": 0.5, "payload": bytes(payload).hex()}


def test_samples_without_a_daemon_return_at_once():
    """Samples are only queued: with nobody listening the calls still return at once (their
    first item would take the 5 s subscriber wait on the publisher thread). Run in a process
    of its own, whose queue is thrown away with it."""
    script = textwrap.dedent("""
        import time
        from quillspan.data_daemon import _data_bridge as bridge
        started = time.monotonic()
        for i in range(3):
            assert bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", [1.0], i) is None
            assert bridge.log_json("arm", 0, "POSE", "p", b"{}", i) is None
        print(time.monotonic() - started)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=WAIT_S, env={**os.environ, "PYTHONPATH": str(PACKAGE_ROOT)})
    assert result.returncode == 0, result.stderr
    # Well below one subscriber wait: nothing waited for the daemon.
    assert float(result.stdout) < 2.5
