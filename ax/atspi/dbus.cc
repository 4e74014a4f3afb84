// D-Bus calls and connections bounded in time, over sd-bus.
#include "ax/atspi/dbus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

uint64_t usec(int64_t ms) {
  return static_cast<uint64_t>(std::max<int64_t>(ms, 0)) * 1000;
}

int64_t msUntil(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// sd-bus reports its own reply timeout as ETIMEDOUT; the bus daemon's as a NoReply error.
CallError classify(int errnoValue, const sd_bus_error* error) {
  if (errnoValue == ETIMEDOUT) return CallError::TimedOut;
  if (error && sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY)) return CallError::TimedOut;
  return CallError::Failed;
}

Message newCall(const Destination& to, const char* path, const char* interface, const char* method,
                const Args& args) {
  sd_bus_message* raw = nullptr;
  // Invalid names and paths (from a hostile reply) are refused here, as failed calls.
  if (sd_bus_message_new_method_call(to.connection, &raw,
                                     to.busName.empty() ? nullptr : to.busName.c_str(), path,
                                     interface, method) < 0)
    return {};
  Message m(raw);
  if (args && args(raw) < 0) return {};
  // A name nobody owns is not started on our behalf.
  if (sd_bus_message_set_auto_start(raw, 0) < 0) return {};
  return m;
}

// A reply of the wrong shape is a failed call, as if the method did not exist.
CallResult checked(Message reply, const char* replyType, bool boxed) {
  if (!reply || (replyType && sd_bus_message_has_signature(reply.get(), replyType) <= 0))
    return {Message(), CallError::Failed};
  return {std::move(reply), CallError::None, boxed};
}

}  // namespace

Args intArgs(int32_t a) {
  return [a](sd_bus_message* m) { return sd_bus_message_append(m, "i", a); };
}
Args intArgs(int32_t a, int32_t b) {
  return [a, b](sd_bus_message* m) { return sd_bus_message_append(m, "ii", a, b); };
}
Args stringArgs(std::string a) {
  return [a = std::move(a)](sd_bus_message* m) { return sd_bus_message_append(m, "s", a.c_str()); };
}
Args stringArgs(std::string a, std::string b) {
  return [a = std::move(a), b = std::move(b)](sd_bus_message* m) {
    return sd_bus_message_append(m, "ss", a.c_str(), b.c_str());
  };
}

MethodCall propertyCall(std::string path, const char* interface, const char* property) {
  return {std::move(path),
          "org.freedesktop.DBus.Properties",
          "Get",
          stringArgs(interface, property),
          "v",
          true};
}

CallResult callMethod(const Destination& to, const char* path, const char* interface,
                      const char* method, const Args& args, const char* replyType, int timeoutMs) {
  // A batch of one: sd_bus_call would first wait for a handshake still under way with no deadline,
  // where a pipelined call goes out right behind it.
  return callMany(to, {MethodCall{path, interface, method, args, replyType}}, timeoutMs, 1).front();
}

CallResult getProperty(const Destination& to, const char* path, const char* interface,
                       const char* property, int timeoutMs) {
  CallResult r = callMethod(to, path, "org.freedesktop.DBus.Properties", "Get",
                            stringArgs(interface, property), "v", timeoutMs);
  r.boxed = r.ok();
  return r;
}

Connection openConnection(const std::string& address, bool messageBus) {
  if (address.empty()) return nullptr;
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  // Closed without a flush: flushing waits for a peer that may never read.
  Connection bus(raw, [](sd_bus* b) { sd_bus_close_unref(b); });
  if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, messageBus) < 0 ||
      sd_bus_start(raw) < 0)
    return nullptr;
  return bus;
}

bool awaitHandshake(const Connection& c, int timeoutMs) {
  if (!c || timeoutMs <= 0) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  sd_bus* raw = c.get();
  while (true) {
    int ready = sd_bus_is_ready(raw);
    if (ready != 0) return ready > 0;
    int r = sd_bus_process(raw, nullptr);
    if (r < 0) return false;
    if (r > 0) continue;
    int64_t left = msUntil(deadline);
    if (left <= 0 || sd_bus_wait(raw, usec(left)) < 0) return false;
  }
}

bool isOpen(const Connection& c) {
  return c && sd_bus_is_open(c.get()) > 0;
}

void drain(const Connection& c) {
  if (!c) return;
  while (sd_bus_process(c.get(), nullptr) > 0) {
  }
}

namespace {

struct Batch {
  std::vector<CallResult> results;
  std::vector<bool> answered;
  const std::vector<MethodCall>* calls = nullptr;
  size_t inFlight = 0;
};

struct Entry {
  Batch* batch;
  size_t index;
};

int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* entry = static_cast<Entry*>(userdata);
  Batch& batch = *entry->batch;
  const MethodCall& call = (*batch.calls)[entry->index];
  CallResult& out = batch.results[entry->index];
  if (sd_bus_message_is_method_error(m, nullptr)) {
    out = {Message(), classify(sd_bus_message_get_errno(m), sd_bus_message_get_error(m))};
  } else {
    out = checked(Message(sd_bus_message_ref(m)), call.replyType, call.property);
  }
  batch.answered[entry->index] = true;
  --batch.inFlight;
  return 0;
}

}  // namespace

std::vector<CallResult> callMany(const Destination& to, const std::vector<MethodCall>& calls,
                                 int timeoutMs, size_t window) {
  Batch batch;
  batch.results.assign(
      calls.size(), CallResult{Message(), to.connection ? CallError::TimedOut : CallError::Failed});
  batch.answered.assign(calls.size(), false);
  batch.calls = &calls;
  if (!to.connection || timeoutMs <= 0 || calls.empty()) return batch.results;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<Entry> entries(calls.size());
  // Owned here: unreferencing a slot whose reply has not come cancels its callback, so none
  // can run after this function returns.
  std::vector<sd_bus_slot*> slots(calls.size(), nullptr);
  bool broken = false;
  size_t next = 0;
  while (!broken && (next < calls.size() || batch.inFlight > 0)) {
    while (next < calls.size() && batch.inFlight < std::max<size_t>(window, 1)) {
      const MethodCall& c = calls[next];
      entries[next] = {&batch, next};
      Message m = newCall(c.destination.empty() ? to : Destination{to.connection, c.destination},
                          c.path.c_str(), c.interface, c.method, c.args);
      if (!m || sd_bus_call_async(to.connection, &slots[next], m.get(), onReply, &entries[next],
                                  usec(std::max<int64_t>(1, msUntil(deadline)))) < 0) {
        batch.results[next].error = CallError::Failed;
        batch.answered[next] = true;
      } else {
        ++batch.inFlight;
      }
      ++next;
    }
    if (batch.inFlight == 0) continue;
    int r = sd_bus_process(to.connection, nullptr);
    if (r > 0) continue;
    int64_t left = msUntil(deadline);
    if (left <= 0) break;
    broken = r < 0 || sd_bus_wait(to.connection, usec(left)) < 0;
  }
  for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
  // A connection that broke fails what it left unanswered; a deadline leaves it timed out.
  for (size_t i = 0; i < calls.size() && broken; ++i)
    if (!batch.answered[i]) batch.results[i].error = CallError::Failed;
  return batch.results;
}
