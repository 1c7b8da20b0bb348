// Several programs drawing numbers from one pool at the same time, as the
// programmers of a station (SQLite) or the stations of a line (PostgreSQL)
// do, and a program killed while it holds a number. Each program is a
// child process with its own store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "store/line_store.hpp"
#include "store_location.hpp"

namespace velkor::store {
namespace {

using test::Engine;
using test::StoreLocation;

constexpr int kPrograms = 4;
constexpr int kNumbersEach = 125;
constexpr uint64_t kFirst = 5000;
constexpr uint64_t kStep = 3;

struct Draw {
  int64_t reservation;
  uint64_t number;
  bool good;
};

// The body of one child program: opens its own store, waits for the
// start, then reserves and finishes count numbers, every fourth chip
// failing, and writes what it got to out. Its exit status.
int ReserveAndFinish(const std::string& where, const std::string& pool, int program, int startGate,
                     const std::filesystem::path& out) {
  std::string error;
  auto store = OpenLineStore(where, error);
  if (!store) {
    std::fprintf(stderr, "program %d: %s\n", program, error.c_str());
    return 2;
  }
  char go;
  (void)!read(startGate, &go, 1);  // returns at the end of the pipe, when every program is ready
  std::ofstream issued(out);
  for (int i = 0; i < kNumbersEach; ++i) {
    const auto taken = store->Reserve(pool, "station-" + std::to_string(program), "programmer-" + std::to_string(i % 2));
    if (!taken) {
      std::fprintf(stderr, "program %d, reservation %d: %s\n", program, i, taken.error.c_str());
      return 3;
    }
    const bool good = i % 4 != 3;
    const auto finished = store->Finish(taken->id, good);
    if (!finished) {
      std::fprintf(stderr, "program %d, finish %d: %s\n", program, i, finished.error.c_str());
      return 4;
    }
    issued << taken->id << ' ' << taken->number << ' ' << good << '\n';
  }
  issued.flush();
  return issued ? 0 : 5;
}

std::vector<Draw> ReadDraws(const std::filesystem::path& path) {
  std::vector<Draw> draws;
  std::ifstream in(path);
  Draw draw{};
  while (in >> draw.reservation >> draw.number >> draw.good) draws.push_back(draw);
  return draws;
}

class LineStoreConcurrency : public ::testing::TestWithParam<std::tuple<Engine, FailedNumbers>> {};

TEST_P(LineStoreConcurrency, ProgramsReservingAtOnceNeverShareANumberAndEveryNumberIsAccountedFor) {
  const auto [engine, policy] = GetParam();
  StoreLocation location(engine);
  ASSERT_FALSE(location.where.empty()) << location.error;
  const std::string pool = "line";
  {
    std::string error;
    auto store = OpenLineStore(location.where, error);
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->CreatePool(PoolSpec{pool, kFirst, kStep, kFirst + kStep * 100000, "le32@0x10", policy}));
  }  // closed: no child may share the parent's connection

  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> programs;
  for (int program = 0; program < kPrograms; ++program) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(gate[1]);
      _exit(ReserveAndFinish(location.where, pool, program, gate[0],
                             location.folder / ("issued-" + std::to_string(program))));
    }
    programs.push_back(child);
  }
  close(gate[0]);
  close(gate[1]);
  for (const pid_t child : programs) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a program failed; status " << status;
  }

  std::map<uint64_t, std::vector<Draw>> byNumber;
  std::set<int64_t> reservations;
  std::size_t draws = 0;
  for (int program = 0; program < kPrograms; ++program) {
    for (const Draw& draw : ReadDraws(location.folder / ("issued-" + std::to_string(program)))) {
      byNumber[draw.number].push_back(draw);
      reservations.insert(draw.reservation);
      ++draws;
    }
  }
  ASSERT_EQ(draws, static_cast<std::size_t>(kPrograms * kNumbersEach));
  EXPECT_EQ(reservations.size(), draws) << "a reservation id was given twice";

  std::string error;
  auto store = OpenLineStore(location.where, error);
  ASSERT_NE(store, nullptr) << error;
  const auto listed = store->PoolNumbers(pool);
  ASSERT_TRUE(listed) << listed.error;

  // Fresh numbers were taken in order without a gap: first, first + step, ...
  std::vector<uint64_t> expectedNumbers;
  for (std::size_t k = 0; k < byNumber.size(); ++k) expectedNumbers.push_back(kFirst + k * kStep);
  std::vector<uint64_t> issuedNumbers, listedNumbers;
  for (const auto& [number, ignored] : byNumber) issuedNumbers.push_back(number);
  for (const PoolNumber& number : *listed) listedNumbers.push_back(number.number);
  EXPECT_EQ(issuedNumbers, expectedNumbers);
  EXPECT_EQ(listedNumbers, issuedNumbers) << "the database lists other numbers than were issued";

  std::size_t used = 0, failed = 0, voided = 0, issuedAgain = 0;
  for (const PoolNumber& number : *listed) {
    std::vector<Draw> history = byNumber[number.number];
    std::sort(history.begin(), history.end(),
              [](const Draw& a, const Draw& b) { return a.reservation < b.reservation; });
    SCOPED_TRACE("number " + std::to_string(number.number));
    EXPECT_EQ(number.timesIssued, history.size());
    EXPECT_EQ(number.reservation, history.back().reservation);
    if (policy == FailedNumbers::Void) {
      EXPECT_EQ(history.size(), 1u) << "a number was issued twice";
    }
    // A number comes back only after its chip failed, and only once for
    // each failure.
    for (std::size_t i = 0; i + 1 < history.size(); ++i) {
      EXPECT_FALSE(history[i].good) << "issued again after a good chip";
    }
    issuedAgain += history.size() - 1;
    const NumberState expected = history.back().good                ? NumberState::Used
                                 : policy == FailedNumbers::Reuse ? NumberState::Failed
                                                                    : NumberState::Voided;
    EXPECT_EQ(number.state, expected);
    used += number.state == NumberState::Used;
    failed += number.state == NumberState::Failed;
    voided += number.state == NumberState::Voided;
  }
  if (policy == FailedNumbers::Reuse) {
    EXPECT_GT(issuedAgain, 0u) << "no failed number was issued again";
  }
  const auto info = store->Pool(pool);
  ASSERT_TRUE(info && info->has_value()) << info.error;
  EXPECT_EQ((*info)->used, used);
  EXPECT_EQ((*info)->failed, failed);
  EXPECT_EQ((*info)->voided, voided);
  EXPECT_EQ((*info)->reserved, 0u);
  EXPECT_EQ((*info)->nextFresh, kFirst + byNumber.size() * kStep);
}

