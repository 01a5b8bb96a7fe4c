//! Status codes, the error out-parameter (text and kind) and the panic guard around every
//! exported call.

use std::any::Any;
use std::os::raw::c_char;
use std::panic::{catch_unwind, AssertUnwindSafe};

pub const DDB_IPC_OK: i32 = 0;
pub const DDB_IPC_FAILED: i32 = 1;
pub const DDB_IPC_PANIC: i32 = 2;

/// Every failure that is not one of the kinds below.
pub const DDB_IPC_KIND_OTHER: i32 = 0;
/// An open-or-create that found the service half created or half removed by another
/// participant: the same call may succeed a moment later.
pub const DDB_IPC_KIND_SERVICE_IN_TRANSITION: i32 = 1;

const ERROR_TEXT_CAPACITY: usize = 512;

/// Receives the display text of a failure, NUL-terminated, cut at a character boundary if it
/// would not fit (iceoryx2's texts are a few dozen bytes), and its kind.
#[repr(C)]
pub struct ddb_ipc_error {
    pub text: [c_char; ERROR_TEXT_CAPACITY],
    pub kind: i32,
}

/// A refusal of iceoryx2: its display text and its kind. Every other failure converts from its
/// text, as `DDB_IPC_KIND_OTHER`.
pub struct Failure {
    pub text: String,
    pub kind: i32,
}

impl From<String> for Failure {
    fn from(text: String) -> Self {
        Failure {
            text,
            kind: DDB_IPC_KIND_OTHER,
        }
    }
}

/// # Safety
/// `error` is null or valid for writing a `ddb_ipc_error`.
unsafe fn write_error(error: *mut ddb_ipc_error, text: &str, kind: i32) {
    if error.is_null() {
        return;
    }
    (*error).kind = kind;
    let mut end = text.len().min(ERROR_TEXT_CAPACITY - 1);
    while !text.is_char_boundary(end) {
        end -= 1;
    }
    let out = &mut (*error).text;
    for (slot, byte) in out.iter_mut().zip(text.as_bytes()[..end].iter()) {
        *slot = *byte as c_char;
    }
    out[end] = 0;
}

fn panic_text(payload: &(dyn Any + Send)) -> String {
    let what = if let Some(s) = payload.downcast_ref::<&str>() {
        s
    } else if let Some(s) = payload.downcast_ref::<String>() {
        s.as_str()
    } else {
        "unknown panic"
    };
    format!("panic in the iceoryx2 binding: {what}")
}

/// Runs one exported call: installs the logger first, turns `Err(failure)` into
/// `DDB_IPC_FAILED` with the failure's text and kind in `error`, and a panic into
/// `DDB_IPC_PANIC` with its text (kind `DDB_IPC_KIND_OTHER`).
///
/// # Safety
/// `error` is null or valid for writing a `ddb_ipc_error`.
pub unsafe fn guard<F: FnOnce() -> Result<(), Failure>>(error: *mut ddb_ipc_error, call: F) -> i32 {
    crate::log::install_once();
    match catch_unwind(AssertUnwindSafe(call)) {
        Ok(Ok(())) => DDB_IPC_OK,
        Ok(Err(failure)) => {
            write_error(error, &failure.text, failure.kind);
            DDB_IPC_FAILED
        }
        Err(payload) => {
            write_error(error, &panic_text(payload.as_ref()), DDB_IPC_KIND_OTHER);
            DDB_IPC_PANIC
        }
    }
}

/// Releases a boxed handle; a panic in its Drop is swallowed (there is no one to report it to).
///
/// # Safety
/// `handle` is null or a handle that `put` made, not released before and not used after.
pub unsafe fn drop_box<T>(handle: *mut T) {
    if handle.is_null() {
        return;
    }
    crate::log::install_once();
    let _ = catch_unwind(AssertUnwindSafe(|| drop(Box::from_raw(handle))));
}

/// Stores a new handle in the caller's out-parameter.
///
/// # Safety
/// `out` is valid for writing a pointer.
pub unsafe fn put<T>(out: *mut *mut T, value: T) {
    *out = Box::into_raw(Box::new(value));
}

/// The display text of an iceoryx2 error: what the C++ side carries unchanged.
pub fn text<E: std::fmt::Display>(e: E) -> String {
    format!("{e}")
}

/// The failure of an open-or-create, of the kind `in_transition` says.
pub fn open_or_create_failure<E: std::fmt::Display>(e: E, in_transition: bool) -> Failure {
    Failure {
        text: text(e),
        kind: if in_transition {
            DDB_IPC_KIND_SERVICE_IN_TRANSITION
        } else {
            DDB_IPC_KIND_OTHER
        },
    }
}
