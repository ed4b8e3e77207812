// The never-moving array the packet lists and the store's offsets are made of: it switches
// to huge pages once it is large, and must still hold every element and report no less
// memory than the system gives it.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/ReservedArray.h"
#include "tests/common/Process.h"

namespace {
uint32_t Value(size_t i) { return uint32_t(i * 2654435761u) | 1; }
}  // namespace

TEST(ReservedArray, ALargeArrayKeepsEveryElementReportsItsMemoryAndGivesItBack) {
  using TArray = platform::TReservedArray<uint32_t>;
  TArray array(size_t(1) << 30);
  ASSERT_EQ(array.Capacity(), size_t(1) << 30);

  // Past the huge-page line by ten huge pages and one small page: the last huge page is barely
  // used, which is where an account in small pages would fall short.
  const size_t used = (TArray::HugeFrom + 10 * TArray::HugePage + TArray::Page) / sizeof(uint32_t);
  const long before = ResidentBytes();
  for (size_t i = 0; i < used; ++i) array[i] = Value(i);
  const long grown = ResidentBytes() - before;

  size_t wrong = 0;
  for (size_t i = 0; i < used; ++i) wrong += array[i] != Value(i);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(array[used], 0u);  // the next element, never written

  const size_t reported = array.CommittedBytes(used);
  EXPECT_GE(reported, used * sizeof(uint32_t));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (A sanitizer's shadow memory grows with the array and would be counted as well.)
  EXPECT_LE(grown, long(reported) + (1L << 20))
      << "the array holds more memory than it reports";
#else
  (void)grown;
#endif

  // Released, the elements read as zero again and the memory is back with the system.
  // The memory is counted before the elements are read again: a kernel that gives a read fault
  // a page of its own (folios larger than a page) would count those pages too.
  array.Release(used);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(ResidentBytes() - before, 1L << 20);
#endif
  EXPECT_EQ(array[0], 0u);
  EXPECT_EQ(array[TArray::HugeFrom / sizeof(uint32_t)], 0u);
  EXPECT_EQ(array[used - 1], 0u);

  // Filled as a file is read in, the array takes huge pages from its start; the report still
  // covers what it holds, Trim gives back what the last huge page holds past the end, and
  // after Release the next small filling is small again.
  const size_t filled = 3 * TArray::HugePage / sizeof(uint32_t) + 100;
  array.FillInHugePages();
  [[maybe_unused]] const long start = ResidentBytes();
  for (size_t i = 0; i < filled; ++i) array[i] = Value(i);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LE(ResidentBytes() - start, long(array.CommittedBytes(filled)) + (1L << 20));
#endif
  array.Trim(filled);
  wrong = 0;
  for (size_t i = 0; i < filled; ++i) wrong += array[i] != Value(i);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(array[filled + 1024], 0u);
  EXPECT_EQ(array.CommittedBytes(filled), 3 * TArray::HugePage + TArray::Page);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LE(ResidentBytes() - start, long(array.CommittedBytes(filled)) + (1L << 18));
#endif
  array.Release(filled);
  EXPECT_EQ(array.CommittedBytes(10), TArray::Page);
  EXPECT_EQ(array[1], 0u);
}
