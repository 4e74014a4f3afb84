// The lookahead window: what a walk's reads make the AT-SPI layer fetch ahead, and what not.
#include "ax/atspi/lookahead.h"

#include <gtest/gtest.h>

namespace {

std::vector<Element> makeElements(size_t n) {
  std::vector<Element> out;
  for (size_t i = 0; i < n; ++i) out.push_back(std::make_shared<ElementHandle>());
  return out;
}

// The indices of `batch` within `all`, for readable failures.
std::vector<size_t> indices(const Lookahead::Batch& batch, const std::vector<Element>& all) {
  std::vector<size_t> out;
  for (const Element& e : batch.elements)
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i] == e) out.push_back(i);
  return out;
}

std::vector<size_t> range(size_t from, size_t to) {
  std::vector<size_t> out;
  for (size_t i = from; i < to; ++i) out.push_back(i);
  return out;
}

TEST(Lookahead, FirstReadFetchesABatchAndLaterReadsFetchNothingUntilItIsUsedUp) {
  Lookahead ahead;
  auto children = makeElements(3 * LOOKAHEAD_BATCH);
  ahead.hint(children, 5);
  Lookahead::Batch first = ahead.onRead(children[0].get());
  EXPECT_EQ(indices(first, children), range(0, LOOKAHEAD_BATCH));
  EXPECT_EQ(first.attributes, 5U);
  for (size_t i = 1; i < LOOKAHEAD_BATCH; ++i)
    EXPECT_TRUE(ahead.onRead(children[i].get()).elements.empty()) << i;
  EXPECT_EQ(ahead.unread(), 0U);
  EXPECT_EQ(indices(ahead.onRead(children[LOOKAHEAD_BATCH].get()), children),
            range(LOOKAHEAD_BATCH, 2 * LOOKAHEAD_BATCH));
}

TEST(Lookahead, UnhintedElementsEmptyHintsAndClearedHintsFetchNothing) {
  Lookahead ahead;
  auto stranger = makeElements(1), some = makeElements(3), cleared = makeElements(3);
  ahead.hint({}, 7);
  ahead.hint(some, 0);  // no attribute asked for
  EXPECT_TRUE(ahead.onRead(stranger[0].get()).elements.empty());
  EXPECT_TRUE(ahead.onRead(some[0].get()).elements.empty());
  ahead.hint(cleared, 1);
  ahead.onRead(cleared[0].get());
  ahead.clear();
  EXPECT_EQ(ahead.unread(), 0U);
  EXPECT_TRUE(ahead.onRead(cleared[1].get()).elements.empty());
}

TEST(Lookahead, NestedHintsNeverLeaveMoreThanOneWindowFetchedAndUnread) {
  // A walk that enters the first child of each hint, one level deeper each time, and then stops
  // (its budget spent): everything fetched and not read was read for nothing.
  Lookahead ahead;
  std::vector<std::vector<Element>> levels;
  for (int depth = 0; depth < 10; ++depth) {
    levels.push_back(makeElements(50));
    ahead.hint(levels.back(), 1);
    ahead.onRead(levels.back()[0].get());
    EXPECT_LE(ahead.unread(), LOOKAHEAD_WINDOW - 1) << "depth " << depth;
  }
  // Deep down the window is full, yet each read still fetches its own element.
  auto deep = makeElements(5);
  ahead.hint(deep, 1);
  EXPECT_EQ(indices(ahead.onRead(deep[0].get()), deep), range(0, 1));
}

TEST(Lookahead, AnElementKeepsItsFirstHintAndIsFetchedOnce) {
  Lookahead ahead;
  auto first = makeElements(4);
  ahead.hint(first, 1);
  // The same elements hinted again (a second look at the same children) with one new one.
  std::vector<Element> again = {first[2], first[3], makeElements(1)[0]};
  ahead.hint(again, 1);
  EXPECT_EQ(indices(ahead.onRead(first[0].get()), first), range(0, 4));
  Lookahead::Batch b = ahead.onRead(again[2].get());
  ASSERT_EQ(b.elements.size(), 1U);
  EXPECT_EQ(b.elements[0], again[2]);
}

}  // namespace
