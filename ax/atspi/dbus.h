// Owning handles for GLib/GIO objects and D-Bus calls that always end within a timeout.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// A GVariant reference, taken over on adoption: a floating one is sunk, a full one is kept as it
// is (sinking a full reference would add a second one, and every reply would leak).
class Variant {
 public:
  Variant() = default;
  explicit Variant(GVariant* v) : v_(v ? g_variant_take_ref(v) : nullptr) {}
  Variant(const Variant& o) : v_(o.v_ ? g_variant_ref(o.v_) : nullptr) {}
  Variant(Variant&& o) noexcept : v_(o.v_) { o.v_ = nullptr; }
  Variant& operator=(Variant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }
  ~Variant() {
    if (v_) g_variant_unref(v_);
  }
  GVariant* get() const { return v_; }
  explicit operator bool() const { return v_ != nullptr; }
  // The index-th child of a tuple (also owned).
  Variant child(gsize index) const { return Variant(g_variant_get_child_value(v_, index)); }

 private:
  GVariant* v_ = nullptr;
};

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
  void operator()(gpointer o) const { g_object_unref(o); }
};
// Shared because element handles of one application share its connection.
using Connection = std::shared_ptr<GDBusConnection>;
inline Connection adoptConnection(GDBusConnection* c) {
  return Connection(c, [](GDBusConnection* p) {
    if (p) g_object_unref(p);
  });
}

// What a call needs to know about its destination. `busName` is empty on a peer-to-peer
// connection (an application's own socket), which has no message bus to route by name.
struct Destination {
  GDBusConnection* connection = nullptr;
  std::string busName;
};

enum class CallError { None, TimedOut, Failed };

struct CallResult {
  Variant reply;  // a tuple; empty on failure
  CallError error = CallError::None;
  bool ok() const { return error == CallError::None; }
};

// One method call that returns within `timeoutMs` whatever the other side does. `args` may be
// floating (it is consumed) or null; `replyType` checks the reply's shape ("(s)", "(a(so))").
CallResult callMethod(const Destination& to, const char* path, const char* interface,
                      const char* method, GVariant* args, const char* replyType, int timeoutMs);

// org.freedesktop.DBus.Properties.Get, unwrapped from its variant box.
CallResult getProperty(const Destination& to, const char* path, const char* interface,
                       const char* property, int timeoutMs);

// Connects and authenticates (and says Hello when `messageBus`) within `timeoutMs`. A socket that
// accepts but never answers would block GLib's synchronous constructor for ever, so this runs the
// asynchronous one on a private main context and cancels it at the deadline.
Connection connectWithTimeout(const std::string& address, bool messageBus, int timeoutMs);

// One call of a pipelined batch; `args` may be floating (it is consumed) or null.
struct MethodCall {
  std::string path;
  const char* interface = nullptr;
  const char* method = nullptr;
  GVariant* args = nullptr;
  const char* replyType = nullptr;
};

// Any calls to one destination, pipelined: up to `window` are in flight at once, so a batch costs
// about one round trip per `window` calls instead of one per call. Results come in the order of
// `calls`; all of them end by `timeoutMs` from the start.
std::vector<CallResult> callMany(const Destination& to, const std::vector<MethodCall>& calls,
                                 int timeoutMs, size_t window);
