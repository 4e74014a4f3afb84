// Owning handles for sd-bus connections and messages, and D-Bus calls that always end in time.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ax/atspi/reply.h"

// Shared because element handles of one application share its connection.
using Connection = std::shared_ptr<sd_bus>;

// What a call needs to know about its destination. `busName` is empty on a peer-to-peer
// connection (an application's own socket), which has no message bus to route by name.
struct Destination {
  sd_bus* connection = nullptr;
  std::string busName;
};

// Appends a call's arguments to its message; kept as a function so that a call that timed out
// can be built again. Null: no arguments. Returns a negative errno on failure.
using Args = std::function<int(sd_bus_message*)>;
Args intArgs(int32_t a);
Args intArgs(int32_t a, int32_t b);
Args stringArgs(std::string a);
Args stringArgs(std::string a, std::string b);

// One method call that returns within `timeoutMs` whatever the other side does. `replyType` is
// the reply's whole signature ("s", "a(so)"); a reply of another shape is a failure.
CallResult callMethod(const Destination& to, const char* path, const char* interface,
                      const char* method, const Args& args, const char* replyType, int timeoutMs);

// org.freedesktop.DBus.Properties.Get; the result is boxed.
CallResult getProperty(const Destination& to, const char* path, const char* interface,
                       const char* property, int timeoutMs);

// Connects, and starts the handshake (authentication, and Hello when `messageBus`) without
// waiting for it: calls made meanwhile go out right behind it, each within its own deadline.
Connection openConnection(const std::string& address, bool messageBus);
// Waits for the handshake within `timeoutMs`. sd-bus's own waits would allow it its 90 s
// authentication timeout, so a socket that accepts but never answers is driven here against the
// deadline instead.
bool awaitHandshake(const Connection& c, int timeoutMs);
bool isOpen(const Connection& c);
// Discards whatever arrived that no call waits for (signals of events registered for), so that
// messages nobody reads do not pile up in a long-lived process.
void drain(const Connection& c);

// One call of a pipelined batch.
struct MethodCall {
  std::string path;
  const char* interface = nullptr;
  const char* method = nullptr;
  Args args;
  const char* replyType = nullptr;
  bool property = false;      // a Properties.Get, whose result is boxed
  std::string destination{};  // another bus name than the batch's, on the same connection
};
MethodCall propertyCall(std::string path, const char* interface, const char* property);

// Any calls to one destination, pipelined: up to `window` are in flight at once, so a batch costs
// about one round trip per `window` calls instead of one per call. Results come in the order of
// `calls`; all of them end by `timeoutMs` from the start.
std::vector<CallResult> callMany(const Destination& to, const std::vector<MethodCall>& calls,
                                 int timeoutMs, size_t window);
