// Replies of D-Bus calls as owned sd-bus messages, and their decoding with shape checks.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A message reference. Reading a message moves its read position, so every decoder below
// rewinds it first: a reply kept in a cache can be read again.
class Message {
 public:
  Message() = default;
  // Takes over a reference the caller owns.
  explicit Message(sd_bus_message* m) : m_(m) {}
  Message(const Message& o) : m_(o.m_ ? sd_bus_message_ref(o.m_) : nullptr) {}
  Message(Message&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  Message& operator=(Message o) noexcept {
    std::swap(m_, o.m_);
    return *this;
  }
  ~Message() {
    if (m_) sd_bus_message_unref(m_);
  }
  sd_bus_message* get() const { return m_; }
  explicit operator bool() const { return m_ != nullptr; }

 private:
  sd_bus_message* m_ = nullptr;
};

enum class CallError { None, TimedOut, Failed };

struct CallResult {
  Message reply;  // a method return of the expected signature; empty on failure
  CallError error = CallError::None;
  bool boxed = false;  // the value is a property's, inside its variant (getProperty)
  bool ok() const { return error == CallError::None; }
};

// Decoders of a reply. Each checks the whole shape first: a reply of another type (or a property
// of another type) reads as nothing, never as a crash or a made-up value.
std::optional<uint32_t> readUint32(const CallResult& r);
std::optional<int32_t> readInt32(const CallResult& r);
std::optional<std::string> readString(const CallResult& r);
std::optional<std::pair<int32_t, int32_t>> readIntPair(const CallResult& r);
// An object reference (bus name, object path).
struct ObjectRef {
  std::string name;
  std::string path;
};
std::optional<ObjectRef> readReference(const CallResult& r);
std::optional<std::vector<ObjectRef>> readReferences(const CallResult& r);
// An AT-SPI state set: its first two words as one 64-bit set.
std::optional<uint64_t> readStateWords(const CallResult& r);
