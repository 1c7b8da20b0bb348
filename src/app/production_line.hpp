// The production line's database as the window's logic sees it: where the
// chips' records go besides the record file, and the pool their host-side
// serial numbers come from. The database itself lives behind this interface
// (src/store/), so the logic never sees SQL and builds without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/job_session.hpp"
#include "app/serial_number_source.hpp"
#include "app/trace_record.hpp"

namespace velkor {

// What the operator set: the database (empty: the default file, when a pool
// is named), this station's name (empty: the host name) and the pool (empty:
// none).
struct LineSettings {
  std::string database;
  std::string station;
  std::string pool;
  bool Used() const { return !database.empty() || !pool.empty(); }
  bool operator==(const LineSettings&) const = default;
};

// Where a pool's numbers go in the chip.
struct PoolPlacement {
  uint32_t address = 0;
  bool bigEndian = false;
};

class ProductionLine {
 public:
  virtual ~ProductionLine() = default;
  // Opens the database these settings name (or keeps the one open) and
  // checks the pool; an empty string, or why the chips may not start.
  virtual std::string Use(const LineSettings& settings) = 0;
  // After Use: where records go.
  virtual TraceRecordSink& Records() = 0;
  // After Use: where the sessions of locked jobs go.
  virtual SessionSink& Sessions() = 0;
  // After Use with a pool: the numbers of the programmers programmerBase + 1
  // and + 2, and where they go.
  virtual SerialNumberSource& Numbers(int programmerBase) = 0;
  virtual PoolPlacement Placement() const = 0;
  // Writes records that wait for the database; how many still wait.
  virtual std::size_t Flush() = 0;
};

}  // namespace velkor
