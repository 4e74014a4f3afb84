// Reads fetched ahead of a walk: hinted elements' roles, states, texts and child counts, pipelined.
#include <algorithm>

#include "ax/atspi/accessibility.h"
#include "ax/atspi/offsets.h"

namespace {

// What a hint asks for, as the reads that answer it.
constexpr uint32_t FETCH_ROLE = 1;
constexpr uint32_t FETCH_TEXT = 2;
constexpr uint32_t FETCH_CHILD_COUNT = 4;
constexpr uint32_t FETCH_COUNT = 8;
constexpr uint32_t FETCH_SELECTION = 16;

uint32_t fetchMask(const std::vector<std::string_view>& attributes) {
  uint32_t mask = 0;
  for (std::string_view name : attributes) {
    if (name == "AXRole") mask |= FETCH_ROLE;
    // The value needs the role first: a password field has none, and only text roles are read.
    if (name == "AXValue") mask |= FETCH_ROLE | FETCH_TEXT;
    if (name == "AXChildren") mask |= FETCH_CHILD_COUNT;
    // Neither is asked of a password field, so both need the role first too.
    if (name == "AXNumberOfCharacters") mask |= FETCH_ROLE | FETCH_COUNT;
    if (name == "AXSelectedTextRange") mask |= FETCH_ROLE | FETCH_SELECTION;
  }
  return mask;
}

}  // namespace

void AtspiAccessibility::prefetch(const PrefetchHint& hint) {
  uint32_t mask = fetchMask(hint.attributes);
  if (mask == 0) return;
  std::vector<Element> elements;
  elements.reserve(hint.elements.size());
  for (const Element& element : hint.elements) {
    auto* e = dynamic_cast<const AtspiElement*>(element.get());
    if (e && e->app && !e->isSystemWide()) elements.push_back(element);
  }
  lookahead_.hint(std::move(elements), mask);
}

void AtspiAccessibility::readAhead(const AtspiElement& e) {
  Lookahead::Batch batch = lookahead_.onRead(&e);
  if (!batch.elements.empty()) fetchBatch(batch);
}

void AtspiAccessibility::fetchBatch(const Lookahead::Batch& batch) {
  const int64_t step = link_.step();
  // Lazy children are asked for first, together. One application per batch: an element of
  // another one (an embedded plug) is read plainly.
  const AppPtr app = static_cast<const AtspiElement*>(batch.elements.front().get())->app;
  std::vector<const AtspiElement*> elements;
  for (const Element& element : batch.elements)
    elements.push_back(static_cast<const AtspiElement*>(element.get()));
  resolve(app, elements);
  std::erase_if(elements, [&](const AtspiElement* e) { return !app || e->app != app; });

  // Roles and child counts first, together; what a failed read leaves unset is read plainly later.
  std::vector<MethodCall> calls;
  std::vector<std::pair<const AtspiElement*, uint32_t>> asked;
  for (const AtspiElement* e : elements) {
    AtspiElement::Cache& cache = e->cacheIn(step);
    if ((batch.attributes & FETCH_ROLE) && !cache.role) {
      calls.push_back({e->path, ACCESSIBLE, "GetRole", nullptr, "u"});
      asked.emplace_back(e, FETCH_ROLE);
    }
    if ((batch.attributes & FETCH_CHILD_COUNT) && !cache.childCount) {
      calls.push_back(propertyCall(e->path, ACCESSIBLE, "ChildCount"));
      asked.emplace_back(e, FETCH_CHILD_COUNT);
    }
  }
  std::vector<CallResult> got = link_.callAhead(app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    if (!got[i].ok()) continue;
    AtspiElement::Cache& cache = asked[i].first->cacheIn(step);
    if (asked[i].second == FETCH_ROLE) cache.role = readUint32(got[i]);
    if (asked[i].second == FETCH_CHILD_COUNT) cache.childCount = readInt32(got[i]);
  }

  // Then what the roles call for: the states that decide a text role's name, the character
  // counts of the roles whose value the walks read (never a password field's), and the count and
  // selection of a text whose parts are read (partCount's texts).
  calls.clear();
  asked.clear();
  for (const AtspiElement* e : elements) {
    AtspiElement::Cache& cache = e->cacheIn(step);
    if (!cache.role) continue;
    // States the focus search read already are not asked again.
    if (!cache.states) {
      auto known = memo().states.find({app, e->path});
      if (known != memo().states.end()) cache.states = known->second;
    }
    const bool secret = *cache.role == atspi_role::PASSWORD_TEXT;
    const bool parts = !secret && !e->part && !cache.unready;
    if (roleNeedsStates(*cache.role) && !cache.states) {
      calls.push_back({e->path, ACCESSIBLE, "GetState", nullptr, "au"});
      asked.emplace_back(e, FETCH_ROLE);
    }
    const bool count = ((batch.attributes & FETCH_TEXT) && roleBearsText(*cache.role) && !secret) ||
                       ((batch.attributes & FETCH_COUNT) && parts);
    if (count && !cache.text && !cache.countAsked) {
      calls.push_back(propertyCall(e->path, TEXT, "CharacterCount"));
      asked.emplace_back(e, FETCH_TEXT);
    }
    if ((batch.attributes & FETCH_SELECTION) && parts && roleBearsText(*cache.role) &&
        !cache.selectionFetched) {
      calls.push_back({e->path, TEXT, "GetSelection", intArgs(0), "ii"});
      asked.emplace_back(e, FETCH_SELECTION);
    }
  }
  got = link_.callAhead(app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    AtspiElement::Cache& cache = asked[i].first->cacheIn(step);
    // A count refused (no Text interface) is an answer too: the plain read does not ask again.
    if (asked[i].second == FETCH_TEXT && got[i].error != CallError::TimedOut) {
      cache.characterCount = readInt32(got[i]);
      cache.countAsked = true;
    }
    if (got[i].ok() && asked[i].second == FETCH_ROLE) cache.states = readStateWords(got[i]);
    if (asked[i].second == FETCH_SELECTION && got[i].error != CallError::TimedOut) {
      cache.selection = readIntPair(got[i]);
      cache.selectionFetched = true;
    }
  }

  // Then the texts, each up to its count (the plain read says why); an empty one costs no call,
  // and one without a count is left to the plain read.
  calls.clear();
  std::vector<const AtspiElement*> texts;
  for (const AtspiElement* e : elements) {
    AtspiElement::Cache& cache = e->cacheIn(step);
    if (cache.text || !cache.characterCount || !(batch.attributes & FETCH_TEXT)) continue;
    if (*cache.characterCount <= 0) {
      cache.text = std::string();
      continue;
    }
    calls.push_back({e->path, TEXT, "GetText", intArgs(0, *cache.characterCount), "s"});
    texts.push_back(e);
  }
  got = link_.callAhead(app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    auto s = readString(got[i]);
    // Counted but "": not ready yet, left to the plain read, which waits for it.
    if (s && !s->empty()) texts[i]->cacheIn(step).text = withoutAstralPadding(std::move(*s));
  }
}
