// The counter several groups of programmers share for host-side numbers.
#include "app/serial_number_source.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velkor {
namespace {

TEST(SharedCounterTest, HandsOutEachNumberOnceAndGivesAFailedChipsNumberToTheNext) {
  struct Step {
    char action;  // 't' take, 'g' good, 'f' failed, 'n' not used
    uint32_t number;  // the number taken (expected) or ended
  };
  struct Case {
    const char* name;
    uint32_t first;
    uint32_t step;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"step by step", 10, 5, {{'t', 10}, {'t', 15}, {'g', 10}, {'g', 15}, {'t', 20}}},
      {"a failed chip's number comes back first", 1, 1,
       {{'t', 1}, {'t', 2}, {'t', 3}, {'f', 2}, {'g', 1}, {'t', 2}, {'t', 4}}},
      {"lowest returned first", 100, 10,
       {{'t', 100}, {'t', 110}, {'t', 120}, {'n', 120}, {'f', 100}, {'t', 100}, {'t', 120}, {'t', 130}}},
      {"a step of 0 counts as 1", 7, 0, {{'t', 7}, {'t', 8}}},
      {"the last number that fits", 0xFFFFFFFE, 1, {{'t', 0xFFFFFFFE}, {'t', 0xFFFFFFFF}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SharedCounter counter(k.first, k.step);
    for (const Step& s : k.steps) {
      std::string error;
      switch (s.action) {
        case 't': {
          const std::optional<uint32_t> taken = counter.Take(1, error);
          ASSERT_TRUE(taken) << error;
          EXPECT_EQ(*taken, s.number);
          break;
        }
        case 'g': counter.Done(1, s.number, NumberEnd::Good); break;
        case 'f': counter.Done(1, s.number, NumberEnd::Failed); break;
        case 'n': counter.Done(1, s.number, NumberEnd::NotUsed); break;
      }
    }
  }
}

TEST(SharedCounterTest, RefusesANumberBeyondFourBytes) {
  SharedCounter counter(0xFFFFFFF0, 0x10);
  std::string error;
  ASSERT_EQ(counter.Take(1, error), 0xFFFFFFF0u);
  EXPECT_FALSE(counter.Take(1, error));
  EXPECT_NE(error.find("used up"), std::string::npos) << error;
  // A number given back is still there to take.
  counter.Done(2, 0xFFFFFFF0, NumberEnd::Failed);
  EXPECT_EQ(counter.Take(2, error), 0xFFFFFFF0u);
}

}  // namespace
}  // namespace velkor
