// A document whose paragraphs are separate objects (a Writer document) read as one text.
#include <algorithm>
#include <deque>

#include "ax/atspi/accessibility.h"
#include "common/text.h"

namespace {

// Around a focused paragraph, paragraphs are read outward until each side holds this many UTF-16
// units: well over the 600 characters selprobe shows either side, and no paragraph beyond.
constexpr int64_t SIDE_UNITS = 2000;
// A document a walk reaches is read from its start up to this many units: the largest budget of a
// walking reader (fieldpeek collects 20000 characters, panescan 16000).
constexpr int64_t DOCUMENT_UNITS = 20000;
// However short its paragraphs, no document costs more than this many paragraphs' reads.
constexpr int32_t MAX_PARTS = 400;

bool isDocumentRole(uint32_t role) {
  return role == atspi_role::DOCUMENT_TEXT || role == atspi_role::DOCUMENT_FRAME;
}

bool isParagraphRole(uint32_t role) {
  return role == atspi_role::PARAGRAPH || role == atspi_role::HEADING;
}

const AtspiElement& atspi(const Element& e) {
  return static_cast<const AtspiElement&>(*e);
}

int64_t units(const std::string& s) {
  return static_cast<int64_t>(utf16FromUtf8(s).size());
}

}  // namespace

Element AtspiAccessibility::documentAround(Element focused) {
  if (!focused) return focused;
  const AtspiElement& p = atspi(focused);
  auto r = role(p);
  if (!r || !isParagraphRole(*r)) return focused;
  CallResult parent = link_.property(p.app, p.path, ACCESSIBLE, "Parent");
  if (!parent.ok()) return focused;
  Element doc = elementFromReference(p.app, readReference(parent));
  if (!doc || atspi(doc).app != p.app) return focused;
  // The search that found the focus has opened the document and read its role.
  auto known = memo().roles.find({p.app, atspi(doc).path});
  if (known != memo().roles.end()) atspi(doc).cacheIn(link_.step()).role = known->second;
  auto docRole = role(atspi(doc));
  if (!docRole || !isDocumentRole(*docRole)) return focused;
  // A document with its own Text interface (a web document) already holds its paragraphs' text;
  // one that did not answer is not taken for one that has none.
  if (link_.property(p.app, atspi(doc).path, TEXT, "CharacterCount").error != CallError::Failed)
    return focused;
  auto around = std::make_shared<AtspiElement>(p.app, atspi(doc).path);
  around->cache = atspi(doc).cache;
  around->part = std::move(focused);
  return around;
}

std::optional<std::string> AtspiAccessibility::partText(const Element& part) {
  auto r = part ? role(atspi(part)) : std::nullopt;
  if (!r || !isParagraphRole(*r)) return std::nullopt;
  return text(atspi(part));
}

std::optional<std::string> AtspiAccessibility::documentText(const AtspiElement& e) {
  auto r = role(e);
  if (!r || !isDocumentRole(*r)) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  // Around the focus, the search that found it has read the document's children already.
  auto known = memo().children.find({e.app, e.path});
  const std::vector<Element>* read = known != memo().children.end() ? &known->second : nullptr;
  int32_t count = read ? static_cast<int32_t>(read->size()) : childCount(e.app, e.path).value_or(0);
  auto nth = [&](int32_t i) {
    return read ? (*read)[static_cast<size_t>(i)] : childAt(e.app, e.path, i);
  };
  std::deque<std::string> texts;
  auto add = [&](const Element& child, bool front) {
    auto t = partText(child);
    if (!t) return int64_t{0};
    cache.composed.push_back(atspi(child).path);
    front ? texts.push_front(*t) : texts.push_back(*t);
    return units(*t) + 1;
  };
  if (!e.part) {
    // Read from the start, one paragraph at a time, so that nothing past the budget is asked.
    int64_t held = 0;
    for (int32_t i = 0; i < count && i < MAX_PARTS && held < DOCUMENT_UNITS; ++i)
      held += add(nth(i), false);
  } else {
    int32_t index = readInt32(link_.call(e.app, atspi(e.part).path, ACCESSIBLE, "GetIndexInParent",
                                         nullptr, "i"))
                        .value_or(-1);
    if (index < 0 || index >= count || add(e.part, false) == 0) return std::nullopt;
    int64_t before = 0;
    int64_t after = 0;
    int32_t parts = 1;
    for (int32_t i = index - 1; i >= 0 && before < SIDE_UNITS && parts < MAX_PARTS; --i, ++parts)
      before += add(nth(i), true);
    for (int32_t i = index + 1; i < count && after < SIDE_UNITS && parts < MAX_PARTS; ++i, ++parts)
      after += add(nth(i), false);
    cache.partStart = before;  // each paragraph before it counts its line feed
  }
  if (texts.empty()) return std::nullopt;
  std::string joined = texts.front();
  for (size_t i = 1; i < texts.size(); ++i) joined += "\n" + texts[i];
  return joined;
}

std::optional<AttrValue> AtspiAccessibility::documentRange(const AtspiElement& e) {
  if (!text(e)) return std::nullopt;
  auto range = selectedRange(atspi(e.part));
  if (!range || !range->range()) return std::nullopt;
  TextRange r = *range->range();
  r.location += e.cacheIn(link_.step()).partStart;
  return AttrValue{r};
}

std::vector<Element> AtspiAccessibility::uncomposed(const AtspiElement& e,
                                                    std::vector<Element> children) {
  // Only a document whose role bears text has its value read by a walk: another keeps them all.
  auto r = role(e);
  if (!r || !isDocumentRole(*r) || !roleBearsText(*r)) return children;
  text(e);  // a walk may ask for the children first: what the value holds is known only then
  const std::vector<std::string>& composed = e.cacheIn(link_.step()).composed;
  if (composed.empty()) return children;
  std::vector<const AtspiElement*> lazy;
  for (const Element& child : children) lazy.push_back(&atspi(child));
  resolve(e.app, lazy);
  std::erase_if(children, [&](const Element& child) {
    return std::find(composed.begin(), composed.end(), atspi(child).path) != composed.end();
  });
  return children;
}
