#include "port/thread.h"

#include <pthread.h>

#include <memory>
#include <system_error>

namespace data_daemon_bridge::port {

namespace {

#if defined(__APPLE__)
constexpr size_t kMaxThreadNameLength = 63;
#else
constexpr size_t kMaxThreadNameLength = 15;
#endif

struct ThreadStart {
  std::string name;
  std::function<void()> body;
};

void* run_thread(void* arg) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
  set_current_thread_name(start->name);
  start->body();
  return nullptr;
}

}  // namespace

data_daemon_shared::Result<data_daemon_shared::Unit, std::string> spawn_detached_thread(
    std::string name, std::function<void()> body) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(name), std::move(body)});
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc == 0) {
    rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (rc == 0) rc = pthread_create(&thread, &attr, run_thread, start.get());
    pthread_attr_destroy(&attr);
  }
  if (rc != 0) return data_daemon_shared::Err(std::system_category().message(rc));
  start.release();  // now the new thread's
  return data_daemon_shared::Unit{};
}

void set_current_thread_name(std::string_view name) {
  const std::string shown(name.substr(0, kMaxThreadNameLength));
#if defined(__APPLE__)
  pthread_setname_np(shown.c_str());
#else
  pthread_setname_np(pthread_self(), shown.c_str());
#endif
}

std::string current_thread_name() {
  char buffer[64] = {};
  if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return {};
  return buffer;
}

}  // namespace data_daemon_bridge::port
