#include "port/thread.h"

#include <pthread.h>

#include <memory>

#include "port/system_error.h"

namespace data_daemon_bridge::port {

namespace {

struct ThreadStart {
  std::string name;
  std::function<void()> body;
};

void set_current_thread_name(const std::string& name) {
#if defined(__APPLE__)
  pthread_setname_np(name.c_str());
#else
  pthread_setname_np(pthread_self(), name.c_str());
#endif
}

void* thread_trampoline(void* arg) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
  set_current_thread_name(start->name);
  std::function<void()> body = std::move(start->body);
  start.reset();
  body();
  return nullptr;
}

}  // namespace

size_t max_thread_name_chars() {
#if defined(__APPLE__)
  return 63;
#else
  return 15;
#endif
}

std::string shorten_thread_name(std::string_view name, size_t max_chars) {
  constexpr std::string_view kPrefix = "qs-";
  if (name.size() > max_chars && name.substr(0, kPrefix.size()) == kPrefix) {
    name.remove_prefix(kPrefix.size());
  }
  if (name.size() > max_chars) name.remove_prefix(name.size() - max_chars);
  return std::string(name);
}

std::string visible_thread_name(std::string_view name) {
  return shorten_thread_name(name, max_thread_name_chars());
}

data_daemon_shared::Result<data_daemon_shared::Unit, std::string> start_detached_thread(
    std::string name, size_t stack_bytes, std::function<void()> body) {
  using data_daemon_shared::Err;
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc != 0) return Err(system_error_text(rc));
  if (stack_bytes != 0) rc = pthread_attr_setstacksize(&attr, stack_bytes);
  if (rc == 0) rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto start =
      std::make_unique<ThreadStart>(ThreadStart{visible_thread_name(name), std::move(body)});
  pthread_t thread;
  if (rc == 0) rc = pthread_create(&thread, &attr, thread_trampoline, start.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) return Err(system_error_text(rc));
  start.release();  // the thread owns it now
  return data_daemon_shared::Unit{};
}

std::string current_thread_name() {
  char buf[64] = {};
  if (pthread_getname_np(pthread_self(), buf, sizeof buf) != 0) return "";
  return buf;
}

}  // namespace data_daemon_bridge::port
