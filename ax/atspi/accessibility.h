// The accessibility service on Linux: AT-SPI spoken directly over D-Bus (sd-bus, not libatspi).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ax/atspi/link.h"
#include "ax/atspi/lookahead.h"
#include "ax/atspi/roles.h"
#include "ax/ax.h"

// An element: one object of one application (the application itself at ROOT_PATH), or the
// system-wide element, which belongs to no application.
class AtspiElement : public ElementHandle {
 public:
  AtspiElement(AppPtr app, std::string path) : app(std::move(app)), path(std::move(path)) {}
  // Child `index` of `parentPath`, not asked for yet: it costs nothing until it is read.
  AtspiElement(AppPtr app, std::string parentPath, int32_t index)
      : app(std::move(app)), parentPath(std::move(parentPath)), index(index) {}
  // Both filled in when a lazy child is resolved (resolve()): its reference may name another
  // application (an embedded plug); one that cannot be resolved loses its application.
  mutable AppPtr app;  // null for the system-wide element and for an application not found
  mutable std::string path;
  std::string parentPath;
  int32_t index = -1;             // >= 0 for a lazy child
  mutable bool resolved = false;  // a lazy child has been asked for
  bool lazy() const { return index >= 0 && !resolved; }
  // Set where this element stands for a document of paragraph objects around its focused
  // paragraph (document.cc): that paragraph, whose selection is placed in the document.
  Element part;
  // Answers of the element's reads in step `step`, each exactly what its plain read returned:
  // the role (a walk reads "AXRole" and then "AXValue", which needs the role again, since a
  // password field has no value), and what a prefetch fetched ahead of the walk. Values of an
  // earlier step are never used.
  struct Cache {
    int64_t step = 0;
    std::optional<uint32_t> role;
    std::optional<StateSet> states;
    std::optional<std::string> text;
    std::optional<int32_t> characterCount;  // in the toolkit's offset unit (see offsetUnitOf)
    bool countAsked = false;  // `characterCount` is the answer: nothing is no Text interface
    // GetSelection's answer, fetched ahead: it answers the next selection read only.
    std::optional<std::pair<int32_t, int32_t>> selection;
    bool selectionFetched = false;
    std::optional<int32_t> childCount;
    bool unready = false;   // its text was still not there after the wait (see waitOnce)
    int64_t partStart = 0;  // where `part` starts in the composed text, in UTF-16 units
    // The children a composed text holds: AXChildren leaves them out, as their text is the value.
    std::vector<std::string> composed;
    // What was read before a wait for the text to be filled in: asked again after it.
    void forgetCount() {
      characterCount.reset();
      countAsked = false;
      selection.reset();
      selectionFetched = false;
    }
  };
  mutable Cache cache;
  Cache& cacheIn(int64_t step) const {
    if (cache.step != step) {
      cache = Cache();
      cache.step = step;
    }
    return cache;
  }
  bool isSystemWide() const { return path.empty() && index < 0; }
  bool isApplication() const { return path == ROOT_PATH; }
};

class AtspiAccessibility : public Accessibility {
 public:
  bool isTrusted() override;
  void requestTrust() override;
  std::optional<FrontmostApplication> frontmostApplication() override;
  Element applicationElement(int32_t pid) override;
  Element systemWideElement() override;
  std::optional<AttrValue> copyAttribute(const Element& element, std::string_view name) override;
  void setBoolAttribute(const Element& element, std::string_view name, bool value) override;
  // A text's offsets are the toolkit's own (code points in GTK, UTF-16 units in Qt 5): its parts,
  // "AXNumberOfCharacters" and the selection in them need no read of the text before a part
  // (text_range.cc).
  std::optional<TextPart> copyTextRange(const Element& element, TextRange range) override;
  bool countsTextInUtf16() override { return false; }
  std::optional<TextRange> copySelectedTextOffsets(const Element& element) override;
  void beginStep() override;
  // Remembers the hinted elements; their reads are then fetched in pipelined batches as the walk
  // reaches them (prefetch.cc).
  void prefetch(const PrefetchHint& hint) override;

 private:
  struct Frontmost {
    AppPtr app;
    int32_t pid = 0;
    std::optional<std::string> name;  // asked for only `withName`
  };
  // Focus and windows (focus.cc).
  std::optional<Frontmost> findFrontmost(bool withName);
  // findFrontmost, and where no window is active, once more after listening for focus events
  // (AtspiLink::listenForFocus says why and what it costs).
  std::optional<Frontmost> findFrontmostListening(bool withName);
  std::vector<AppPtr> applications();
  std::optional<std::string> activeWindow(const AppPtr& app);
  Element focusedIn(const AppPtr& app, const std::string& windowPath);
  // Depth-first search for the FOCUSED state below `root`. With `handOver`, it stops after
  // LOCAL_SEARCH_NODES elements and skips big containers, listing what it did not search there.
  Element searchFocused(const AppPtr& app, const std::string& root, int& visited,
                        std::vector<std::string>* handOver);
  Element focusedElement(const AtspiElement& element);
  // A focused element below `found` where `found` is marked focused but cannot take the focus.
  Element focusInside(Element found);
  std::optional<int32_t> pidOf(const std::string& busName);

