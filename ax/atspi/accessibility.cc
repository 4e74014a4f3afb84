// Attribute reads of AT-SPI objects, mapped to the attributes the tools read.
#include "ax/atspi/accessibility.h"

#include "ax/platform.h"
#include "common/text.h"

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
  known->second = readStateWords(link_.call(app, path, ACCESSIBLE, "GetState", nullptr, "au"));
  return known->second;
}

std::optional<uint32_t> AtspiAccessibility::role(const AtspiElement& e) {
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  if (cache.role) return cache.role;
  cache.role = readUint32(link_.call(e.app, e.path, ACCESSIBLE, "GetRole", nullptr, "u"));
  return cache.role;
}

std::optional<std::string> AtspiAccessibility::name(const AtspiElement& e) {
  return readString(link_.property(e.app, e.path, ACCESSIBLE, "Name"));
}

std::optional<AtspiAccessibility::Frontmost> AtspiAccessibility::findFrontmostListening(
    bool withName) {
  auto front = findFrontmost(withName);
  // With no application on the bus there is no window to wake: listening would only cost a call.
  if (front || !sawApplications_ || !link_.listenForFocus()) return front;
  memo_ = StepMemo();  // the windows' states are asked again
  return findFrontmost(withName);
}

std::optional<AttrValue> AtspiAccessibility::copyAttribute(const Element& element,
                                                           std::string_view name) {
  auto* e = dynamic_cast<const AtspiElement*>(element.get());
  if (!e) return std::nullopt;
  // A lazy child is asked for now, with the next few of its hint (readAhead), else alone.
  readAhead(*e);
  if (e->lazy()) resolve(e->app, {e});
  if (e->isSystemWide()) {
    if (name == "AXRole") return AttrValue{std::u16string(u"AXSystemWide")};
    if (name != "AXFocusedApplication" && name != "AXFocusedUIElement") return std::nullopt;
    auto front = findFrontmostListening(false);
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
  if (name == "AXNumberOfCharacters") {
    auto count = partCount(*e);
    if (!count) return std::nullopt;
    return AttrValue{static_cast<double>(*count)};
  }
  if (name == "AXTitle") {
    auto title = this->name(*e);
    if (!title) return std::nullopt;
    return AttrValue{utf16FromUtf8(*title)};
  }
  if (name == "AXChildren" || (name == "AXWindows" && e->isApplication())) {
    AttrValue::List list;
    for (Element& child : uncomposed(*e, listedChildren(*e)))
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
