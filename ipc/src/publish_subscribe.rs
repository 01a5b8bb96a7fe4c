//! Publish-subscribe with a byte-slice payload and no user header: the service, its publisher
//! with loan and send, its subscriber with non-blocking receive.

use std::mem::MaybeUninit;

use iceoryx2::port::publisher::Publisher;
use iceoryx2::port::subscriber::Subscriber;
use iceoryx2::prelude::*;
use iceoryx2::sample::Sample;
use iceoryx2::sample_mut_uninit::SampleMutUninit;
use iceoryx2::service::builder::publish_subscribe::{
    PublishSubscribeCreateError as Create, PublishSubscribeOpenError as Open,
    PublishSubscribeOpenOrCreateError as OpenOrCreate,
};
use iceoryx2::service::port_factory::publish_subscribe::PortFactory;

use crate::error::{ddb_ipc_error, drop_box, guard, open_or_create_failure, put, text};
use crate::node::{ddb_ipc_node, ddb_ipc_service_name};

type S = ipc::Service;

pub struct ddb_ipc_port_factory_publish_subscribe(PortFactory<S, [u8], ()>);
pub struct ddb_ipc_publisher(Publisher<S, [u8], ()>);
pub struct ddb_ipc_sample_mut_uninit(SampleMutUninit<S, [MaybeUninit<u8>], ()>);
pub struct ddb_ipc_subscriber(Subscriber<S, [u8], ()>);
/// Held only so that dropping it returns the chunk.
#[allow(dead_code)]
pub struct ddb_ipc_sample(Sample<S, [u8], ()>);

#[repr(C)]
pub struct ddb_ipc_publish_subscribe_settings {
    pub enable_safe_overflow: bool,
    pub subscriber_max_buffer_size: u64,
    pub max_publishers: u64,
    pub max_subscribers: u64,
    pub max_nodes: u64,
}

pub const DDB_IPC_UNABLE_TO_DELIVER_BLOCK: i32 = 0;

fn unable_to_deliver(strategy: i32) -> UnableToDeliverStrategy {
    if strategy == DDB_IPC_UNABLE_TO_DELIVER_BLOCK {
        UnableToDeliverStrategy::Block
    } else {
        UnableToDeliverStrategy::DiscardSample
    }
}

/// The refusals that mean another participant is creating or removing the service: its files
/// or shared memory found in part, marked for destruction, or not finished within the
/// library's creation timeout, and iceoryx2's own retries of these used up (SystemInFlux).
fn in_transition(e: &OpenOrCreate) -> bool {
    matches!(
        e,
        OpenOrCreate::SystemInFlux
            | OpenOrCreate::PublishSubscribeOpenError(
                Open::ServiceInCorruptedState
                    | Open::IsMarkedForDestruction
                    | Open::HangsInCreation
            )
            | OpenOrCreate::PublishSubscribeCreateError(
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
pub unsafe extern "C" fn ddb_ipc_publish_subscribe_open_or_create(
    node: *const ddb_ipc_node,
    name: *const ddb_ipc_service_name,
    settings: *const ddb_ipc_publish_subscribe_settings,
    out: *mut *mut ddb_ipc_port_factory_publish_subscribe,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let (node, name, s) = (&(*node).0, &(*name).0, &*settings);
        let factory = node
            .service_builder(name)
            .publish_subscribe::<[u8]>()
            .enable_safe_overflow(s.enable_safe_overflow)
            .subscriber_max_buffer_size(s.subscriber_max_buffer_size as usize)
            .max_publishers(s.max_publishers as usize)
            .max_subscribers(s.max_subscribers as usize)
            .max_nodes(s.max_nodes as usize)
            .open_or_create()
            .map_err(|e| open_or_create_failure(e, in_transition(&e)))?;
        put(out, ddb_ipc_port_factory_publish_subscribe(factory));
        Ok(())
    })
}

/// # Safety
/// `factory` is null or a live port factory from `ddb_ipc_publish_subscribe_open_or_create`,
/// not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_port_factory_publish_subscribe_drop(
    factory: *mut ddb_ipc_port_factory_publish_subscribe,
) {
    drop_box(factory);
}

/// # Safety
/// `factory` is a live port factory from `ddb_ipc_publish_subscribe_open_or_create`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_port_factory_publish_subscribe_number_of_subscribers(
    factory: *const ddb_ipc_port_factory_publish_subscribe,
) -> u64 {
    use iceoryx2::service::port_factory::PortFactory as _;
    (*factory).0.dynamic_config().number_of_subscribers() as u64
}

