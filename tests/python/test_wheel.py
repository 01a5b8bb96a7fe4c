"""pip install . for the running interpreter: the wheel is built once (pip wheel, through
scikit-build-core) from a read-only copy of the sources, which it must leave as it was, then
installed into fresh virtual environments, beside a stand-in SDK that owns the packages quillspan
and quillspan.data_daemon, and alone.

It builds the whole module again, so it runs only when DDB_WHEEL_TEST=1 (scripts/test.sh sets it
for the plain build). The copy is <build>/wheel-source and the wheel's CMake tree <build>/wheel,
both shared by the interpreters (only the module's own sources depend on the interpreter). That
tree keeps cargo's output in its own cargo/ as any install does; here that directory is a link
to the build tree's cargo target directory, so iceoryx2 is not compiled again."""
import base64
import hashlib
import json
import os
import pathlib
import re
import shutil
import stat
import subprocess
import sys
import sysconfig
import zipfile

import pytest

from quillspan.data_daemon import _data_bridge as bridge

from conftest import BUILD_DIR, ROOT
from module_exports import exported_symbols

pytestmark = pytest.mark.skipif(
    os.environ.get("DDB_WHEEL_TEST") != "1",
    reason="builds the module as a wheel: DDB_WHEEL_TEST=1 (scripts/test.sh) runs it")

# Bounds only so that a broken run fails instead of hanging.
BUILD_TIMEOUT_S = 3600
STEP_TIMEOUT_S = 600

EXT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
MODULE_FILES = ["quillspan/data_daemon/_data_bridge.pyi",
                f"quillspan/data_daemon/_data_bridge{EXT_SUFFIX}"]

SDK_FILES = {
    "quillspan/__init__.py": 'SDK = "quillspan"\n',
    "quillspan/data_daemon/__init__.py": 'SDK = "quillspan.data_daemon"\n',
}

# Run in the environment's interpreter, isolated (-I) from the repository and the caller's paths.
IMPORT_BOTH = """
import json
import quillspan
import quillspan.data_daemon
from quillspan.data_daemon import _data_bridge
try:
    _data_bridge.start_recording("", 0)
    refused = None
except ValueError as error:
    refused = str(error)
print(json.dumps({
    "quillspan": [getattr(quillspan, "SDK", None), quillspan.__file__],
    "data_daemon": [getattr(quillspan.data_daemon, "SDK", None), quillspan.data_daemon.__file__],
    "bridge": _data_bridge.__file__,
    "all": _data_bridge.__all__,
    "refused": refused,
}))
"""


def run(command, timeout=STEP_TIMEOUT_S, **kwargs):
    """Runs a command; its output is shown only when it fails."""
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                          timeout=timeout, **kwargs)
    if done.returncode != 0:
        pytest.fail(f"{' '.join(map(str, command))} exited {done.returncode}\n"
                    f"{done.stdout[-6000:]}\n{done.stderr[-6000:]}")
    return done.stdout


SOURCE_COPY = BUILD_DIR / "wheel-source"
WHEEL_TREE = BUILD_DIR / "wheel"


def cmake_cache_value(name, tree=BUILD_DIR):
    cache = tree / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith(name + ":"):
                return line.split("=", 1)[1]
    return None


def not_sources(directory, names):
    """What copytree leaves out of the copy: build trees, cargo's output, caches, git."""
    here = pathlib.Path(directory)
    return {name for name in names
            if name in (".git", "__pycache__", ".pytest_cache")
            or (here == ROOT and name.startswith("build"))
            or (here / name) in (BUILD_DIR, ROOT / "ipc" / "target")}


def set_writable(tree, writable):
    for directory, _, files in os.walk(tree):
        for path in [directory, *(os.path.join(directory, name) for name in files)]:
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode):
                continue
            bits = stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH
            os.chmod(path, (mode | stat.S_IWUSR) if writable else (mode & ~bits))


def tree_snapshot(tree):
    """Every path under tree with its kind, size and modification time."""
    snapshot = {}
    for directory, dirs, files in os.walk(tree):
        for name in dirs + files:
            path = os.path.join(directory, name)
            status = os.lstat(path)
            snapshot[os.path.relpath(path, tree)] = (
                stat.S_IFMT(status.st_mode), status.st_size, status.st_mtime_ns)
    return snapshot


@pytest.fixture(scope="module")
def source_copy():
    """The sources, copied with their modification times (so that the wheel's tree rebuilds only
    what changed) and made read-only, with their snapshot. Root may write all the same; what the
    build wrote shows against the snapshot."""
    if SOURCE_COPY.exists():
        set_writable(SOURCE_COPY, True)
        shutil.rmtree(SOURCE_COPY)
    shutil.copytree(ROOT, SOURCE_COPY, symlinks=True, ignore=not_sources)
    set_writable(SOURCE_COPY, False)
    return SOURCE_COPY, tree_snapshot(SOURCE_COPY)


