// A station of the production line at work: the host-side serial numbers
// of its programmers drawn from a pool of the line's store, and every chip's
// record written to the store. What the store cannot take while it is out
// of reach waits in a file of the station and goes in at the next chance.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/production_line.hpp"
#include "app/serial_number_source.hpp"
#include "app/trace_record.hpp"
#include "store/line_store.hpp"

namespace velkor::store {

// How a chip gets a pool's number: the four bytes at address, in this
// order. Kept in the pool as "address=0x00000020 order=little".
struct PoolFormat {
  uint32_t address = 0;
  bool bigEndian = false;
};
std::string PoolFormatText(const PoolFormat& format);
// Nothing for a text that is not one PoolFormatText makes.
std::optional<PoolFormat> ParsePoolFormat(const std::string& text);

// Tells the operator something that went wrong but did not stop the run.
using StationNotice = std::function<void(const std::string&)>;

// The numbers of one group of programmers (programmer base + 1 and base + 2)
// from a pool. Several groups may share one store.
class PoolNumberSource final : public SerialNumberSource {
 public:
  PoolNumberSource(LineStore& store, std::string pool, std::string station, int programmerBase, StationNotice notice);
  std::optional<uint32_t> Take(int channel, std::string& error) override;
  void Done(int channel, uint32_t number, NumberEnd end) override;

 private:
  LineStore& store_;
  std::string pool_;
  std::string station_;
  int base_;
  StationNotice notice_;
  std::map<uint32_t, int64_t> reservations_;  // number → its open reservation
};

// Every chip's record into the store. A record the store cannot take waits,
// one JSON line each, in pending (created when needed), and the waiting
// records go in, oldest first, before the next one.
class StoreRecordSink final : public TraceRecordSink {
 public:
  StoreRecordSink(LineStore& store, std::string station, std::filesystem::path pending, StationNotice notice);
  void Add(const TraceRecord& record) override;
  // Writes what waits; how many records still wait.
  std::size_t Flush();
  const std::filesystem::path& PendingFile() const { return pending_; }

 private:
  // The waiting records; a line that is not a record is kept aside.
  std::vector<StoredRecord> ReadPending();
  bool WritePending(const std::vector<StoredRecord>& records);

  LineStore& store_;
  std::string station_;
  std::filesystem::path pending_;
  StationNotice notice_;
  std::mutex mutex_;
};

// Why the store at where (empty: the default file) could not be opened, as
// OpenLineStore said.
std::string OpenFailureText(const std::string& where, bool unreachable, const std::string& error);

// The station's name in the store: the host name unless one is given.
std::string DefaultStationName();
// Where records wait while the store is out of reach:
// $XDG_DATA_HOME/velkor350qn/pending-records.jsonl (or ~/.local/share/...).
std::filesystem::path DefaultPendingRecordsPath();

}  // namespace velkor::store

namespace velkor::store {

// The production line for the window's logic: one database connection per
// settings, shared by every group of programmers of the program.
class StationLine final : public ProductionLine, private SessionSink {
 public:
  explicit StationLine(StationNotice notice, std::filesystem::path pending = DefaultPendingRecordsPath());
  std::string Use(const LineSettings& settings) override;
  TraceRecordSink& Records() override { return *records_; }
  // Sessions go into the store in use when they begin and end; one that
  // cannot be kept is told as a notice (the log has its lines anyway).
  SessionSink& Sessions() override { return *this; }
  SerialNumberSource& Numbers(int programmerBase) override;
  PoolPlacement Placement() const override { return placement_; }
  std::size_t Flush() override { return records_ ? records_->Flush() : 0; }
  const std::filesystem::path& PendingFile() const { return pending_; }

 private:
  std::optional<int64_t> Begin(const JobSession& session) override;
  void End(int64_t id, const JobSession& session) override;

  StationNotice notice_;
  std::filesystem::path pending_;
  LineSettings settings_;
  std::string station_;
  std::unique_ptr<LineStore> store_;
  std::unique_ptr<StoreRecordSink> records_;
  std::map<int, std::unique_ptr<PoolNumberSource>> numbers_;
  PoolPlacement placement_;
};

}  // namespace velkor::store
