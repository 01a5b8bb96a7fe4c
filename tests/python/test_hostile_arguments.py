"""Arguments whose own Python code misbehaves: a type whose metaclass lies about its name, an
integer whose TypeError has no text to give, a sequence whose __len__ lies or is interrupted,
identifiers that cannot become a chunk's path. Each is refused with an ordinary exception, or
converted like any other argument."""
import json

import pytest

from quillspan.data_daemon import _data_bridge as bridge


class NameIsNotText(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            return 12345
        return super().__getattribute__(name)


class NameRaises(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name for you")
        return super().__getattribute__(name)


class Unnamed(metaclass=NameIsNotText):
    pass


class Unnameable(metaclass=NameRaises):
    pass


class Values:
    """A sequence of 1.0 and 2.0 whose __len__ answers `length` (or raises it)."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return [1.0, 2.0][index]


class Unprintable(TypeError):
    """A TypeError whose text cannot be had: __str__ raises what it is given."""

    def __init__(self, raised):
        super().__init__("not an index")
        self.raised = raised

    def __str__(self):
        raise self.raised


class Index:
    """An integer argument whose __index__ raises `error`."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def joints(values):
    return lambda: bridge.log_joints("hostile", 0, "JOINT_POSITIONS", "a\0b", values, 7)


def frame(robot_id="arm", data_type="RGB_IMAGES", name="cam"):
    return lambda: bridge.log_frame(robot_id, 0, data_type, name, 1, 1, "uint8", b"abc", 7)


# (call, outcome): an exception type and its exact text, or the joint values that reach the daemon.
CASES = [
    pytest.param(lambda: bridge.start_recording(Unnamed(), 0),
                 (TypeError, "argument 'robot_id': 'Unnamed' object cannot be converted to "
                             "'PyString'"), id="metaclass-qualname-not-str"),
    pytest.param(lambda: bridge.log_json("arm", 0, "T", "n", Unnameable(), 1),
                 (TypeError, "argument 'payload': 'Unnameable' object cannot be converted to "
                             "'PyBytes'"), id="metaclass-qualname-raises"),
    pytest.param(lambda: bridge.start_recording("arm", Index(Unprintable(RuntimeError("no")))),
                 (TypeError, "argument 'robot_instance': <exception str() failed>"),
                 id="type-error-str-raises"),
    pytest.param(lambda: bridge.start_recording("arm", Index(Unprintable(KeyboardInterrupt()))),
                 (KeyboardInterrupt, ""), id="type-error-str-interrupted"),
    pytest.param(joints(Values(2**62)), [1.0, 2.0], id="len-2**62"),
    pytest.param(joints(Values(2**59)), [1.0, 2.0], id="len-2**59"),
    pytest.param(joints(Values(ValueError("no length"))), [1.0, 2.0], id="len-raises"),
    pytest.param(joints(Values(KeyboardInterrupt())), (KeyboardInterrupt, ""),
                 id="len-interrupted"),
    pytest.param(joints(Values(SystemExit(3))), (SystemExit, "3"), id="len-exits"),
    pytest.param(frame(robot_id="rob\0evil"),
                 (ValueError, "robot_id must not contain a NUL character"), id="nul-robot-id"),
    pytest.param(frame(data_type="RGB_IMAGES\0"),
                 (ValueError, "data_type must not contain a NUL character"), id="nul-data-type"),
    pytest.param(frame(name="\0cam"),
                 (ValueError, "name must not contain a NUL character"), id="nul-name"),
]


@pytest.mark.parametrize("invoke, outcome", CASES)
def test_hostile_argument(invoke, outcome, start_daemon):
    if isinstance(outcome, tuple):
        exception, text = outcome
        with pytest.raises(BaseException) as raised:
            invoke()
        assert type(raised.value) is exception
        assert str(raised.value) == text
        return
    daemon = start_daemon()
    assert invoke() is None
    envelope = daemon.next_envelope()
    while envelope.get("robot_id") != "hostile":  # what earlier tests left queued
        envelope = daemon.next_envelope()
    values = [json.loads(bytes.fromhex(s["payload"]))["value"] for s in envelope["samples"]]
    assert values == outcome
