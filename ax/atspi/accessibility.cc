// Attribute reads of AT-SPI objects, mapped to the attributes the tools read.
#include "ax/atspi/accessibility.h"

#include <chrono>
#include <thread>

#include "ax/atspi/offsets.h"
#include "ax/platform.h"
#include "common/text.h"

namespace {

// A child count beyond this is a broken application, not a window: the walkers never get that far.
constexpr int32_t MAX_CHILDREN = 100000;
// How long a text that is not ready yet gets to be filled in (waitOnce): Gecko fills it in within
// one round trip to its content process, tens of milliseconds on a loaded machine.
constexpr std::chrono::milliseconds TEXT_WAIT{100};

template <typename T>
std::optional<T> scalar(const CallResult& r, const char* type) {
  if (!r.ok() || !g_variant_is_of_type(r.reply.get(), G_VARIANT_TYPE(type))) return std::nullopt;
  T value{};
  g_variant_get(r.reply.get(), type, &value);
  return value;
}

}  // namespace

std::unique_ptr<Accessibility> makePlatformAccessibility() {
  return std::make_unique<AtspiAccessibility>();
}

bool AtspiAccessibility::isTrusted() {
  return link_.probe();
}

void AtspiAccessibility::requestTrust() {
  link_.requestTrust();
}

void AtspiAccessibility::beginStep() {
  link_.beginStep();
  lookahead_.clear();
}

void AtspiAccessibility::setBoolAttribute(const Element&, std::string_view, bool) {
  // AT-SPI has no per-application switch like AXManualAccessibility: GTK exposes its tree once
  // the bus is enabled (requestTrust), so the write is accepted and has nothing to do.
}

Element AtspiAccessibility::systemWideElement() {
  return std::make_shared<AtspiElement>(nullptr, std::string());
}

AtspiAccessibility::StepMemo& AtspiAccessibility::memo() {
  if (memo_.step != link_.step()) {
    memo_ = StepMemo();
    memo_.step = link_.step();
  }
  return memo_;
}

std::optional<StateSet> AtspiAccessibility::states(const AppPtr& app, const std::string& path) {
  auto [known, isNew] = memo().states.try_emplace({app, path});
  if (!isNew) return known->second;
  CallResult r = link_.call(app, path, ACCESSIBLE, "GetState", nullptr, "(au)");
  if (!r.ok()) return std::nullopt;
  Variant words = r.reply.child(0);
  StateSet set = 0;
  gsize n = g_variant_n_children(words.get());
  for (gsize i = 0; i < n && i < 2; ++i) {
    Variant word = words.child(i);
    set |= static_cast<StateSet>(g_variant_get_uint32(word.get())) << (32 * i);
  }
  known->second = set;
  return set;
}

std::optional<uint32_t> AtspiAccessibility::role(const AtspiElement& e) {
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  if (cache.role) return cache.role;
  cache.role =
      scalar<uint32_t>(link_.call(e.app, e.path, ACCESSIBLE, "GetRole", nullptr, "(u)"), "(u)");
  return cache.role;
}

std::optional<int32_t> AtspiAccessibility::childCount(const AppPtr& app, const std::string& path) {
  return scalar<int32_t>(link_.property(app, path, ACCESSIBLE, "ChildCount"), "i");
}

Element AtspiAccessibility::elementFromReference(const AppPtr& from, const Variant& reference) {
  if (!reference || !g_variant_is_of_type(reference.get(), G_VARIANT_TYPE("(so)"))) return nullptr;
  const char* name = nullptr;
  const char* path = nullptr;
  g_variant_get(reference.get(), "(&s&o)", &name, &path);
  // The null object: AT-SPI's way of saying "none".
  if (std::string_view(path) == "/org/a11y/atspi/null") return nullptr;
  // An object of another application (an embedded plug) is reached through that application.
  AppPtr app = (!*name || from->busName == name) ? from : link_.app(name);
  if (!app) return nullptr;
  return std::make_shared<AtspiElement>(app, path);
}

Element AtspiAccessibility::childAt(const AppPtr& app, const std::string& path, int32_t index) {
  CallResult r =
      link_.call(app, path, ACCESSIBLE, "GetChildAtIndex", g_variant_new("(i)", index), "((so))");
  if (!r.ok()) return nullptr;
  return elementFromReference(app, r.reply.child(0));
}

std::vector<Element> AtspiAccessibility::children(const AppPtr& app, const std::string& path) {
  // One index at a time, pipelined: GTK answers GetChildren for a 4000-child box in about 340 ms
  // with its UI frozen throughout, while single GetChildAtIndex calls let it breathe between them.
  return childrenOf(app, path, childCount(app, path).value_or(0));
}

