/* The C interface of the iceoryx2 binding crate (ipc/src): the iceoryx2 0.8.1 calls the data
 * bridge makes, one function per call, on the `ipc` service type.
 *
 * Every function that can fail returns DDB_IPC_OK, DDB_IPC_FAILED (iceoryx2 refused; `error`
 * holds the iceoryx2 error's display text and its kind) or DDB_IPC_PANIC (the binding or
 * iceoryx2 panicked; `error` holds the panic's text). `error` may be null. A panic never unwinds
 * into the caller.
 *
 * Handles are owned by the caller and released with their *_drop function, exactly once; a
 * handle may instead be kept forever without release (a forked child must never release what it
 * inherited). Ports, samples, requests and responses belong to the thread that created them:
 * create, use and release each on one thread. Nodes, service names and port factories may be
 * used from any thread. Ports keep their service and node alive, so those may be released
 * before the ports made from them.
 *
 * iceoryx2's log messages never reach the console: they go to the callback set with
 * ddb_ipc_set_log_callback, or nowhere. Signal handling of nodes is disabled, and no function
 * here waits on a node or a wait set, so iceoryx2 installs no signal handler in the process. */
#ifndef DATA_DAEMON_IPC_IPC_H_
#define DATA_DAEMON_IPC_IPC_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { DDB_IPC_OK = 0, DDB_IPC_FAILED = 1, DDB_IPC_PANIC = 2 };

/* Kinds of failure. DDB_IPC_KIND_SERVICE_IN_TRANSITION: an open_or_create found the service
 * half created or half removed by another participant (iceoryx2's ServiceInCorruptedState,
 * IsMarkedForDestruction, HangsInCreation, IsBeingCreatedByAnotherInstance, AlreadyExists,
 * SystemInFlux); the same call may succeed a moment later. Every other failure, a panic
 * included, is DDB_IPC_KIND_OTHER. */
enum { DDB_IPC_KIND_OTHER = 0, DDB_IPC_KIND_SERVICE_IN_TRANSITION = 1 };

/* The failure's display text, NUL-terminated, and its kind. */
typedef struct ddb_ipc_error {
  char text[512];
  int32_t kind;
} ddb_ipc_error;

/* level: 0 trace, 1 debug, 2 info, 3 warn, 4 error, 5 fatal. The texts are not NUL-terminated
 * and are valid only during the call, which may come on any thread that calls iceoryx2. The
 * callback must not unwind (no exception, no thread exit): it runs inside the library's calls,
 * where an unwind ends the process. So it never runs an interpreter's code. */
typedef void (*ddb_ipc_log_callback)(uint8_t level, const char* origin, size_t origin_len,
                                     const char* message, size_t message_len);
/* Sets the callback, or removes it with NULL. Any thread, any time. */
void ddb_ipc_set_log_callback(ddb_ipc_log_callback callback);

/* ---- node and service name ---- */
typedef struct ddb_ipc_node ddb_ipc_node;
typedef struct ddb_ipc_service_name ddb_ipc_service_name;

/* Loads the library's global configuration, as the first node creation of the process would
 * (iceoryx2.toml when found, else the defaults). Call it once, before the first node, where
 * several threads may create their first nodes at the same time. */
int32_t ddb_ipc_load_global_config(ddb_ipc_error* error);

/* NodeBuilder with its defaults (no name, the library's global configuration), signal handling
 * disabled, created for the ipc service type. */
int32_t ddb_ipc_node_create(ddb_ipc_node** out, ddb_ipc_error* error);
/* Removes what nodes of dead processes left behind (their ports' registrations, connections and
 * shared memory), as far as this process may; what it may not remove stays. */
void ddb_ipc_cleanup_dead_nodes(void);
/* Whether the node would install iceoryx2's handlers of SIGINT, SIGTERM and other signals, in
 * place of the host's, once waited on (Node::signal_handling_mode); false for every node made by
 * ddb_ipc_node_create. Any thread. */
bool ddb_ipc_node_handles_termination_requests(const ddb_ipc_node* node);
void ddb_ipc_node_drop(ddb_ipc_node* node);

