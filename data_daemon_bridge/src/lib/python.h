// The interpreter's headers, included by the files of src/lib/ that touch Python objects, and by
// no other file of the module. Only the public C API of CPython 3.10 is used.
#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>