std::vector<Element> AtspiAccessibility::childrenOf(const AppPtr& app, const std::string& path,
                                                    int32_t count) {
  std::vector<Element> out;
  int32_t n = std::min(count, MAX_CHILDREN);
  if (n <= 0) return out;
  std::vector<GVariant*> args;
  args.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) args.push_back(g_variant_new("(i)", i));
  out.reserve(args.size());
  for (const CallResult& r :
       link_.callEach(app, path, ACCESSIBLE, "GetChildAtIndex", args, "((so))")) {
    // A child that cannot be read now is left out; once the application stopped answering,
    // the rest fail at once and the list ends short.
    if (!r.ok()) continue;
    if (Element child = elementFromReference(app, r.reply.child(0)))
      out.push_back(std::move(child));
  }
  return out;
}

std::optional<std::string> AtspiAccessibility::name(const AtspiElement& e) {
  CallResult r = link_.property(e.app, e.path, ACCESSIBLE, "Name");
  if (!r.ok() || !g_variant_is_of_type(r.reply.get(), G_VARIANT_TYPE_STRING)) return std::nullopt;
  return std::string(g_variant_get_string(r.reply.get(), nullptr));
}

bool AtspiAccessibility::waitOnce(const AtspiElement& e) {
  if (!waitedFor_.emplace(e.app->busName, e.path).second) return false;
  std::this_thread::sleep_for(TEXT_WAIT);
  return true;
}

std::optional<std::string> AtspiAccessibility::text(const AtspiElement& e) {
  // A password field shows bullets: never hand them out as its text.
  auto r = role(e);
  if (!r || *r == atspi_role::PASSWORD_TEXT) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  // Kept for the step: the selected range reads the text again to convert its offsets.
  if (cache.text || cache.unready) return cache.text;
  // A document around its focused paragraph was made only once it proved to have no Text.
  if (e.part) return cache.text = documentText(e);
  auto read = readText(e);
  // Counted characters but no text: not ready yet. Still so after the wait, it is no text at all
  // rather than an empty one.
  auto notReady = [&] { return read && read->empty() && cache.characterCount.value_or(0) > 0; };
  if (notReady() && waitOnce(e)) {
    cache.characterCount.reset();
    read = readText(e);
  }
  if (notReady()) {
    cache.unready = true;
    return std::nullopt;
  }
  if (read) cache.text = withoutAstralPadding(std::move(*read));
  return cache.text;
}

std::optional<std::string> AtspiAccessibility::readText(const AtspiElement& e) {
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  if (!cache.characterCount) {
    CallResult count = link_.property(e.app, e.path, TEXT, "CharacterCount");
    cache.characterCount = scalar<int32_t>(count, "i");
    if (!cache.characterCount && count.error == CallError::TimedOut) return std::nullopt;
    // No Text interface: a document of paragraph objects holds their texts, and a Qt label's
    // words are its name.
    if (!cache.characterCount) {
      if (auto joined = documentText(e)) return joined;
      if (platformRoleName(*cache.role, 0) == "AXStaticText") return name(e);
    }
  }
  if (cache.characterCount && *cache.characterCount <= 0) return std::string();
  // The whole text up to the character count: GTK 4 answers the usual "up to the end" (-1) with
  // "", and Qt answers an end past the text (INT_MAX) with "". -1 only where there is no count.
  int32_t end = cache.characterCount.value_or(-1);
  CallResult t = link_.call(e.app, e.path, TEXT, "GetText", g_variant_new("(ii)", 0, end), "(s)");
  if (!t.ok()) return std::nullopt;
  const char* s = nullptr;
  g_variant_get(t.reply.get(), "(&s)", &s);
  return std::string(s);
}