/* ServiceName::new; the name must be UTF-8. `name` may be NULL when name_len is 0. */
int32_t ddb_ipc_service_name_new(const char* name, size_t name_len, ddb_ipc_service_name** out,
                                 ddb_ipc_error* error);
void ddb_ipc_service_name_drop(ddb_ipc_service_name* name);

/* ---- publish-subscribe, payload a byte slice, no user header ---- */
typedef struct ddb_ipc_port_factory_publish_subscribe ddb_ipc_port_factory_publish_subscribe;
typedef struct ddb_ipc_publisher ddb_ipc_publisher;
typedef struct ddb_ipc_sample_mut_uninit ddb_ipc_sample_mut_uninit;
typedef struct ddb_ipc_subscriber ddb_ipc_subscriber;
typedef struct ddb_ipc_sample ddb_ipc_sample;

/* Applied in field order before open_or_create. For an existing service they are minimums
 * (enable_safe_overflow must match). */
typedef struct ddb_ipc_publish_subscribe_settings {
  bool enable_safe_overflow;
  uint64_t subscriber_max_buffer_size;
  uint64_t max_publishers;
  uint64_t max_subscribers;
  uint64_t max_nodes;
} ddb_ipc_publish_subscribe_settings;

enum { DDB_IPC_UNABLE_TO_DELIVER_BLOCK = 0, DDB_IPC_UNABLE_TO_DELIVER_DISCARD_SAMPLE = 1 };

int32_t ddb_ipc_publish_subscribe_open_or_create(const ddb_ipc_node* node,
                                                 const ddb_ipc_service_name* name,
                                                 const ddb_ipc_publish_subscribe_settings* settings,
                                                 ddb_ipc_port_factory_publish_subscribe** out,
                                                 ddb_ipc_error* error);
void ddb_ipc_port_factory_publish_subscribe_drop(ddb_ipc_port_factory_publish_subscribe* factory);
/* Subscribers registered on the service now, live or not yet found dead. */
uint64_t ddb_ipc_port_factory_publish_subscribe_number_of_subscribers(
    const ddb_ipc_port_factory_publish_subscribe* factory);

/* Allocation strategy Static: no loan longer than initial_max_slice_len ever succeeds. */
int32_t ddb_ipc_publisher_create(const ddb_ipc_port_factory_publish_subscribe* factory,
                                 uint64_t initial_max_slice_len, int32_t unable_to_deliver_strategy,
                                 ddb_ipc_publisher** out, ddb_ipc_error* error);
void ddb_ipc_publisher_drop(ddb_ipc_publisher* publisher);

/* loan_slice_uninit: *payload receives the sample's `len` writable bytes in shared memory,
 * valid until the sample is sent or dropped. */
int32_t ddb_ipc_publisher_loan_slice_uninit(const ddb_ipc_publisher* publisher, uint64_t len,
                                            ddb_ipc_sample_mut_uninit** out, uint8_t** payload,
                                            ddb_ipc_error* error);
/* Consumes the sample, also on failure. REQUIRES: every payload byte was written.
 * *subscribers_reached: how many subscribers the sample reached (0 when none is connected).
 * With the Block strategy a full subscriber buffer makes this wait, without a deadline, until
 * the subscriber takes a sample. */
int32_t ddb_ipc_sample_mut_send(ddb_ipc_sample_mut_uninit* sample, uint64_t* subscribers_reached,
                                ddb_ipc_error* error);
void ddb_ipc_sample_mut_drop(ddb_ipc_sample_mut_uninit* sample);

/* The subscriber's buffer holds the service's subscriber_max_buffer_size samples. */
int32_t ddb_ipc_subscriber_create(const ddb_ipc_port_factory_publish_subscribe* factory,
                                  ddb_ipc_subscriber** out, ddb_ipc_error* error);
void ddb_ipc_subscriber_drop(ddb_ipc_subscriber* subscriber);
/* Non-blocking. *out is NULL when no sample is waiting; else *payload and *payload_len describe
 * the sample's bytes, valid until the sample is dropped. */
int32_t ddb_ipc_subscriber_receive(const ddb_ipc_subscriber* subscriber, ddb_ipc_sample** out,
                                   const uint8_t** payload, uint64_t* payload_len,
                                   ddb_ipc_error* error);
void ddb_ipc_sample_drop(ddb_ipc_sample* sample);

