// Decoding D-Bus replies with sd-bus, each read checking the reply's whole shape first.
#include "ax/atspi/reply.h"

namespace {

// Positions `r`'s message at its value of signature `type`: the message's whole body, or the
// content of a property's variant. False when the reply is of another shape.
bool open(const CallResult& r, const char* type) {
  sd_bus_message* m = r.reply.get();
  if (!r.ok() || !m || sd_bus_message_rewind(m, 1) < 0) return false;
  if (!r.boxed) return sd_bus_message_has_signature(m, type) > 0;
  return sd_bus_message_has_signature(m, "v") > 0 && sd_bus_message_verify_type(m, 'v', type) > 0 &&
         sd_bus_message_enter_container(m, 'v', type) > 0;
}

template <typename T>
std::optional<T> basic(const CallResult& r, char type) {
  const char signature[] = {type, '\0'};
  T value{};
  if (!open(r, signature) || sd_bus_message_read_basic(r.reply.get(), type, &value) <= 0)
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint32_t> readUint32(const CallResult& r) {
  return basic<uint32_t>(r, 'u');
}

std::optional<int32_t> readInt32(const CallResult& r) {
  return basic<int32_t>(r, 'i');
}

std::optional<std::string> readString(const CallResult& r) {
  auto s = basic<const char*>(r, 's');
  if (!s || !*s) return s ? std::optional<std::string>(std::string()) : std::nullopt;
  return std::string(*s);
}

std::optional<std::pair<int32_t, int32_t>> readIntPair(const CallResult& r) {
  int32_t a = 0;
  int32_t b = 0;
  if (!open(r, "ii") || sd_bus_message_read(r.reply.get(), "ii", &a, &b) <= 0) return std::nullopt;
  return std::pair{a, b};
}

std::optional<ObjectRef> readReference(const CallResult& r) {
  const char* name = nullptr;
  const char* path = nullptr;
  if (!open(r, "(so)") || sd_bus_message_read(r.reply.get(), "(so)", &name, &path) <= 0)
    return std::nullopt;
  return ObjectRef{name, path};
}

std::optional<std::vector<ObjectRef>> readReferences(const CallResult& r) {
  sd_bus_message* m = r.reply.get();
  if (!open(r, "a(so)") || sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return std::nullopt;
  std::vector<ObjectRef> out;
  const char* name = nullptr;
  const char* path = nullptr;
  int got = 0;
  while ((got = sd_bus_message_read(m, "(so)", &name, &path)) > 0) out.push_back({name, path});
  if (got < 0) return std::nullopt;
  return out;
}

std::optional<uint64_t> readStateWords(const CallResult& r) {
  const void* words = nullptr;
  size_t bytes = 0;
  if (!open(r, "au") || sd_bus_message_read_array(r.reply.get(), 'u', &words, &bytes) < 0)
    return std::nullopt;
  const auto* w = static_cast<const uint32_t*>(words);
  size_t n = bytes / sizeof(uint32_t);
  return n == 0 ? 0 : uint64_t{w[0]} | (n > 1 ? uint64_t{w[1]} << 32 : 0);
}