  // Reads of one object (accessibility.cc).
  std::optional<uint32_t> role(const AtspiElement& e);
  std::optional<StateSet> states(const AppPtr& app, const std::string& path);
  std::optional<int32_t> childCount(const AppPtr& app, const std::string& path);
  Element childAt(const AppPtr& app, const std::string& path, int32_t index);
  // The first `count` of the `total` children; `first` holds the GetChildAtIndex answers for the
  // first few, read already. All of a few children come in one GetChildren call.
  std::vector<Element> childrenOf(const AppPtr& app, const std::string& path, int32_t count,
                                  int32_t total, std::vector<CallResult> first = {});
  // All of the `count` children in one GetChildren call: none once the application stopped
  // answering (each child's read would fail as well), nothing where it refuses the call.
  std::optional<std::vector<Element>> allChildren(const AppPtr& app, const std::string& path,
                                                  int32_t count);
  // A container's child count, and its first child's reference asked in the same round trip.
  std::pair<std::optional<int32_t>, CallResult> countAndFirstChild(const AppPtr& app,
                                                                   const std::string& path);
  // The children a GetChildren call answered, no more than `count`; nothing for no list.
  std::optional<std::vector<Element>> childrenFrom(const AppPtr& app, const CallResult& list,
                                                   int32_t count);
  // What "AXChildren" yields: lazy children, or where there are few, all of them at once.
  std::vector<Element> listedChildren(const AtspiElement& e);
  // Asks for the references of those of `elements` that are lazy children of `app`, pipelined.
  void resolve(const AppPtr& app, const std::vector<const AtspiElement*>& elements);
  std::optional<std::string> name(const AtspiElement& e);
  Element elementFromReference(const AppPtr& from, const std::optional<ObjectRef>& reference);

  // Texts and selections (text.cc).
  std::optional<std::string> text(const AtspiElement& e);
  std::optional<std::string> readText(const AtspiElement& e);
  // Gecko fills a text in only once a client asks for it: the first answers are "" (and a count
  // of 0, or a count the "" cannot hold) while the selection is already there. True, after a
  // pause of TEXT_WAIT, the first time an element's text is found not ready in this run; then its
  // text is read once more.
  bool waitOnce(const AtspiElement& e);
  std::optional<AttrValue> selectedRange(const AtspiElement& e);
  // The first selection, else the caret as an empty one, in the toolkit's offsets, start first.
  std::optional<std::pair<int32_t, int32_t>> selectionOffsets(const AtspiElement& e);
  // The character count, asked once a step (nothing: no Text interface). A timed-out ask is not
  // kept, and says so in `timedOut`.
  std::optional<int32_t> characterCount(const AtspiElement& e, bool* timedOut = nullptr);
  // The character count of a text whose parts can be read: nothing for a password field, a
  // document of paragraph objects, or an object without a Text interface (text_range.cc).
  std::optional<int32_t> partCount(const AtspiElement& e);

  // A document whose paragraphs are separate objects, read as one text (document.cc).
  // The document standing for `focused` when it is a paragraph of such a document, else `focused`.
  Element documentAround(Element focused);
  // The paragraphs' texts joined by line feeds; nothing when `e` is not such a document.
  std::optional<std::string> documentText(const AtspiElement& e);
  std::optional<AttrValue> documentRange(const AtspiElement& e);
  std::optional<std::string> partText(const Element& part);
  // `children` of `e` without those whose text its composed value holds.
  std::vector<Element> uncomposed(const AtspiElement& e, std::vector<Element> children);

  // Fetching ahead (prefetch.cc): before `e` is first read, its batch is fetched.
  void readAhead(const AtspiElement& e);
  void fetchBatch(const Lookahead::Batch& batch);

  // Answers already read in this step, by application and object path: finding the frontmost
  // application, then the focus in its active window, then reading the focused element ask for
  // some of the same states and windows again. The keys hold their applications, so an address
  // cannot be reused for another one within the step.
  struct StepMemo {
    int64_t step = 0;
    std::map<std::pair<AppPtr, std::string>, std::optional<StateSet>> states;
    std::map<AppPtr, std::optional<std::string>> activeWindows;
    // What the focus search read of the containers it opened: their roles and all their children.
    std::map<std::pair<AppPtr, std::string>, uint32_t> roles;
    std::map<std::pair<AppPtr, std::string>, std::vector<Element>> children;
  };
  StepMemo& memo();

  AtspiLink link_;
  Lookahead lookahead_;
  StepMemo memo_;
  std::optional<Frontmost> lastFrontmost_;  // answers applicationElement(pid) without a scan
  bool sawApplications_ = false;            // the last search found applications on the bus
  std::set<std::pair<std::string, std::string>> waitedFor_;  // bus names and paths (waitOnce)
};
