#include "text/ext_ptr_array.h"

#include <gtest/gtest.h>

#include <vector>

#include "text/string_buffer.h"

namespace sfx {
namespace {

// Counts its destructions, to show what the array destroys.
class Tracked : public MarlithObject {
 public:
  Tracked(int id, int* destroyed) : id(id), destroyed_(destroyed) {}
  ~Tracked() override { ++*destroyed_; }
  int id;

 private:
  int* destroyed_;
};

TEST(ExtPtrArrayTest, CapacityGrowsInStepsThatFollowTheCapacity) {
  ExtPtrArray a;
  EXPECT_EQ(0u, a.getCapacity());
  std::vector<uint32_t> capacities;
  for (int i = 0; i < 700000; ++i) {
    uint32_t before = a.getCapacity();
    ASSERT_TRUE(a.append(nullptr));
    if (a.getCapacity() != before) capacities.push_back(a.getCapacity());
  }
  // 5, then capacity + step where the step becomes the capacity (doubling)
  // until it reaches 100000, after which the step stays at 100000.
  std::vector<uint32_t> expected = {
      5,      10,     20,     40,     80,     160,   320,   640,
      1280,   2560,   5120,   10240,  20480,  40960, 81920, 163840,
      263840, 363840, 463840, 563840, 663840, 763840};
  EXPECT_EQ(expected, capacities);
  EXPECT_EQ(100000u, a.getGrowBy());
}

TEST(ExtPtrArrayTest, InsertRemoveAndAccess) {
  int destroyed = 0;
  Tracked t0(0, &destroyed), t1(1, &destroyed), t2(2, &destroyed),
      t3(3, &destroyed);
  ExtPtrArray a;
  EXPECT_EQ(nullptr, a.lastElement());
  EXPECT_EQ(nullptr, a.pop());
  a.append(&t1);
  a.insertAt(-5, &t0);  // clamped to the front
  a.insertAt(99, &t3);  // clamped to the end
  a.insertAt(2, &t2);
  ASSERT_EQ(4, a.getSize());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(i, a.elementAtAs<Tracked>(i)->id);
  EXPECT_EQ(nullptr, a.elementAt(-1));
  EXPECT_EQ(nullptr, a.elementAt(4));
  EXPECT_EQ(&t3, a.lastElement());

  EXPECT_EQ(&t1, a.removeAt(1));
  EXPECT_EQ(nullptr, a.removeAt(3));
  ASSERT_EQ(3, a.getSize());
  EXPECT_EQ(&t2, a.elementAt(1));
  EXPECT_EQ(&t3, a.pop());
  EXPECT_EQ(2, a.getSize());
  a.removeAll();
  EXPECT_EQ(0, a.getSize());
  EXPECT_EQ(0, destroyed);
}

TEST(ExtPtrArrayTest, AnOwningArrayDestroysWhatItStillHolds) {
  int destroyed = 0;
  {
    ExtPtrArray a;
    a.setOwnsObjects(true);
    for (int i = 0; i < 3; ++i) a.append(new Tracked(i, &destroyed));
    delete a.removeAt(0);  // the caller owns what it removes
    EXPECT_EQ(1, destroyed);
  }
  EXPECT_EQ(3, destroyed);

  destroyed = 0;
  Tracked kept(9, &destroyed);
  {
    ExtPtrArray notOwning;
    notOwning.append(&kept);
  }
  EXPECT_EQ(0, destroyed);

  ExtPtrArray list;
  list.append(new Tracked(1, &destroyed));
  list.append(new Tracked(2, &destroyed));
  list.removeAllObjects();
  EXPECT_EQ(2, destroyed);
  EXPECT_EQ(0, list.getSize());
}

TEST(ExtPtrArrayTest, HoldsStringBuffers) {
  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  undo.append(new StringBuffer("C:\\a"));
  undo.append(new StringBuffer("C:\\a\\b"));
  EXPECT_STREQ("C:\\a\\b", undo.elementAtAs<StringBuffer>(1)->getString());
}

}  // namespace
}  // namespace sfx
