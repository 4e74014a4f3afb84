// The text rules every tool shares: UTF-16/UTF-8 conversion, user-perceived characters, equality.
#include "common/text.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
  utf8proc_uint8_t buf[4];
  utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

// Calls onClusterStart(byteOffset) at the start of every extended grapheme cluster of `text`, until
// it returns false.
template <typename F>
void forEachClusterStart(std::string_view text, F&& onClusterStart) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  utf8proc_ssize_t at = 0;
  while (at < size) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t len = utf8proc_iterate(bytes + at, size - at, &cp);
    bool invalid = len < 0;
    if (invalid) {
      len = 1;
      cp = REPLACEMENT;
    }
    // An invalid byte always stands alone, whatever surrounds it.
    if (previous < 0 || invalid || utf8proc_grapheme_break_stateful(previous, cp, &state)) {
      if (!onClusterStart(static_cast<size_t>(at))) return;
      if (invalid) state = 0;
    }
    previous = invalid ? -1 : cp;
    at += len;
  }
}

// Calls onCodePoint(byteOffset, codePoint) for each code point of `text`, until it returns false.
// An invalid byte is one U+FFFD, as for the clusters.
template <typename F>
void forEachCodePoint(std::string_view text, F&& onCodePoint) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  for (utf8proc_ssize_t at = 0; at < size;) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t len = utf8proc_iterate(bytes + at, size - at, &cp);
    if (len < 0) {
      len = 1;
      cp = REPLACEMENT;
    }
    if (!onCodePoint(static_cast<size_t>(at), cp)) return;
    at += len;
  }
}

// Joins with nothing: no grapheme rule keeps it with its neighbours or looks past it.
bool isLoner(utf8proc_int32_t cp) {
  return utf8proc_get_property(cp)->boundclass == UTF8PROC_BOUNDCLASS_OTHER;
}

std::string nfc(std::string_view text) {
  utf8proc_uint8_t* mapped = nullptr;
  utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
  if (n < 0) return std::string(text);  // invalid UTF-8: only byte equality is meaningful
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<size_t>(n));
}

}  // namespace

std::string utf8FromUtf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 3 / 2 + 1);
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, REPLACEMENT);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

std::u16string utf16FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* data = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data());
  const auto size = static_cast<utf8proc_ssize_t>(bytes.size());
  utf8proc_ssize_t at = 0;
  while (at < size) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t len = utf8proc_iterate(data + at, size - at, &cp);
    if (len < 0) {
      len = 1;
      cp = REPLACEMENT;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    at += len;
  }
  return out;
}

int64_t charCount(std::string_view text) {
  int64_t count = 0;
  forEachClusterStart(text, [&](size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string_view firstChars(std::string_view text, int64_t n) {
  if (n <= 0) return text.substr(0, 0);
  int64_t seen = 0;
  size_t cut = text.size();
  forEachClusterStart(text, [&](size_t at) {
    if (seen++ < n) return true;
    cut = at;  // the start of character n+1
    return false;
  });
  return text.substr(0, cut);
}

std::string_view lastChars(std::string_view text, int64_t n) {
  if (n <= 0) return text.substr(text.size());
  // A ring of the last n cluster starts keeps memory bounded by n, not by the text's length.
  const size_t ringSize =
      static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(text.size()) + 1));
  std::vector<size_t> ring(ringSize);
  int64_t seen = 0;
  forEachClusterStart(text, [&](size_t at) {
    ring[static_cast<size_t>(seen++) % ringSize] = at;
    return true;
  });
  if (seen <= n) return text;
  return text.substr(ring[static_cast<size_t>(seen - n) % ringSize]);
}

size_t firstSteadyBreak(std::string_view text) {
  size_t found = std::string_view::npos;
  int64_t index = 0;
  bool previousLoner = false;
  forEachCodePoint(text, [&](size_t at, utf8proc_int32_t cp) {
    const bool loner = isLoner(cp);
    // The first code point may be the second half of a pair: it cannot vouch for the break.
    if (index++ >= 2 && previousLoner && loner) found = at;
    previousLoner = loner;
    return found == std::string_view::npos;
  });
  return found;
}

size_t lastSteadyBreak(std::string_view text) {
  size_t found = std::string_view::npos;
  size_t candidate = std::string_view::npos;
  bool previousLoner = false;
  forEachCodePoint(text, [&](size_t at, utf8proc_int32_t cp) {
    // A boundary counts only once a code point follows it: the last one may be half of a pair.
    found = candidate;
    const bool loner = isLoner(cp);
    candidate = at > 0 && previousLoner && loner ? at : found;
    previousLoner = loner;
    return true;
  });
  return found;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // ASCII is its own normal form: two different ASCII texts never compare equal, and walks compare
  // every element's role with several names, so this spares them a normalisation each time.
  auto ascii = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  };
  if (ascii(a) && ascii(b)) return false;
  return nfc(a) == nfc(b);
}
