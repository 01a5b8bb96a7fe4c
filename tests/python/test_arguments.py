"""Argument binding and conversion: the exception type and text of every way a call can be
refused before its body runs. None of these calls reaches the daemon."""
import array

import numpy as np
import pytest

from quillspan.data_daemon import _data_bridge as bridge

JOINTS = ("arm", 0, "JOINT_POSITIONS", "a\0b", [1.0, 2.0], 10)
JSON = ("arm", 0, "POSE", "wrist", b"{}", 10)
FRAME = ("arm", 0, "RGB_IMAGES", "cam", 1, 1, "uint8", b"abc", 10)


def call(function, *args, **kwargs):
    return lambda: getattr(bridge, function)(*args, **kwargs)


# (callable, exception type, exact text): the module's own texts.
OWN_TEXTS = [
    pytest.param(call("start_recording"), TypeError,
                 "start_recording() missing 2 required positional arguments: "
                 "'robot_id' and 'robot_instance'", id="missing-two"),
    pytest.param(call("wait_until_ready"), TypeError,
                 "wait_until_ready() missing 1 required positional argument: 'timeout_s'",
                 id="missing-one"),
    pytest.param(call("log_frame", "arm", 0, height=1), TypeError,
                 "log_frame() missing 6 required positional arguments: 'data_type', 'name', "
                 "'width', 'dtype', 'payload', and 'timestamp_ns'", id="missing-many"),
    pytest.param(call("start_recording", "arm", 0, robot_instance=1), TypeError,
                 "start_recording() got multiple values for argument 'robot_instance'",
                 id="given-twice"),
    pytest.param(call("start_recording", *range(8)), TypeError,
                 "start_recording() takes from 2 to 7 positional arguments but 8 were given",
                 id="too-many-with-defaults"),
    pytest.param(call("get_recording_id", "arm", 0, 1, 1.0, 5), TypeError,
                 "get_recording_id() takes 4 positional arguments but 5 were given",
                 id="too-many-all-required"),
    pytest.param(call("daemon_version", timeout=1.0), TypeError,
                 "daemon_version() got an unexpected keyword argument 'timeout'",
                 id="unknown-keyword"),
    pytest.param(call("daemon_version", 1.0, timeout_s=1.0), TypeError,
                 "daemon_version() got multiple values for argument 'timeout_s'",
                 id="keyword-after-positional"),
    pytest.param(call("start_recording", 1, 0), TypeError,
                 "argument 'robot_id': 'int' object cannot be converted to 'PyString'",
                 id="text-int"),
    pytest.param(call("start_recording", "arm", 0, robot_name=b"x"), TypeError,
                 "argument 'robot_name': 'bytes' object cannot be converted to 'PyString'",
                 id="optional-text-bytes"),
    pytest.param(call("log_joints", "arm", 0, "T", None, [1.0], 1), TypeError,
                 "argument 'names': 'NoneType' object cannot be converted to 'PyString'",
                 id="text-none"),
    pytest.param(call("log_joints", *JOINTS[:4], "1.0", 10), TypeError,
                 "argument 'values': Can't extract `str` to `Vec`", id="values-str"),
    pytest.param(call("log_joints", *JOINTS[:4], 5, 10), TypeError,
                 "argument 'values': 'int' object cannot be converted to 'Sequence'",
                 id="values-int"),
    pytest.param(call("log_joints", *JOINTS[:4], {1.0}, 10), TypeError,
                 "argument 'values': 'set' object cannot be converted to 'Sequence'",
                 id="values-set"),
    pytest.param(call("log_json", *JSON[:4], bytearray(b"{}"), 10), TypeError,
                 "argument 'payload': 'bytearray' object cannot be converted to 'PyBytes'",
                 id="payload-bytearray"),
    pytest.param(call("log_json", *JSON[:4], memoryview(b"{}"), 10), TypeError,
                 "argument 'payload': 'memoryview' object cannot be converted to 'PyBytes'",
                 id="payload-memoryview"),
    pytest.param(call("log_frame", *FRAME[:4], -1, 1, *FRAME[6:]), OverflowError,
                 "out of range integral type conversion attempted", id="width-negative"),
    pytest.param(call("log_frame", *FRAME[:5], 2**32, *FRAME[6:]), OverflowError,
                 "out of range integral type conversion attempted", id="height-2**32"),
    pytest.param(call("log_frame", *FRAME[:7], np.zeros(3, np.float16), 10), BufferError,
                 "buffer contents are not compatible with u8", id="frame-float16-array"),
    pytest.param(call("log_frame", *FRAME[:7], array.array("b", [0, 0, 0]), 10), BufferError,
                 "buffer contents are not compatible with u8", id="frame-signed-bytes"),
    # Argument errors win over value checks: the empty robot_id is never looked at.
    pytest.param(call("start_recording", "", "0"), TypeError,
                 "argument 'robot_instance': 'str' object cannot be interpreted as an integer",
                 id="type-before-value"),
    pytest.param(call("log_joints", "", 0, "", "", "x", 1), TypeError,
                 "argument 'values': Can't extract `str` to `Vec`", id="type-before-empty-values"),
    pytest.param(call("log_json", "", 0, "", "", bytearray(), 1), TypeError,
                 "argument 'payload': 'bytearray' object cannot be converted to 'PyBytes'",
                 id="type-before-empty-name"),
    # Value checks, after every argument converted.
    pytest.param(call("start_recording", "", 0), ValueError, "robot_id must not be empty",
                 id="start-empty-id"),
    pytest.param(call("stop_recording", "", 0), ValueError, "robot_id must not be empty",
                 id="stop-empty-id"),
    pytest.param(call("flush_source", "", 0), ValueError, "robot_id must not be empty",
                 id="flush-empty-id"),
    pytest.param(call("cancel_recording", "", 0), ValueError, "robot_id must not be empty",
                 id="cancel-empty-id"),
    pytest.param(call("get_recording_id", "", 0, 1, 0.0), ValueError,
                 "robot_id must not be empty", id="recording-id-empty-id"),
    pytest.param(call("log_joints", "arm", 0, "", "a", [1.0], 1), ValueError,
                 "robot_id and data_type must not be empty", id="joints-empty-type"),
    # An empty values list returns early, but only after the checks.
    pytest.param(call("log_joints", "", 0, "T", "a", [], 1), ValueError,
                 "robot_id and data_type must not be empty", id="joints-empty-id-no-values"),
    pytest.param(call("log_json", "arm", 0, "POSE", "", b"{}", 1), ValueError,
                 "robot_id, data_type and name must not be empty", id="json-empty-name"),
]


