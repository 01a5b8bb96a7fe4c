"""Fixtures shared by the module's end-to-end tests.

The module under test is the one built for the running interpreter: DDB_BUILD_DIR (default:
the repository's build/) holds one package tree per interpreter, python<X.Y>/, which goes on
sys.path here, before any test imports quillspan.data_daemon._data_bridge.
"""
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("DDB_BUILD_DIR", ROOT / "build")).resolve()
PACKAGE_ROOT = BUILD_DIR / f"python{sys.version_info[0]}.{sys.version_info[1]}"

if not (PACKAGE_ROOT / "quillspan").is_dir():
    raise RuntimeError(f"no module built for this interpreter under {PACKAGE_ROOT}")
sys.path.insert(0, str(PACKAGE_ROOT))
