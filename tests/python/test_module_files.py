"""The module as the files it is shipped in: the shared object exports its entry point alone, and
the stub beside it (_data_bridge.pyi, as pip installs it) describes the module's functions."""
import ast
import inspect
import pathlib

import pytest

from quillspan.data_daemon import _data_bridge as bridge

from module_exports import exported_symbols

STUB = pathlib.Path(bridge.__file__).with_name("_data_bridge.pyi")


def test_only_the_entry_point_is_exported():
    # The C++ core and the Rust crate are linked in statically: any other exported symbol could
    # bind to (or from) another extension's copy of the same libraries.
    assert exported_symbols(bridge.__file__) == ["PyInit__data_bridge"]


@pytest.fixture(scope="module")
def stub():
    """The stub's namespace, run as Python: every annotation names a real type."""
    namespace = {"__name__": "_data_bridge_stub"}
    exec(compile(STUB.read_text(), str(STUB), "exec"), namespace)
    return namespace


def test_stub_defines_the_module_names(stub):
    tree = ast.parse(STUB.read_text())
    defined = [node.name for node in tree.body
               if isinstance(node, (ast.FunctionDef, ast.ClassDef))
               and not node.name.startswith("_")]
    assert sorted(defined) == sorted(bridge.__all__)
    assert stub["__all__"] == bridge.__all__
    assert stub["__doc__"] == bridge.__doc__


@pytest.mark.parametrize("name", [name for name in bridge.__all__ if name != "LoggingStalledError"])
def test_stub_signature_matches_the_module(stub, name):
    def shape(function):
        return [(p.name, p.kind, p.default) for p in inspect.signature(function).parameters.values()]

    assert shape(stub[name]) == shape(getattr(bridge, name))
    signature = inspect.signature(stub[name])
    assert signature.return_annotation is not inspect.Signature.empty
    unannotated = [p.name for p in signature.parameters.values()
                   if p.annotation is inspect.Parameter.empty]
    assert unannotated == []


def test_stub_logging_stalled_error(stub):
    error = stub["LoggingStalledError"]
    assert error.__bases__ == bridge.LoggingStalledError.__bases__
    assert error.__doc__ == bridge.LoggingStalledError.__doc__
