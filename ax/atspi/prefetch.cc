// Reads fetched ahead of a walk: hinted elements' roles, states, texts and child counts, pipelined.
#include <algorithm>

#include "ax/atspi/accessibility.h"
#include "ax/atspi/offsets.h"

namespace {

// What a hint asks for, as the reads that answer it.
constexpr uint32_t FETCH_ROLE = 1;
constexpr uint32_t FETCH_TEXT = 2;
constexpr uint32_t FETCH_CHILD_COUNT = 4;

uint32_t fetchMask(const std::vector<std::string_view>& attributes) {
  uint32_t mask = 0;
  for (std::string_view name : attributes) {
    if (name == "AXRole") mask |= FETCH_ROLE;
    // The value needs the role first: a password field has none, and only text roles are read.
    if (name == "AXValue") mask |= FETCH_ROLE | FETCH_TEXT;
    if (name == "AXChildren") mask |= FETCH_CHILD_COUNT;
  }
  return mask;
}

template <typename T>
std::optional<T> scalarOf(const Variant& v, const char* type) {
  if (!v || !g_variant_is_of_type(v.get(), G_VARIANT_TYPE(type))) return std::nullopt;
  T value{};
  g_variant_get(v.get(), type, &value);
  return value;
}

std::optional<StateSet> stateSetOf(const Variant& reply) {
  if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(au)"))) return std::nullopt;
  Variant words = reply.child(0);
  StateSet set = 0;
  gsize n = g_variant_n_children(words.get());
  for (gsize i = 0; i < n && i < 2; ++i) {
    Variant word = words.child(i);
    set |= static_cast<StateSet>(g_variant_get_uint32(word.get())) << (32 * i);
  }
  return set;
}

// A property that holds an int32 (ChildCount, CharacterCount), from its boxed reply.
std::optional<int32_t> intPropertyOf(const Variant& reply) {
  if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(v)"))) return std::nullopt;
  Variant boxed = reply.child(0);
  return scalarOf<int32_t>(Variant(g_variant_get_variant(boxed.get())), "i");
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
  // One application per batch: an element of another one (an embedded plug) is read plainly.
  auto* first = static_cast<const AtspiElement*>(batch.elements.front().get());
  std::vector<const AtspiElement*> elements;
  for (const Element& element : batch.elements) {
    auto* e = static_cast<const AtspiElement*>(element.get());
    if (e->app == first->app) elements.push_back(e);
  }

  // Roles and child counts first, together; what a failed read leaves unset is read plainly later.
  std::vector<MethodCall> calls;
  std::vector<std::pair<const AtspiElement*, uint32_t>> asked;
  for (const AtspiElement* e : elements) {
    AtspiElement::Cache& cache = e->cacheIn(step);
    if ((batch.attributes & FETCH_ROLE) && !cache.role) {
      calls.push_back({e->path, ACCESSIBLE, "GetRole", nullptr, "(u)"});
      asked.emplace_back(e, FETCH_ROLE);
    }
    if ((batch.attributes & FETCH_CHILD_COUNT) && !cache.childCount) {
      calls.push_back(
          {e->path, PROPERTIES, "Get", g_variant_new("(ss)", ACCESSIBLE, "ChildCount"), "(v)"});
      asked.emplace_back(e, FETCH_CHILD_COUNT);
    }
  }
  std::vector<CallResult> got = link_.callAhead(first->app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    if (!got[i].ok()) continue;
    AtspiElement::Cache& cache = asked[i].first->cacheIn(step);
    if (asked[i].second == FETCH_ROLE) cache.role = scalarOf<uint32_t>(got[i].reply, "(u)");
    if (asked[i].second == FETCH_CHILD_COUNT) cache.childCount = intPropertyOf(got[i].reply);
  }

  // Then what the roles call for: the states that decide a text role's name, and the character
  // counts of the roles whose value the walks read (never a password field's).
  calls.clear();
  asked.clear();
  for (const AtspiElement* e : elements) {
    AtspiElement::Cache& cache = e->cacheIn(step);
    if (!cache.role) continue;
    if (roleNeedsStates(*cache.role) && !cache.states) {
      calls.push_back({e->path, ACCESSIBLE, "GetState", nullptr, "(au)"});
      asked.emplace_back(e, FETCH_ROLE);
    }
    if ((batch.attributes & FETCH_TEXT) && roleBearsText(*cache.role) &&
        *cache.role != atspi_role::PASSWORD_TEXT && !cache.text && !cache.characterCount) {
      calls.push_back(
          {e->path, PROPERTIES, "Get", g_variant_new("(ss)", TEXT, "CharacterCount"), "(v)"});
      asked.emplace_back(e, FETCH_TEXT);
    }
  }
  got = link_.callAhead(first->app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    if (!got[i].ok()) continue;
    AtspiElement::Cache& cache = asked[i].first->cacheIn(step);
    if (asked[i].second == FETCH_ROLE) cache.states = stateSetOf(got[i].reply);
    if (asked[i].second == FETCH_TEXT) cache.characterCount = intPropertyOf(got[i].reply);
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
    calls.push_back(
        {e->path, TEXT, "GetText", g_variant_new("(ii)", 0, *cache.characterCount), "(s)"});
    texts.push_back(e);
  }
  got = link_.callAhead(first->app, calls);
  for (size_t i = 0; i < got.size(); ++i) {
    if (!got[i].ok()) continue;
    const char* s = nullptr;
    g_variant_get(got[i].reply.get(), "(&s)", &s);
    // Counted but "": not ready yet, left to the plain read, which waits for it.
    if (*s) texts[i]->cacheIn(step).text = withoutAstralPadding(s);
  }
}
