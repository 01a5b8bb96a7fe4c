"""The module object: its functions, their signatures, __all__, LoggingStalledError, the
one-interpreter rule, the panic exception, and the host's Ctrl-C left alone."""
import importlib
import inspect
import subprocess
import sys
import textwrap

import pytest

from conftest import PACKAGE_ROOT, WAIT_S
from quillspan.data_daemon import _data_bridge as bridge

FUNCTIONS = [
    ("start_recording", "(robot_id, robot_instance, robot_name=None, dataset_id=None, "
                        "dataset_name=None, timestamp_ns=None, cloud_recording_id=None)"),
    ("log_joints", "(robot_id, robot_instance, data_type, names, values, timestamp_ns, "
                   "timestamp_s=None)"),
    ("log_frame", "(robot_id, robot_instance, data_type, name, width, height, dtype, payload, "
                  "timestamp_ns, timestamp_s=None)"),
    ("log_json", "(robot_id, robot_instance, data_type, name, payload, timestamp_ns, "
                 "timestamp_s=None)"),
    ("stop_recording", "(robot_id, robot_instance, timestamp_ns=None)"),
    ("flush_source", "(robot_id, robot_instance)"),
    ("cancel_recording", "(robot_id, robot_instance, timestamp_ns=None)"),
    ("get_recording_id", "(robot_id, robot_instance, timestamp_ns, timeout_s)"),
    ("wait_until_ready", "(timeout_s)"),
    ("daemon_version", "(timeout_s)"),
    ("refresh_config", "()"),
]


def test_all_lists_functions_in_order_then_the_exception():
    assert bridge.__all__ == [name for name, _ in FUNCTIONS] + ["LoggingStalledError"]
    assert bridge.__doc__ == (
        "Python module entrypoint registered as `quillspan.data_daemon._data_bridge`.")


@pytest.mark.parametrize("name, signature", FUNCTIONS)
def test_function_signature_and_doc(name, signature):
    function = getattr(bridge, name)
    assert str(inspect.signature(function)) == signature
    assert function.__name__ == name
    assert function.__doc__.strip()
    # Every parameter can be given by keyword.
    kinds = {p.kind for p in inspect.signature(function).parameters.values()}
    assert kinds <= {inspect.Parameter.POSITIONAL_OR_KEYWORD}


def test_logging_stalled_error():
    error = bridge.LoggingStalledError
    assert error.__bases__ == (RuntimeError,)
    assert error.__module__ == "_data_bridge"
    assert error.__name__ == "LoggingStalledError"
    assert error.__doc__ == (
        "The daemon is not draining its on-disk spool backlog fast enough to admit a frame.")
    assert "__dict__" not in vars(error)


def test_import_again_gives_the_same_module():
    name = "quillspan.data_daemon._data_bridge"
    first = sys.modules.pop(name)
    try:
        again = importlib.import_module(name)
        assert again is first
        assert again.LoggingStalledError is first.LoggingStalledError
    finally:
        sys.modules[name] = first


def test_second_interpreter_cannot_import():
    subinterpreters = pytest.importorskip("_xxsubinterpreters")
    package_root = str(sys.modules["quillspan"].__path__[0]).rsplit("/quillspan", 1)[0]
    script = textwrap.dedent(f"""
        import sys
        sys.path.insert(0, {package_root!r})
        try:
            import quillspan.data_daemon._data_bridge
        except ImportError as error:
            raise SystemExit("refused: " + str(error))
        raise SystemExit("imported")
    """)
    interpreter = subinterpreters.create()
    try:
        with pytest.raises(subinterpreters.RunFailedError) as raised:
            subinterpreters.run_string(interpreter, script)
    finally:
        subinterpreters.destroy(interpreter)
    assert "refused: " in str(raised.value)
    assert "subinterpreters" in str(raised.value)
    # The module in this interpreter is unaffected.
    with pytest.raises(ValueError):
        bridge.start_recording("", 0)


@pytest.mark.parametrize("hook", ["panic_without_gil", "panic_with_gil"])
def test_broken_invariant_raises_the_panic_exception(hook):
    hooks = importlib.import_module("_bridge_test_hooks")
    panic = hooks.panic_type()
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert not hasattr(bridge, panic.__name__)
    with pytest.raises(panic, match="^invariant broken here$"):
        try:
            getattr(hooks, hook)("invariant broken here")
        except Exception:  # must not catch it
            pytest.fail("the panic exception was caught as an Exception")
    # The lock was retaken: the interpreter goes on as before.
    assert sum(range(10)) == 45


CTRL_C = textwrap.dedent("""
    import os, signal, sys, time
    sys.path.insert(0, sys.argv[1])
    from quillspan.data_daemon import _data_bridge as bridge
    bridge.start_recording("arm", 0)
    bridge.log_joints("arm", 0, "JOINT_POSITIONS", "a", [1.0], 1)
    bridge.stop_recording("arm", 0)
    assert bridge.wait_until_ready(5.0) is not None
    bridge.daemon_version(1.0)
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    try:
        os.kill(os.getpid(), signal.SIGINT)
        time.sleep(10)
        print("not interrupted")
    except KeyboardInterrupt:
        print("interrupted")
""")


def test_ctrl_c_still_interrupts_after_publishing_and_querying(daemon):
    done = subprocess.run([sys.executable, "-c", CTRL_C, PACKAGE_ROOT], capture_output=True,
                          text=True, timeout=WAIT_S)
    assert done.stdout == "interrupted\n", done.stdout + done.stderr
    assert done.returncode == 0, done.stderr
