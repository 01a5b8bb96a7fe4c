//! Request-response with byte-slice requests and responses and no user headers: the service,
//! its client (loan, send, pending response with non-blocking receive) and its server (request
//! receive and response).

use std::mem::MaybeUninit;

use iceoryx2::active_request::ActiveRequest;
use iceoryx2::pending_response::PendingResponse;
use iceoryx2::port::client::Client;
use iceoryx2::port::server::Server;
use iceoryx2::prelude::*;
use iceoryx2::request_mut_uninit::RequestMutUninit;
use iceoryx2::response::Response;
use iceoryx2::response_mut_uninit::ResponseMutUninit;
use iceoryx2::service::builder::request_response::{
    RequestResponseCreateError as Create, RequestResponseOpenError as Open,
    RequestResponseOpenOrCreateError as OpenOrCreate,
};
use iceoryx2::service::port_factory::request_response::PortFactory;

use crate::error::{ddb_ipc_error, drop_box, guard, open_or_create_failure, put, text};
use crate::node::{ddb_ipc_node, ddb_ipc_service_name};

type S = ipc::Service;

pub struct ddb_ipc_port_factory_request_response(PortFactory<S, [u8], (), [u8], ()>);
pub struct ddb_ipc_client(Client<S, [u8], (), [u8], ()>);
pub struct ddb_ipc_request_mut_uninit(RequestMutUninit<S, [MaybeUninit<u8>], (), [u8], ()>);
pub struct ddb_ipc_pending_response(PendingResponse<S, [u8], (), [u8], ()>);
/// Held only so that dropping it returns the chunk.
#[allow(dead_code)]
pub struct ddb_ipc_response(Response<S, [u8], ()>);
pub struct ddb_ipc_server(Server<S, [u8], (), [u8], ()>);
pub struct ddb_ipc_active_request(ActiveRequest<S, [u8], (), [u8], ()>);
pub struct ddb_ipc_response_mut_uninit(ResponseMutUninit<S, [MaybeUninit<u8>], ()>);

#[repr(C)]
pub struct ddb_ipc_request_response_settings {
    pub max_clients: u64,
    pub max_servers: u64,
    pub max_nodes: u64,
}

/// The refusals that mean another participant is creating or removing the service, as for
/// publish-subscribe (publish_subscribe.rs).
fn in_transition(e: &OpenOrCreate) -> bool {
    matches!(
        e,
        OpenOrCreate::SystemInFlux
            | OpenOrCreate::RequestResponseOpenError(
                Open::ServiceInCorruptedState
                    | Open::IsMarkedForDestruction
                    | Open::HangsInCreation
            )
            | OpenOrCreate::RequestResponseCreateError(
                Create::ServiceInCorruptedState
                    | Create::IsBeingCreatedByAnotherInstance
                    | Create::AlreadyExists
                    | Create::HangsInCreation
            )
    )
}

/// Settings are applied in the order of the struct's fields, then `open_or_create`. A refusal
/// by a service in transition has the kind `DDB_IPC_KIND_SERVICE_IN_TRANSITION`.
///
/// # Safety
/// `node` is a live node from `ddb_ipc_node_create`, `name` a live service name from
/// `ddb_ipc_service_name_new` and `settings` a readable settings struct; `out` is valid for
/// writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_request_response_open_or_create(
    node: *const ddb_ipc_node,
    name: *const ddb_ipc_service_name,
    settings: *const ddb_ipc_request_response_settings,
    out: *mut *mut ddb_ipc_port_factory_request_response,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let (node, name, s) = (&(*node).0, &(*name).0, &*settings);
        let factory = node
            .service_builder(name)
            .request_response::<[u8], [u8]>()
            .max_clients(s.max_clients as usize)
            .max_servers(s.max_servers as usize)
            .max_nodes(s.max_nodes as usize)
            .open_or_create()
            .map_err(|e| open_or_create_failure(e, in_transition(&e)))?;
        put(out, ddb_ipc_port_factory_request_response(factory));
        Ok(())
    })
}

/// # Safety
/// `factory` is null or a live port factory from `ddb_ipc_request_response_open_or_create`, not
/// used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_port_factory_request_response_drop(
    factory: *mut ddb_ipc_port_factory_request_response,
) {
    drop_box(factory);
}

/// Allocation strategy Static; the unable-to-deliver strategy is the library's configured one.
///
/// # Safety
/// `factory` is a live port factory from `ddb_ipc_request_response_open_or_create`; `out` is
/// valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The client is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_client_create(
    factory: *const ddb_ipc_port_factory_request_response,
    initial_max_slice_len: u64,
    out: *mut *mut ddb_ipc_client,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let client = (*factory)
            .0
            .client_builder()
            .initial_max_slice_len(initial_max_slice_len as usize)
            .allocation_strategy(AllocationStrategy::Static)
            .create()
            .map_err(text)?;
        put(out, ddb_ipc_client(client));
        Ok(())
    })
}

/// # Safety
/// `client` is null or a live client made on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_client_drop(client: *mut ddb_ipc_client) {
    drop_box(client);
}

/// # Safety
/// `client` is a live client made on the calling thread; `out` and `payload` are valid for
/// writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The request is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_client_loan_slice_uninit(
    client: *const ddb_ipc_client,
    len: u64,
    out: *mut *mut ddb_ipc_request_mut_uninit,
    payload: *mut *mut u8,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let mut request = (*client).0.loan_slice_uninit(len as usize).map_err(text)?;
        *payload = request.payload_mut().as_mut_ptr() as *mut u8;
        put(out, ddb_ipc_request_mut_uninit(request));
        Ok(())
    })
}