@pytest.fixture(scope="module")
def wheel(source_copy, tmp_path_factory):
    source, _ = source_copy
    if cmake_cache_value("CMAKE_HOME_DIRECTORY", WHEEL_TREE) not in (None, str(source)):
        shutil.rmtree(WHEEL_TREE)  # a tree configured for other sources
    cargo_target_dir = cmake_cache_value("DDB_CARGO_TARGET_DIR")
    if cargo_target_dir and not (WHEEL_TREE / "cargo").exists():
        WHEEL_TREE.mkdir(parents=True, exist_ok=True)
        (WHEEL_TREE / "cargo").symlink_to(cargo_target_dir, target_is_directory=True)
    out = tmp_path_factory.mktemp("dist")
    command = [sys.executable, "-m", "pip", "wheel", "--no-deps", "--disable-pip-version-check",
               "--wheel-dir", out, f"--config-settings=build-dir={WHEEL_TREE}", source]
    env = dict(os.environ)
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")  # the machine's two cores, no more
    run(command, timeout=BUILD_TIMEOUT_S, env=env, cwd=out)
    [built] = out.glob("*.whl")
    return built


def test_the_build_leaves_the_sources_as_they_were(wheel, source_copy):
    source, before = source_copy
    assert tree_snapshot(source) == before


def write_sdk_wheel(directory):
    """A wheel of the stand-in SDK: the packages quillspan and quillspan.data_daemon, each with
    its own __init__.py."""
    dist_info = "quillspan_sdk_standin-1.0.dist-info"
    files = dict(SDK_FILES)
    files[f"{dist_info}/METADATA"] = (
        "Metadata-Version: 2.1\nName: quillspan-sdk-standin\nVersion: 1.0\n")
    files[f"{dist_info}/WHEEL"] = (
        "Wheel-Version: 1.0\nGenerator: test_wheel\nRoot-Is-Purelib: true\nTag: py3-none-any\n")
    record = []
    for name, text in files.items():
        data = text.encode()
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append(f"{name},sha256={digest},{len(data)}")
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = "\n".join(record) + "\n"
    path = directory / "quillspan_sdk_standin-1.0-py3-none-any.whl"
    with zipfile.ZipFile(path, "w") as archive:
        for name, text in files.items():
            archive.writestr(name, text)
    return path


def new_environment(directory):
    run([sys.executable, "-m", "venv", directory])
    return directory / "bin" / "python"


def pip_install(python, *wheels):
    run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--disable-pip-version-check",
         "-q", *wheels])


def site_packages(python):
    return pathlib.Path(run([python, "-I", "-c",
                             "import sysconfig; print(sysconfig.get_paths()['platlib'])"]).strip())


def import_both(python, cwd):
    return json.loads(run([python, "-I", "-c", IMPORT_BOTH], cwd=cwd))


def test_wheel_holds_the_module_and_its_stub_alone(wheel):
    tag = f"cp{sys.version_info[0]}{sys.version_info[1]}"
    assert re.search(rf"-{tag}-{tag}-[^-]+\.whl$", wheel.name), wheel.name
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
    assert sorted(name for name in names if ".dist-info/" not in name) == sorted(MODULE_FILES)


@pytest.mark.parametrize("with_sdk", [True, False], ids=["beside-the-sdk", "alone"])
def test_install_into_a_fresh_environment(wheel, tmp_path, with_sdk):
    python = new_environment(tmp_path / "env")
    if with_sdk:
        # The SDK first: the module's wheel then lands inside its packages.
        pip_install(python, write_sdk_wheel(tmp_path))
    pip_install(python, wheel)
    packages = site_packages(python)
    installed = packages / "quillspan" / "data_daemon" / f"_data_bridge{EXT_SUFFIX}"
    assert (installed.with_name("_data_bridge.pyi")).is_file()
    assert exported_symbols(installed) == ["PyInit__data_bridge"]

    seen = import_both(python, tmp_path)
    assert pathlib.Path(seen["bridge"]) == installed
    assert seen["all"] == bridge.__all__
    assert seen["refused"] == "robot_id must not be empty"
    if with_sdk:
        # The SDK's own packages, untouched.
        assert seen["quillspan"] == ["quillspan", str(packages / "quillspan" / "__init__.py")]
        assert seen["data_daemon"] == [
            "quillspan.data_daemon", str(packages / "quillspan" / "data_daemon" / "__init__.py")]
        for name, text in SDK_FILES.items():
            assert (packages / name).read_text() == text
    else:
        # Namespace packages: no __init__.py came with the module.
        assert seen["quillspan"] == [None, None]
        assert seen["data_daemon"] == [None, None]

    # Removing the module takes its two files and nothing of the SDK's.
    run([python, "-m", "pip", "uninstall", "-y", "-q", "quillspan-data-bridge"])
    assert not installed.exists()
    assert not installed.with_name("_data_bridge.pyi").exists()
    for name, text in SDK_FILES.items():
        assert ((packages / name).read_text() == text) if with_sdk else not (packages / name).exists()