INSTANTIATE_TEST_SUITE_P(
    Engines, LineStoreConcurrency,
    ::testing::Combine(::testing::Values(Engine::Sqlite, Engine::Postgres),
                       ::testing::Values(FailedNumbers::Void, FailedNumbers::Reuse)),
    [](const auto& engineAndPolicy) {
      return test::EngineName(std::get<0>(engineAndPolicy.param)) + "_" +
             FailedNumbersName(std::get<1>(engineAndPolicy.param));
    });

class LineStoreKilled : public ::testing::TestWithParam<Engine> {};

TEST_P(LineStoreKilled, AProgramKilledBetweenReserveAndFinishLeavesItsNumberReservedUntilReleased) {
  StoreLocation location(GetParam());
  ASSERT_FALSE(location.where.empty()) << location.error;
  {
    std::string error;
    auto store = OpenLineStore(location.where, error);
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->CreatePool(PoolSpec{"killed", 1, 1, 100, "", FailedNumbers::Reuse}));
  }

  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    std::string error;
    auto store = OpenLineStore(location.where, error);
    const auto taken = store ? store->Reserve("killed", "station-killed", "programmer-1") : StoreResult<Reservation>{};
    const int64_t id = taken ? taken->id : 0;
    (void)!write(report[1], &id, sizeof id);
    for (;;) pause();  // never finishes: killed here
  }
  close(report[1]);
  int64_t id = 0;
  ASSERT_EQ(read(report[0], &id, sizeof id), static_cast<ssize_t>(sizeof id));
  close(report[0]);
  ASSERT_NE(id, 0) << "the program could not reserve";
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  std::string error;
  auto store = OpenLineStore(location.where, error);
  ASSERT_NE(store, nullptr) << error;
  const auto reserved = store->PoolNumbers("killed", NumberState::Reserved);
  ASSERT_TRUE(reserved) << reserved.error;
  ASSERT_EQ(reserved->size(), 1u);
  EXPECT_EQ((*reserved)[0].number, 1u);
  EXPECT_EQ((*reserved)[0].reservation, id);
  EXPECT_EQ((*reserved)[0].station, "station-killed");

  const auto next = store->Reserve("killed", "station-1", "programmer-2");
  ASSERT_TRUE(next) << next.error;
  EXPECT_EQ(next->number, 2u) << "the killed program's number was issued again";

  const auto released = store->Release(id);
  ASSERT_TRUE(released) << released.error;
  EXPECT_EQ(*released, NumberState::Failed);
  const auto again = store->Reserve("killed", "station-1", "programmer-2");
  ASSERT_TRUE(again) << again.error;
  EXPECT_EQ(again->number, 1u) << "a released number of a reuse pool comes back first";
}

INSTANTIATE_TEST_SUITE_P(Engines, LineStoreKilled, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& engine) { return test::EngineName(engine.param); });

}  // namespace
}  // namespace velkor::store