std::optional<AttrValue> AtspiAccessibility::selectedRange(const AtspiElement& e) {
  auto whole = text(e);
  if (!whole) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  int32_t start = 0;
  int32_t end = 0;
  auto readRange = [&] {
    start = end = 0;
    CallResult sel =
        link_.call(e.app, e.path, TEXT, "GetSelection", g_variant_new("(i)", 0), "(ii)");
    if (sel.ok()) g_variant_get(sel.reply.get(), "(ii)", &start, &end);
    if (!sel.ok() || start == end) {
      auto caret = scalar<int32_t>(link_.property(e.app, e.path, TEXT, "CaretOffset"), "i");
      // -1 is AT-SPI's "no caret": there is no range to report.
      if (!caret || *caret < 0) return false;
      start = end = *caret;
    }
    if (start > end) std::swap(start, end);
    return true;
  };
  bool hasRange = readRange();
  // No caret in an empty text: what Firefox answers too before it has filled in either.
  if (!hasRange && whole->empty() && waitOnce(e)) {
    cache.text.reset();
    cache.characterCount.reset();
    whole = text(e);
    hasRange = whole && readRange();
  }
  if (!hasRange) return std::nullopt;
  std::u16string units;
  OffsetUnit unit = OffsetUnit::CodePoints;
  auto measure = [&] {
    units = utf16FromUtf8(*whole);
    unit =
        cache.characterCount ? offsetUnitOf(units, *cache.characterCount) : OffsetUnit::CodePoints;
    return utf16Offset(units, end, unit) > static_cast<int64_t>(units.size());
  };
  // A range the text cannot hold: the text is not ready yet (the selection is). Read again here,
  // it is the value of the element's next read (selprobe reads it again for such a range).
  if (measure() && waitOnce(e)) {
    cache.text.reset();
    cache.characterCount.reset();
    whole = text(e).value_or(std::string());
    measure();
  }
  // Still nothing to hold it: no text, rather than an empty one around a made-up range. A text
  // that is there keeps the range, cut to it by the reader.
  if (whole->empty() && end > 0) {
    cache.unready = true;
    cache.text.reset();
  }
  int64_t from = utf16Offset(units, start, unit);
  int64_t to = utf16Offset(units, end, unit);
  return AttrValue{TextRange{from, to - from}};
}

std::optional<AtspiAccessibility::Frontmost> AtspiAccessibility::findFrontmostListening() {
  auto front = findFrontmost();
  // With no application on the bus there is no window to wake: listening would only cost a call.
  if (front || !sawApplications_ || !link_.listenForFocus()) return front;
  memo_ = StepMemo();  // the windows' states are asked again
  return findFrontmost();
}

std::optional<AttrValue> AtspiAccessibility::copyAttribute(const Element& element,
                                                           std::string_view name) {
  auto* e = dynamic_cast<const AtspiElement*>(element.get());
  if (!e) return std::nullopt;
  if (e->isSystemWide()) {
    if (name == "AXRole") return AttrValue{std::u16string(u"AXSystemWide")};
    if (name != "AXFocusedApplication" && name != "AXFocusedUIElement") return std::nullopt;
    auto front = findFrontmostListening();
    if (!front) return std::nullopt;
    AtspiElement app(front->app, ROOT_PATH);
    if (name == "AXFocusedUIElement") {
      Element focused = focusedElement(app);
      if (!focused) return std::nullopt;
      return AttrValue{focused};
    }
    return AttrValue{Element(std::make_shared<AtspiElement>(app))};
  }
  if (!e->app) return std::nullopt;
  readAhead(*e);
  if (name == "AXRole") {
    auto r = role(*e);
    if (!r) return std::nullopt;
    StateSet s = 0;
    if (roleNeedsStates(*r)) {
      auto read = e->cacheIn(link_.step()).states;
      if (!read) read = states(e->app, e->path);
      if (!read) return std::nullopt;
      s = *read;
    }
    return AttrValue{utf16FromUtf8(platformRoleName(*r, s))};
  }
  if (name == "AXValue") {
    auto t = text(*e);
    if (!t) return std::nullopt;
    return AttrValue{utf16FromUtf8(*t)};
  }
  if (name == "AXSelectedTextRange") return e->part ? documentRange(*e) : selectedRange(*e);
  if (name == "AXTitle") {
    auto title = this->name(*e);
    if (!title) return std::nullopt;
    return AttrValue{utf16FromUtf8(*title)};
  }
  if (name == "AXChildren" || (name == "AXWindows" && e->isApplication())) {
    AttrValue::List list;
    auto count = e->cacheIn(link_.step()).childCount;
    for (Element& child :
         uncomposed(*e, count ? childrenOf(e->app, e->path, *count) : children(e->app, e->path)))
      list.push_back(AttrValue{std::move(child)});
    return AttrValue{std::move(list)};
  }
  if (name == "AXFocusedWindow" && e->isApplication()) {
    auto window = activeWindow(e->app);
    if (!window) return std::nullopt;
    return AttrValue{Element(std::make_shared<AtspiElement>(e->app, *window))};
  }
  if (name == "AXFocusedUIElement") {
    Element focused = focusedElement(*e);
    if (!focused) return std::nullopt;
    return AttrValue{focused};
  }
  return std::nullopt;
}
