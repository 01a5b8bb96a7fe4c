//! The iceoryx2 calls the data bridge makes, exported to C.
//!
//! This crate is a thin, policy-free layer: each exported function maps to one iceoryx2 call and
//! hands back either its result or the iceoryx2 error's own display text with its kind (whether
//! an open-or-create found the service in transition, so that the caller need not read the
//! text). Retries, time-outs, per-thread handle sets and fork handling live in the C++ code that
//! calls it.
//!
//! Contracts shared by every exported function (see include/data_daemon_ipc/ipc.h):
//! - A Rust panic never crosses into C: it is caught and returned as `DDB_IPC_PANIC` with its text.
//! - The log forwarding of `log.rs` is installed before the first iceoryx2 call of the process.
//! - Handles are boxed iceoryx2 objects. Ports, samples, requests and responses of the `ipc`
//!   service type are bound to the thread that created them; the caller keeps them there.
//!
//! Every exported function that reads or writes through a pointer it is given is `unsafe`, and
//! its `# Safety` section says what the caller must hold. The exported functions are this
//! crate's public interface, re-exported below, so that clippy holds each of them to that.

#![allow(non_camel_case_types)]
#![deny(clippy::missing_safety_doc)]

mod error;
mod log;
mod node;
mod publish_subscribe;
mod request_response;

pub use error::ddb_ipc_error;
pub use log::ddb_ipc_set_log_callback;
pub use node::*;
pub use publish_subscribe::*;
pub use request_response::*;