/// Allocation strategy Static: the loan capacity is `initial_max_slice_len` and never grows.
///
/// # Safety
/// `factory` is a live port factory from `ddb_ipc_publish_subscribe_open_or_create`; `out` is
/// valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The publisher is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_publisher_create(
    factory: *const ddb_ipc_port_factory_publish_subscribe,
    initial_max_slice_len: u64,
    unable_to_deliver_strategy: i32,
    out: *mut *mut ddb_ipc_publisher,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let publisher = (*factory)
            .0
            .publisher_builder()
            .initial_max_slice_len(initial_max_slice_len as usize)
            .unable_to_deliver_strategy(unable_to_deliver(unable_to_deliver_strategy))
            .allocation_strategy(AllocationStrategy::Static)
            .create()
            .map_err(text)?;
        put(out, ddb_ipc_publisher(publisher));
        Ok(())
    })
}

/// # Safety
/// `publisher` is null or a live publisher made on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_publisher_drop(publisher: *mut ddb_ipc_publisher) {
    drop_box(publisher);
}

/// # Safety
/// `publisher` is a live publisher made on the calling thread; `out` and `payload` are valid
/// for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The sample is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_publisher_loan_slice_uninit(
    publisher: *const ddb_ipc_publisher,
    len: u64,
    out: *mut *mut ddb_ipc_sample_mut_uninit,
    payload: *mut *mut u8,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let mut sample = (*publisher)
            .0
            .loan_slice_uninit(len as usize)
            .map_err(text)?;
        *payload = sample.payload_mut().as_mut_ptr() as *mut u8;
        put(out, ddb_ipc_sample_mut_uninit(sample));
        Ok(())
    })
}

/// Consumes the sample, also on failure.
///
/// # Safety
/// `sample` is a live sample loaned on the calling thread, every byte of its payload written,
/// and not used afterwards; `subscribers_reached` is valid for writing a `u64`; `error` is null or valid for writing a `ddb_ipc_error`.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_sample_mut_send(
    sample: *mut ddb_ipc_sample_mut_uninit,
    subscribers_reached: *mut u64,
    error: *mut ddb_ipc_error,
) -> i32 {
    let sample = Box::from_raw(sample);
    guard(error, move || {
        let reached = sample.0.assume_init().send().map_err(text)?;
        *subscribers_reached = reached as u64;
        Ok(())
    })
}

/// # Safety
/// `sample` is null or a live sample loaned on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_sample_mut_drop(sample: *mut ddb_ipc_sample_mut_uninit) {
    drop_box(sample);
}

/// The subscriber's buffer size is the service's `subscriber_max_buffer_size`.
///
/// # Safety
/// `factory` is a live port factory from `ddb_ipc_publish_subscribe_open_or_create`; `out` is
/// valid for writing a pointer; `error` is null or valid for writing a `ddb_ipc_error`. The subscriber is bound to the calling thread.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_subscriber_create(
    factory: *const ddb_ipc_port_factory_publish_subscribe,
    out: *mut *mut ddb_ipc_subscriber,
    error: *mut ddb_ipc_error,
) -> i32 {
    guard(error, || {
        let subscriber = (*factory).0.subscriber_builder().create().map_err(text)?;
        put(out, ddb_ipc_subscriber(subscriber));
        Ok(())
    })
}

/// # Safety
/// `subscriber` is null or a live subscriber made on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_subscriber_drop(subscriber: *mut ddb_ipc_subscriber) {
    drop_box(subscriber);
}

/// Non-blocking: `*out` is null when no sample is waiting.
///
/// # Safety
/// `subscriber` is a live subscriber made on the calling thread; `out` and `payload` are valid
/// for writing a pointer, `payload_len` for writing a `u64`; `error` is null or valid for writing a `ddb_ipc_error`. The sample is bound to the
/// calling thread, and the payload is valid until the sample is released.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_subscriber_receive(
    subscriber: *const ddb_ipc_subscriber,
    out: *mut *mut ddb_ipc_sample,
    payload: *mut *const u8,
    payload_len: *mut u64,
    error: *mut ddb_ipc_error,
) -> i32 {
    *out = std::ptr::null_mut();
    guard(error, || {
        if let Some(sample) = (*subscriber).0.receive().map_err(text)? {
            *payload = sample.payload().as_ptr();
            *payload_len = sample.payload().len() as u64;
            put(out, ddb_ipc_sample(sample));
        }
        Ok(())
    })
}

/// # Safety
/// `sample` is null or a live sample received on the calling thread, not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn ddb_ipc_sample_drop(sample: *mut ddb_ipc_sample) {
    drop_box(sample);
}
