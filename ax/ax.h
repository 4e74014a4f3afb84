// The accessibility service as the readers see it: elements, attribute values and the operations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One user-interface element of an application, or the system-wide element. Each platform derives
// its own handle (an AXUIElementRef, a D-Bus name and path, a fake node); the handle releases its
// platform resources when the last reference goes.
class ElementHandle {
 public:
  virtual ~ElementHandle() = default;
};
using Element = std::shared_ptr<const ElementHandle>;

// A range of an element's text, in UTF-16 code units (or in the text's own offsets, see
// Accessibility::countsTextInUtf16).
struct TextRange {
  int64_t location = 0;
  int64_t length = 0;
  bool operator==(const TextRange&) const = default;
};

// A structured value of a kind the tools do not read (a point, a size, an unknown object).
struct OpaqueValue {
  bool operator==(const OpaqueValue&) const = default;
};

// The value of one attribute: text (UTF-16, as the platform holds it), element, list, number,
// boolean, range, or something else. Callers test for the kind they expect.
struct AttrValue {
  using List = std::vector<AttrValue>;
  std::variant<std::u16string, Element, List, double, bool, TextRange, OpaqueValue> value;

  const std::u16string* text() const { return std::get_if<std::u16string>(&value); }
  const Element* element() const { return std::get_if<Element>(&value); }
  const List* list() const { return std::get_if<List>(&value); }
  const TextRange* range() const { return std::get_if<TextRange>(&value); }
};

// Part of a text: its UTF-16 units, and how many of the text's offsets they take (as many as
// there are units, unless the platform counts a text otherwise).
struct TextPart {
  std::u16string units;
  int64_t offsets = 0;
  bool operator==(const TextPart&) const = default;
};

struct FrontmostApplication {
  std::optional<std::string> bundleId;  // absent for applications without one
  int32_t pid = 0;
};

// A hint that a walk is about to read `attributes` of `elements`: a platform may fetch them ahead
// (pipelined IPC) and answer the reads that follow from what it fetched. Results must stay those
// of the plain reads; a platform may ignore hints.
struct PrefetchHint {
  std::vector<Element> elements;
  std::vector<std::string_view> attributes;
};

// Exactly the operations the tools call. Every failure is a value: no exceptions, no diagnostics.
class Accessibility {
 public:
  virtual ~Accessibility() = default;
  virtual bool isTrusted() = 0;
  // Asks the system to request trust from the user when it is missing; the result is not used.
  virtual void requestTrust() = 0;
  virtual std::optional<FrontmostApplication> frontmostApplication() = 0;
  virtual Element applicationElement(int32_t pid) = 0;
  virtual Element systemWideElement() = 0;
  // One read; nothing on any failure (unsupported, no value, timed out, element gone).
  virtual std::optional<AttrValue> copyAttribute(const Element& element, std::string_view name) = 0;
  // The text of `offsets` of the element's text, read without the rest of it where the platform
  // can. Offsets are those "AXNumberOfCharacters" counts: UTF-16 units, unless countsTextInUtf16()
  // is false. Fewer offsets than asked only where the text ends first. Nothing where the platform
  // or the application reads no parts of a text, for a range starting past the end, and on any
  // failure: the caller then reads the whole "AXValue".
  virtual std::optional<TextPart> copyTextRange(const Element&, TextRange /*offsets*/) {
    return std::nullopt;
  }
  // Whether a text's offsets (copyTextRange, "AXNumberOfCharacters") are the UTF-16 units of
  // "AXSelectedTextRange". Where they are not (a toolkit that counts code points), the selection
  // in those offsets comes from copySelectedTextOffsets: nothing on any failure.
  virtual bool countsTextInUtf16() { return true; }
  virtual std::optional<TextRange> copySelectedTextOffsets(const Element&) { return std::nullopt; }
  // The one boolean write the tools make; its outcome is ignored.
  virtual void setBoolAttribute(const Element& element, std::string_view name, bool value) = 0;
  virtual void prefetch(const PrefetchHint&) {}
  // A new unit of work starts (one poll of fieldpeek): time budgets and the memory of applications
  // that stopped answering start afresh. One-shot tools never call it.
  virtual void beginStep() {}
};