/* ---- request-response, request and response byte slices, no user headers ---- */
typedef struct ddb_ipc_port_factory_request_response ddb_ipc_port_factory_request_response;
typedef struct ddb_ipc_client ddb_ipc_client;
typedef struct ddb_ipc_request_mut_uninit ddb_ipc_request_mut_uninit;
typedef struct ddb_ipc_pending_response ddb_ipc_pending_response;
typedef struct ddb_ipc_response ddb_ipc_response;
typedef struct ddb_ipc_server ddb_ipc_server;
typedef struct ddb_ipc_active_request ddb_ipc_active_request;
typedef struct ddb_ipc_response_mut_uninit ddb_ipc_response_mut_uninit;

/* Applied in field order before open_or_create. */
typedef struct ddb_ipc_request_response_settings {
  uint64_t max_clients;
  uint64_t max_servers;
  uint64_t max_nodes;
} ddb_ipc_request_response_settings;

int32_t ddb_ipc_request_response_open_or_create(const ddb_ipc_node* node,
                                                const ddb_ipc_service_name* name,
                                                const ddb_ipc_request_response_settings* settings,
                                                ddb_ipc_port_factory_request_response** out,
                                                ddb_ipc_error* error);
void ddb_ipc_port_factory_request_response_drop(ddb_ipc_port_factory_request_response* factory);

/* Allocation strategy Static; the unable-to-deliver strategy is the library's configured one. */
int32_t ddb_ipc_client_create(const ddb_ipc_port_factory_request_response* factory,
                              uint64_t initial_max_slice_len, ddb_ipc_client** out,
                              ddb_ipc_error* error);
void ddb_ipc_client_drop(ddb_ipc_client* client);
int32_t ddb_ipc_client_loan_slice_uninit(const ddb_ipc_client* client, uint64_t len,
                                         ddb_ipc_request_mut_uninit** out, uint8_t** payload,
                                         ddb_ipc_error* error);
void ddb_ipc_request_mut_drop(ddb_ipc_request_mut_uninit* request);
/* Consumes the request, also on failure. REQUIRES: every payload byte was written. Succeeds
 * also when no server is connected; the pending response then never receives anything. */
int32_t ddb_ipc_request_mut_send(ddb_ipc_request_mut_uninit* request,
                                 ddb_ipc_pending_response** out, ddb_ipc_error* error);
/* Non-blocking. *out is NULL when no response is waiting. */
int32_t ddb_ipc_pending_response_receive(const ddb_ipc_pending_response* pending,
                                         ddb_ipc_response** out, const uint8_t** payload,
                                         uint64_t* payload_len, ddb_ipc_error* error);
void ddb_ipc_pending_response_drop(ddb_ipc_pending_response* pending);
void ddb_ipc_response_drop(ddb_ipc_response* response);

/* Allocation strategy Static: no response longer than initial_max_slice_len can be loaned. */
int32_t ddb_ipc_server_create(const ddb_ipc_port_factory_request_response* factory,
                              uint64_t initial_max_slice_len, ddb_ipc_server** out,
                              ddb_ipc_error* error);
void ddb_ipc_server_drop(ddb_ipc_server* server);
/* Non-blocking. *out is NULL when no request is waiting. */
int32_t ddb_ipc_server_receive(const ddb_ipc_server* server, ddb_ipc_active_request** out,
                               const uint8_t** payload, uint64_t* payload_len,
                               ddb_ipc_error* error);
void ddb_ipc_active_request_drop(ddb_ipc_active_request* request);
int32_t ddb_ipc_active_request_loan_slice_uninit(const ddb_ipc_active_request* request,
                                                 uint64_t len, ddb_ipc_response_mut_uninit** out,
                                                 uint8_t** payload, ddb_ipc_error* error);
/* Consumes the response, also on failure. REQUIRES: every payload byte was written. */
int32_t ddb_ipc_response_mut_send(ddb_ipc_response_mut_uninit* response, ddb_ipc_error* error);
void ddb_ipc_response_mut_drop(ddb_ipc_response_mut_uninit* response);

#ifdef __cplusplus
}
#endif

#endif /* DATA_DAEMON_IPC_IPC_H_ */