@pytest.mark.parametrize("invoke, exception, text", OWN_TEXTS)
def test_refusal_with_own_text(invoke, exception, text):
    with pytest.raises(exception) as raised:
        invoke()
    assert type(raised.value) is exception
    assert str(raised.value) == text
    assert raised.value.args == (text,)


# (callable, exception type, text prefix): conversions whose text is the interpreter's own.
INTERPRETER_TEXTS = [
    pytest.param(call("start_recording", "arm", 2**63), OverflowError, "", id="i64-too-big"),
    pytest.param(call("start_recording", "arm", -(2**63) - 1), OverflowError, "",
                 id="i64-too-small"),
    pytest.param(call("log_frame", *FRAME[:4], 2**64, *FRAME[5:]), OverflowError, "",
                 id="u32-beyond-i64"),
    pytest.param(call("log_joints", "arm", 2**63, "", "", "not even converted", 1),
                 OverflowError, "", id="overflow-before-later-types"),
    pytest.param(call("start_recording", "arm", 1.5), TypeError, "argument 'robot_instance': ",
                 id="i64-float"),
    pytest.param(call("stop_recording", "arm", 0, timestamp_ns="5"), TypeError,
                 "argument 'timestamp_ns': ", id="optional-i64-str"),
    pytest.param(call("wait_until_ready", "1"), TypeError, "argument 'timeout_s': ",
                 id="float-str"),
    pytest.param(call("daemon_version", 10**400), OverflowError, "", id="float-huge-int"),
    pytest.param(call("log_json", *JSON, timestamp_s="1"), TypeError,
                 "argument 'timestamp_s': ", id="optional-float-str"),
    pytest.param(call("log_joints", *JOINTS[:4], [1.0, "2"], 10), TypeError,
                 "argument 'values': ", id="values-item-str"),
    pytest.param(call("log_frame", *FRAME[:7], 7, 10), TypeError, "argument 'payload': ",
                 id="frame-no-buffer"),
    pytest.param(call("start_recording", "arm\udc80", 0), UnicodeEncodeError, "",
                 id="text-lone-surrogate"),
    pytest.param(call("start_recording", "arm", 0, dataset_id="\ud800"), UnicodeEncodeError, "",
                 id="optional-text-lone-surrogate"),
    pytest.param(call("refresh_config", 1), TypeError, "", id="noargs-with-arg"),
]


@pytest.mark.parametrize("invoke, exception, prefix", INTERPRETER_TEXTS)
def test_refusal_with_interpreter_text(invoke, exception, prefix):
    with pytest.raises(exception) as raised:
        invoke()
    assert type(raised.value) is exception
    assert str(raised.value).startswith(prefix)


class IndexFailure:
    """An integer-like whose conversion fails with a TypeError that has a cause."""

    def __index__(self):
        try:
            raise KeyError("inner")
        except KeyError as inner:
            raise TypeError("no integer here") from inner


def test_renamed_type_error_keeps_the_cause():
    with pytest.raises(TypeError) as raised:
        bridge.start_recording("arm", IndexFailure())
    assert str(raised.value) == "argument 'robot_instance': no integer here"
    assert isinstance(raised.value.__cause__, KeyError)


class SurpriseIndex:
    def __index__(self):
        raise LookupError("not a type error")


def test_other_conversion_errors_pass_unchanged():
    with pytest.raises(LookupError, match="^not a type error$"):
        bridge.stop_recording("arm", SurpriseIndex())


def test_empty_values_return_without_sending():
    # Nothing is queued, so this returns at once even with no daemon running.
    assert bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", [], 10) is None
    assert bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", (), 10, timestamp_s=None) is None
