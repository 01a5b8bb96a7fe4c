"""Python module entrypoint registered as `quillspan.data_daemon._data_bridge`."""

from collections.abc import Sequence
from typing import Protocol, SupportsFloat, SupportsIndex

__all__ = [
    "start_recording",
    "log_joints",
    "log_frame",
    "log_json",
    "stop_recording",
    "flush_source",
    "cancel_recording",
    "get_recording_id",
    "wait_until_ready",
    "daemon_version",
    "refresh_config",
    "LoggingStalledError",
]

# Integers go through the interpreter's conversion to a C long: int, bool, anything with
# __index__ (numpy integers included).
_Int = SupportsIndex
# Seconds go through the conversion to double: float, int, anything with __float__ or __index__.
_Float = SupportsFloat | SupportsIndex

class _Buffer(Protocol):
    # A frame's pixels: any object offering the buffer protocol with unsigned single-byte items,
    # C-contiguous (bytes, bytearray, memoryview, a uint8 numpy array, a byte view of a depth
    # array).
    def __buffer__(self, flags: int, /) -> memoryview: ...

class LoggingStalledError(RuntimeError):
    """The daemon is not draining its on-disk spool backlog fast enough to admit a frame."""

def start_recording(
    robot_id: str,
    robot_instance: _Int,
    robot_name: str | None = None,
    dataset_id: str | None = None,
    dataset_name: str | None = None,
    timestamp_ns: _Int | None = None,
    cloud_recording_id: str | None = None,
) -> int: ...
def log_joints(
    robot_id: str,
    robot_instance: _Int,
    data_type: str,
    names: str,
    values: Sequence[_Float],
    timestamp_ns: _Int,
    timestamp_s: _Float | None = None,
) -> None: ...
def log_frame(
    robot_id: str,
    robot_instance: _Int,
    data_type: str,
    name: str,
    width: _Int,
    height: _Int,
    dtype: str,
    payload: _Buffer,
    timestamp_ns: _Int,
    timestamp_s: _Float | None = None,
) -> None: ...
def log_json(
    robot_id: str,
    robot_instance: _Int,
    data_type: str,
    name: str,
    payload: bytes,
    timestamp_ns: _Int,
    timestamp_s: _Float | None = None,
) -> None: ...
def stop_recording(
    robot_id: str, robot_instance: _Int, timestamp_ns: _Int | None = None
) -> None: ...
def flush_source(robot_id: str, robot_instance: _Int) -> None: ...
def cancel_recording(
    robot_id: str, robot_instance: _Int, timestamp_ns: _Int | None = None
) -> None: ...
def get_recording_id(
    robot_id: str, robot_instance: _Int, timestamp_ns: _Int, timeout_s: _Float
) -> str | None: ...
def wait_until_ready(timeout_s: _Float) -> int | None: ...
def daemon_version(timeout_s: _Float) -> str | None: ...
def refresh_config() -> None: ...
