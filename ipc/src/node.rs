//! Node and service name.

use std::os::raw::c_char;

use iceoryx2::prelude::*;

use crate::error::{ddb_ipc_error, drop_box, guard, put, text};

pub struct ddb_ipc_node(pub Node<ipc::Service>);
pub struct ddb_ipc_service_name(pub ServiceName);

/// A node with the library's default settings (no name, the global configuration), except that
/// signal handling is disabled: the host's own signal handlers stay in place.
///
/// # Safety
/// `out` is valid for writing a pointer; `error` is null or valid for writing a
/// `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_node_create(
    out: *mut *mut ddb_ipc_node,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let node = NodeBuilder::new()
            .signal_handling_mode(SignalHandlingMode::Disabled)
            .create::<ipc::Service>()
            .map_err(text)?;
        put(out, ddb_ipc_node(node));
        Ok(())
    })
}

/// Loads the library's global configuration (its configuration file when one is found, else its
/// defaults), as the first node creation of the process would.
///
/// # Safety
/// `error` is null or valid for writing a `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_load_global_config(error: *mut ddb_ipc_error) -> i32 {
    guard(error, || {
        let _ = Config::global_config();
        Ok(())
    })
}

/// Removes the resources of dead nodes that this process may remove; failures are left for
/// another process (the library's node creation does the same).
#[no_mangle]
pub extern "C" fn ddb_ipc_cleanup_dead_nodes() {
    let _ = std::panic::catch_unwind(|| {
        let _ = Node::<ipc::Service>::cleanup_dead_nodes(Config::global_config());
    });
}

/// Whether the node takes SIGINT and SIGTERM over from the host once it is waited on; false for
/// every node made here, and for a panic.
///
/// # Safety
/// `node` is a live node from `ddb_ipc_node_create`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_node_handles_termination_requests(
    node: *const ddb_ipc_node,
) -> bool {
    std::panic::catch_unwind(std::panic::AssertUnwindSafe(|| {
        (*node).0.signal_handling_mode() == SignalHandlingMode::HandleTerminationRequests
    }))
    .unwrap_or(false)
}

/// # Safety
/// `node` is null or a live node from `ddb_ipc_node_create`, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_node_drop(node: *mut ddb_ipc_node) {
    drop_box(node);
}

/// # Safety
/// `name` points to `name_len` readable bytes (it may be null when `name_len` is 0); `out` is
/// valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_service_name_new(
    name: *const c_char,
    name_len: usize,
    out: *mut *mut ddb_ipc_service_name,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let bytes = if name_len == 0 {
            &[][..]
        } else {
            std::slice::from_raw_parts(name as *const u8, name_len)
        };
        let name = std::str::from_utf8(bytes).map_err(text)?;
        put(
            out,
            ddb_ipc_service_name(ServiceName::new(name).map_err(text)?),
        );
        Ok(())
    })
}

/// # Safety
/// `name` is null or a live service name from `ddb_ipc_service_name_new`, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_service_name_drop(name: *mut ddb_ipc_service_name) {
    drop_box(name);
}
