// D-Bus calls and connections bounded in time, over GDBus.
#include "ax/atspi/dbus.h"

#include <algorithm>
#include <utility>

namespace {

// Shared between the caller and the GIO callback: whichever lets go last frees it, so a callback
// that arrives after the caller gave up touches live memory.
struct PendingConnect {
  GDBusConnection* connection = nullptr;
  bool done = false;
  ~PendingConnect() {
    if (connection) g_object_unref(connection);
  }
};

void onConnected(GObject*, GAsyncResult* result, gpointer data) {
  auto* holder = static_cast<std::shared_ptr<PendingConnect>*>(data);
  (*holder)->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
  (*holder)->done = true;
  delete holder;
}

gboolean onDeadline(gpointer data) {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

CallError classify(const GError* error) {
  if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return CallError::TimedOut;
  // Older GLib reports a reply timeout as a D-Bus NoReply error.
  if (error && g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    return CallError::TimedOut;
  return CallError::Failed;
}

}  // namespace

CallResult callMethod(const Destination& to, const char* path, const char* interface,
                      const char* method, GVariant* args, const char* replyType, int timeoutMs) {
  Variant ownedArgs(args);  // consumes a floating argument even when the call is not made
  if (!to.connection || timeoutMs <= 0 || !g_variant_is_object_path(path))
    return {Variant(), timeoutMs <= 0 ? CallError::TimedOut : CallError::Failed};
  GError* raw = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      to.connection, to.busName.empty() ? nullptr : to.busName.c_str(), path, interface, method,
      ownedArgs.get(), replyType ? G_VARIANT_TYPE(replyType) : nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &raw);
  ErrorPtr error(raw);
  if (!reply) return {Variant(), classify(error.get())};
  return {Variant(reply), CallError::None};
}

CallResult getProperty(const Destination& to, const char* path, const char* interface,
                       const char* property, int timeoutMs) {
  CallResult r = callMethod(to, path, "org.freedesktop.DBus.Properties", "Get",
                            g_variant_new("(ss)", interface, property), "(v)", timeoutMs);
  if (!r.ok()) return r;
  Variant boxed = r.reply.child(0);
  return {Variant(g_variant_get_variant(boxed.get())), CallError::None};
}

Connection connectWithTimeout(const std::string& address, bool messageBus, int timeoutMs) {
  if (address.empty() || timeoutMs <= 0) return nullptr;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  auto pending = std::make_shared<PendingConnect>();
  GCancellable* cancellable = g_cancellable_new();
  int flags = G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT;
  if (messageBus) flags |= G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION;
  g_dbus_connection_new_for_address(address.c_str(), static_cast<GDBusConnectionFlags>(flags),
                                    nullptr, cancellable, onConnected,
                                    new std::shared_ptr<PendingConnect>(pending));
  bool expired = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
  g_source_set_callback(timer, onDeadline, &expired, nullptr);
  g_source_attach(timer, context);
  while (!pending->done && !expired) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  if (!pending->done) {
    // Cancelling makes GIO give up the handshake; a short grace lets its callback run here, so
    // nothing of this attempt is left behind. Should it not come, the holder keeps it safe.
    g_cancellable_cancel(cancellable);
    bool grace = false;
    GSource* graceTimer = g_timeout_source_new(50);
    g_source_set_callback(graceTimer, onDeadline, &grace, nullptr);
    g_source_attach(graceTimer, context);
    while (!pending->done && !grace) g_main_context_iteration(context, TRUE);
    g_source_destroy(graceTimer);
    g_source_unref(graceTimer);
  }
  g_object_unref(cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  if (!pending->connection) return nullptr;
  // The connection must not end the process when the other side goes away.
  g_dbus_connection_set_exit_on_close(pending->connection, FALSE);
  return adoptConnection(std::exchange(pending->connection, nullptr));
}

namespace {

struct Batch {
  std::vector<CallResult> results;
  size_t pending = 0;
};

struct Slot {
  std::shared_ptr<Batch> batch;
  size_t index;
};

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
  auto* slot = static_cast<Slot*>(data);
  GError* raw = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw);
  ErrorPtr error(raw);
  CallResult& out = slot->batch->results[slot->index];
  out = reply ? CallResult{Variant(reply), CallError::None}
              : CallResult{Variant(), classify(error.get())};
  --slot->batch->pending;
  delete slot;
}

}  // namespace

std::vector<CallResult> callMany(const Destination& to, const std::vector<MethodCall>& calls,
                                 int timeoutMs, size_t window) {
  std::vector<Variant> owned;
  owned.reserve(calls.size());
  for (const MethodCall& c : calls) owned.emplace_back(c.args);
  auto batch = std::make_shared<Batch>();
  batch->results.assign(calls.size(), CallResult{Variant(), CallError::TimedOut});
  if (!to.connection || timeoutMs <= 0 || calls.empty()) return batch->results;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = g_cancellable_new();
  bool expired = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
  g_source_set_callback(timer, onDeadline, &expired, nullptr);
  g_source_attach(timer, context);
  size_t next = 0;
  while (!expired && (next < calls.size() || batch->pending > 0)) {
    while (next < calls.size() && batch->pending < std::max<size_t>(window, 1)) {
      const MethodCall& c = calls[next];
      if (!g_variant_is_object_path(c.path.c_str())) {
        batch->results[next++].error = CallError::Failed;
        continue;
      }
      ++batch->pending;
      g_dbus_connection_call(to.connection, to.busName.empty() ? nullptr : to.busName.c_str(),
                             c.path.c_str(), c.interface, c.method, owned[next].get(),
                             c.replyType ? G_VARIANT_TYPE(c.replyType) : nullptr,
                             G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, cancellable, onReply,
                             new Slot{batch, next});
      ++next;
    }
    if (batch->pending > 0) g_main_context_iteration(context, TRUE);
  }
  // Calls still out are cancelled; their callbacks run here and mark nothing, the slots having
  // been filled with a timeout already.
  g_cancellable_cancel(cancellable);
  while (batch->pending > 0) g_main_context_iteration(context, TRUE);
  for (size_t i = 0; i < batch->results.size() && expired; ++i)
    if (!batch->results[i].ok()) batch->results[i].error = CallError::TimedOut;
  g_source_destroy(timer);
  g_source_unref(timer);
  g_object_unref(cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return batch->results;
}