/// Consumes the request, also on failure.
///
/// # Safety
/// `request` is a live request loaned on the calling thread, every byte of its payload
/// written, and not used afterwards; `out` is valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The pending
/// response is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_request_mut_send(
    request: *mut ddb_ipc_request_mut_uninit,
    out: *mut *mut ddb_ipc_pending_response,
    error: *mut ddb_ipc_error,
) -> i32 {
    let request = Box::from_raw(request);
    guard(error, move || {
        let pending = request.0.assume_init().send().map_err(text)?;
        put(out, ddb_ipc_pending_response(pending));
        Ok(())
    })
}

/// # Safety
/// `request` is null or a live request loaned on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_request_mut_drop(request: *mut ddb_ipc_request_mut_uninit) {
    drop_box(request);
}

/// Non-blocking: `*out` is null when no response is waiting.
///
/// # Safety
/// `pending` is a live pending response made on the calling thread; `out` and `payload` are
/// valid for writing a pointer, `payload_len` for writing a `u64`; `error` is null or valid for writing a `ddb_ipc_error`. The response is bound
/// to the calling thread, and the payload is valid until the response is released.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_pending_response_receive(
    pending: *const ddb_ipc_pending_response,
    out: *mut *mut ddb_ipc_response,
    payload: *mut *const u8,
    payload_len: *mut u64,
    error: *mut ddb_ipc_error,
) -> i32 {
    *out = std::ptr::null_mut();
    guard(error, || {
        if let Some(response) = (*pending).0.receive().map_err(text)? {
            *payload = response.payload().as_ptr();
            *payload_len = response.payload().len() as u64;
            put(out, ddb_ipc_response(response));
        }
        Ok(())
    })
}

/// # Safety
/// `pending` is null or a live pending response made on the calling thread, not used
/// afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_pending_response_drop(pending: *mut ddb_ipc_pending_response) {
    drop_box(pending);
}

/// # Safety
/// `response` is null or a live response received on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_response_drop(response: *mut ddb_ipc_response) {
    drop_box(response);
}

/// Allocation strategy Static: `initial_max_slice_len` bounds every response's length.
///
/// # Safety
/// `factory` is a live port factory from `ddb_ipc_request_response_open_or_create`; `out` is
/// valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The server is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_server_create(
    factory: *const ddb_ipc_port_factory_request_response,
    initial_max_slice_len: u64,
    out: *mut *mut ddb_ipc_server,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let server = (*factory)
            .0
            .server_builder()
            .initial_max_slice_len(initial_max_slice_len as usize)
            .allocation_strategy(AllocationStrategy::Static)
            .create()
            .map_err(text)?;
        put(out, ddb_ipc_server(server));
        Ok(())
    })
}

/// # Safety
/// `server` is null or a live server made on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_server_drop(server: *mut ddb_ipc_server) {
    drop_box(server);
}

/// Non-blocking: `*out` is null when no request is waiting.
///
/// # Safety
/// `server` is a live server made on the calling thread; `out` and `payload` are valid for
/// writing a pointer, `payload_len` for writing a `u64`; `error` is null or valid for writing a `ddb_ipc_error`. The request is bound to the
/// calling thread, and the payload is valid until the request is released.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_server_receive(
    server: *const ddb_ipc_server,
    out: *mut *mut ddb_ipc_active_request,
    payload: *mut *const u8,
    payload_len: *mut u64,
    error: *mut ddb_ipc_error,
) -> i32 {
    *out = std::ptr::null_mut();
    guard(error, || {
        if let Some(request) = (*server).0.receive().map_err(text)? {
            *payload = request.payload().as_ptr();
            *payload_len = request.payload().len() as u64;
            put(out, ddb_ipc_active_request(request));
        }
        Ok(())
    })
}

/// # Safety
/// `request` is null or a live request received on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_active_request_drop(request: *mut ddb_ipc_active_request) {
    drop_box(request);
}

/// # Safety
/// `request` is a live request received on the calling thread; `out` and `payload` are valid
/// for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The response is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_active_request_loan_slice_uninit(
    request: *const ddb_ipc_active_request,
    len: u64,
    out: *mut *mut ddb_ipc_response_mut_uninit,
    payload: *mut *mut u8,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let mut response = (*request).0.loan_slice_uninit(len as usize).map_err(text)?;
        *payload = response.payload_mut().as_mut_ptr() as *mut u8;
        put(out, ddb_ipc_response_mut_uninit(response));
        Ok(())
    })
}

/// Consumes the response, also on failure.
///
/// # Safety
/// `response` is a live response loaned on the calling thread, every byte of its payload
/// written, and not used afterwards; `error` is null or valid for writing a `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_response_mut_send(
    response: *mut ddb_ipc_response_mut_uninit,
    error: *mut ddb_ipc_error,
) -> i32 {
    let response = Box::from_raw(response);
    guard(error, move || {
        response.0.assume_init().send().map_err(text)?;
        Ok(())
    })
}

/// # Safety
/// `response` is null or a live response loaned on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_response_mut_drop(response: *mut ddb_ipc_response_mut_uninit) {
    drop_box(response);
}
