// Fuzzes the shared text rules over random UTF-16: valid UTF-8 out, cuts within their limits, and
// every JSON string written parses back to exactly the text.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "common/text.h"
#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int64_t n = data[0] % 64;  // a character budget small enough to bite often
  std::u16string units;
  for (size_t i = 1; i + 1 < size; i += 2)
    units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

  const std::string text = utf8FromUtf16(units);
  check(validUtf8(text));
  check(utf8FromUtf16(utf16FromUtf8(text)) == text);  // lossless once replacements are made

  const int64_t count = charCount(text);
  const auto first = firstChars(text, n);
  const auto last = lastChars(text, n);
  check(charCount(first) == std::min(n, count));
  check(charCount(last) == std::min(n, count));
  check(text.compare(0, first.size(), first) == 0);
  check(text.size() >= last.size() &&
        text.compare(text.size() - last.size(), last.size(), last) == 0);
  check((first.size() == text.size()) == (count <= n));
  check(canonicallyEqual(text, text));

  // Raw bytes (invalid UTF-8 from another process) still convert and count without fault.
  std::string raw(reinterpret_cast<const char*>(data), size);
  check(validUtf8(utf8FromUtf16(utf16FromUtf8(raw))));
  check(charCount(raw) >= 0 && charCount(firstChars(raw, n)) <= n);

  nlohmann::json line = {{"texts", {text, std::string(first), std::string(last)}}};
  auto back = nlohmann::json::parse(line.dump());
  check(back["texts"][0] == text && back["texts"][1] == std::string(first));
  return 0;
}
