//! iceoryx2's log output, forwarded to a callback of the host instead of the console.
//!
//! iceoryx2 writes to stderr by default. Before the first iceoryx2 call of the process this crate
//! installs its own logger, which hands each message to the callback set with
//! `ddb_ipc_set_log_callback`, or drops it while none is set. A panic hook that prints nothing
//! is installed at the same time: panics are reported as error values instead.

use std::os::raw::c_char;
use std::sync::atomic::{AtomicPtr, Ordering};
use std::sync::Once;

use iceoryx2_log::{Log, LogLevel};

/// level: 0 trace, 1 debug, 2 info, 3 warn, 4 error, 5 fatal. The texts are not NUL-terminated
/// and live only for the call. The callback never unwinds: it runs inside iceoryx2's calls, which
/// this crate runs under guards that catch every unwind, and an unwind that is caught there (a
/// thread exit included) ends the process. So it throws nothing and never runs code that can end
/// its thread, such as an interpreter's.
pub type ddb_ipc_log_callback = extern "C" fn(
    level: u8,
    origin: *const c_char,
    origin_len: usize,
    message: *const c_char,
    message_len: usize,
);

static CALLBACK: AtomicPtr<()> = AtomicPtr::new(std::ptr::null_mut());
static INSTALL: Once = Once::new();

struct Forwarder;

impl Log for Forwarder {
    fn log(
        &self,
        level: LogLevel,
        origin: core::fmt::Arguments,
        formatted_message: core::fmt::Arguments,
    ) {
        let callback = CALLBACK.load(Ordering::Acquire);
        if callback.is_null() {
            return;
        }
        // SAFETY: only ddb_ipc_set_log_callback stores here, and it stores a callback.
        let callback: ddb_ipc_log_callback = unsafe { std::mem::transmute(callback) };
        let origin = origin.to_string();
        let message = formatted_message.to_string();
        callback(
            level as u8,
            origin.as_ptr() as *const c_char,
            origin.len(),
            message.as_ptr() as *const c_char,
            message.len(),
        );
    }
}

static FORWARDER: Forwarder = Forwarder;

pub fn install_once() {
    INSTALL.call_once(|| {
        std::panic::set_hook(Box::new(|_| {}));
        iceoryx2_log::set_logger(&FORWARDER);
    });
}

/// Sets (or, with null, removes) the callback that receives iceoryx2's log messages. May be
/// called at any time from any thread; the callback may run on any thread that calls iceoryx2.
#[no_mangle]
pub extern "C" fn ddb_ipc_set_log_callback(callback: Option<ddb_ipc_log_callback>) {
    install_once();
    let raw = callback.map_or(std::ptr::null_mut(), |f| f as *mut ());
    CALLBACK.store(raw, Ordering::Release);
}
