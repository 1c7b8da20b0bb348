#include "store/line_station.hpp"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor::store {

namespace {

using Json = nlohmann::json;

constexpr uint64_t kLargestChipNumber = 0xFFFFFFFFu;

Json ToJson(const StoredRecord& r) {
  Json line{{"time_ms", std::chrono::duration_cast<std::chrono::milliseconds>(r.time.time_since_epoch()).count()},
            {"station", r.station},
            {"programmer", r.programmer},
            {"programmer_id", r.programmerId},
            {"chip", r.chip},
            {"operation", r.operation},
            {"result", r.result},
            {"code", r.code},
            {"text", r.text},
            {"acc", r.acc},
            {"crc", r.crc},
            {"image_sha256", r.imageSha256},
            {"duration_ms", r.duration.count()}};
  if (r.serialNumber) line["serial_number"] = *r.serialNumber;
  if (r.pool) line["pool"] = *r.pool;
  // Left out when not known, as in the lines of earlier programs.
  if (!r.imageFile.empty()) line["image_file"] = r.imageFile;
  if (r.chipId) line["chip_id"] = *r.chipId;
  if (!r.jobId.empty()) line["job_id"] = r.jobId;
  if (!r.adapterSerial.empty()) line["adapter_serial"] = r.adapterSerial;
  if (r.firstDifference) line["first_difference"] = *r.firstDifference;
  if (r.differences) line["differences"] = *r.differences;
  if (!r.serialText.empty()) line["serial_text"] = r.serialText;
  if (!r.lockedJob.empty()) line["locked_job"] = r.lockedJob;
  if (!r.jobLock.empty()) line["job_lock"] = r.jobLock;
  return line;
}

std::optional<StoredRecord> FromJson(const std::string& text) {
  const Json line = Json::parse(text, nullptr, false);
  if (line.is_discarded() || !line.is_object()) return std::nullopt;
  try {
    StoredRecord r;
    r.time = Clock::time_point(std::chrono::milliseconds(line.at("time_ms").get<int64_t>()));
    r.station = line.at("station").get<std::string>();
    r.programmer = line.at("programmer").get<int>();
    r.programmerId = line.at("programmer_id").get<std::string>();
    r.chip = line.at("chip").get<std::string>();
    r.operation = line.at("operation").get<std::string>();
    r.result = line.at("result").get<std::string>();
    r.code = line.at("code").get<int>();
    r.text = line.at("text").get<std::string>();
    r.acc = line.at("acc").get<uint16_t>();
    r.crc = line.at("crc").get<uint16_t>();
    r.imageSha256 = line.at("image_sha256").get<std::string>();
    r.duration = std::chrono::milliseconds(line.at("duration_ms").get<int64_t>());
    if (line.contains("serial_number")) r.serialNumber = line.at("serial_number").get<uint64_t>();
    if (line.contains("pool")) r.pool = line.at("pool").get<std::string>();
    if (line.contains("image_file")) r.imageFile = line.at("image_file").get<std::string>();
    if (line.contains("chip_id")) r.chipId = line.at("chip_id").get<std::array<uint8_t, 2>>();
    if (line.contains("job_id")) r.jobId = line.at("job_id").get<std::string>();
    if (line.contains("adapter_serial")) r.adapterSerial = line.at("adapter_serial").get<std::string>();
    if (line.contains("first_difference")) r.firstDifference = line.at("first_difference").get<uint32_t>();
    if (line.contains("differences")) r.differences = line.at("differences").get<uint64_t>();
    if (line.contains("serial_text")) r.serialText = line.at("serial_text").get<std::string>();
    if (line.contains("locked_job")) r.lockedJob = line.at("locked_job").get<std::string>();
    if (line.contains("job_lock")) r.jobLock = line.at("job_lock").get<std::string>();
    return r;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

// The record with every text as the store can keep it. A programmer's
// name is the programmer's own bytes, and a file's name need not be UTF-8:
// refused, the record would wait forever, and every record behind it. The
// record file writes them with replacement characters too.
StoredRecord Storable(StoredRecord r) {
  for (std::string* text : {&r.station, &r.programmerId, &r.chip, &r.operation, &r.text, &r.imageSha256,
                            &r.imageFile, &r.jobId, &r.adapterSerial, &r.serialText, &r.lockedJob, &r.jobLock})
    *text = StorableText(*text);
  if (r.pool) r.pool = StorableText(*r.pool);
  return r;
}

std::filesystem::path DataFolder() { return DefaultStorePath().parent_path(); }

}  // namespace

std::string PoolFormatText(const PoolFormat& format) {
  return velkor::FormatText("address=0x%08X order=%s", format.address, format.bigEndian ? "big" : "little");
}

std::optional<PoolFormat> ParsePoolFormat(const std::string& text) {
  unsigned address = 0;
  char order[8] = {};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "address=0x%8X order=%7s%n", &address, order, &consumed) != 2 ||
      static_cast<std::size_t>(consumed) != text.size())
    return std::nullopt;
  const std::string word = order;
  if (word != "big" && word != "little") return std::nullopt;
  return PoolFormat{address, word == "big"};
}

PoolNumberSource::PoolNumberSource(LineStore& store, std::string pool, std::string station, int programmerBase,
                                   StationNotice notice)
    : store_(store), pool_(std::move(pool)), station_(std::move(station)), base_(programmerBase),
      notice_(std::move(notice)) {}

std::optional<uint32_t> PoolNumberSource::Take(int channel, std::string& error) {
  const auto reserved = store_.Reserve(pool_, station_, "programmer " + std::to_string(base_ + channel));
  if (!reserved) {
    error = velkor::FormatText(Tx("No serial number for programmer %d from pool \"%s\": %s"), base_ + channel,
                               pool_.c_str(), reserved.error.c_str());
    return std::nullopt;
  }
  if (reserved->number > kLargestChipNumber) {
    // The chip holds four bytes: the number goes back as a failed chip's.
    store_.Release(reserved->id);
    error = velkor::FormatText(Tx("Pool \"%s\" handed out %llu, which does not fit the chip's four bytes."),
                               pool_.c_str(), static_cast<unsigned long long>(reserved->number));
    return std::nullopt;
  }
  const auto number = static_cast<uint32_t>(reserved->number);
  reservations_[number] = reserved->id;
  return number;
}

void PoolNumberSource::Done(int channel, uint32_t number, NumberEnd end) {
  const auto found = reservations_.find(number);
  if (found == reservations_.end()) return;
  const int64_t reservation = found->second;
  reservations_.erase(found);
  const auto ended = end == NumberEnd::NotUsed ? store_.Release(reservation) : store_.Finish(reservation, end == NumberEnd::Good);
  if (ended) return;
  // The number stays reserved in the pool, so it is never handed out twice;
  // an engineer releases it (velkor-cli pool release) once the chip is known.
  notice_(velkor::FormatText(
      Tx("Serial number %u of pool \"%s\" (programmer %d) stays reserved: %s. Its reservation is %lld."), number,
      pool_.c_str(), base_ + channel, ended.error.c_str(), static_cast<long long>(reservation)));
}

StoreRecordSink::StoreRecordSink(LineStore& store, std::string station, std::filesystem::path pending,
                                 StationNotice notice)
    : store_(store), station_(std::move(station)), pending_(std::move(pending)), notice_(std::move(notice)) {}

void StoreRecordSink::Add(const TraceRecord& record) {
  StoredRecord stored;
  stored.time = record.time;
  // The station the record names, the same as in the record file.
  stored.station = record.station.empty() ? station_ : record.station;
  stored.programmer = record.programmer;
  stored.programmerId = record.programmerId;
  stored.chip = record.chip;
  stored.operation = record.operation;
  stored.result = record.result;
  stored.code = record.code;
  stored.text = record.text;
  stored.acc = record.acc;
  stored.crc = record.crc;
  stored.imageSha256 = record.sha256;
  if (record.serialNumber) stored.serialNumber = *record.serialNumber;
  stored.pool = record.pool;
  stored.duration = record.duration;
  stored.imageFile = record.imageFile;
  stored.chipId = record.chipId;
  stored.jobId = record.jobId;
  stored.adapterSerial = record.adapterSerial;
  stored.differences = record.differences;
  stored.firstDifference = record.firstDifference;
  stored.serialText = record.serialText;
  stored.lockedJob = record.lockedJob;
  stored.jobLock = record.jobLock;

  std::lock_guard lock(mutex_);
  std::vector<StoredRecord> waiting = ReadPending();
  waiting.push_back(stored);
  std::size_t written = 0;
  std::string why;
  for (; written < waiting.size(); ++written) {
    const auto added = store_.AddRecord(Storable(waiting[written]));
    if (added) continue;
    why = added.error;
    break;
  }
  if (written == waiting.size()) {
    if (waiting.size() > 1) WritePending({});
    return;
  }
  const std::vector<StoredRecord> left(waiting.begin() + static_cast<std::ptrdiff_t>(written), waiting.end());
  if (!WritePending(left)) {
    notice_(
        velkor::FormatText(Tx("The record of programmer %d's chip reached neither the line's database (%s) nor %s."),
                           record.programmer, why.c_str(), pending_.string().c_str()));
    return;
  }
  notice_(velkor::FormatText(Tx("The line's database did not take a record (%s): %zu record(s) wait in %s and go in "
                                "when it is back."),
                             why.c_str(), left.size(), pending_.string().c_str()));
}

std::size_t StoreRecordSink::Flush() {
  std::lock_guard lock(mutex_);
  std::vector<StoredRecord> waiting = ReadPending();
  std::size_t written = 0;
  while (written < waiting.size() && store_.AddRecord(Storable(waiting[written]))) ++written;
  if (written == 0) return waiting.size();
  const std::vector<StoredRecord> left(waiting.begin() + static_cast<std::ptrdiff_t>(written), waiting.end());
  WritePending(left);
  return left.size();
}

std::vector<StoredRecord> StoreRecordSink::ReadPending() {
  std::vector<StoredRecord> records;
  std::ifstream in(pending_);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (auto record = FromJson(line)) {
      records.push_back(std::move(*record));
    } else {
      // Never dropped: a damaged line is set aside for a person to look at.
      AppendToFile(pending_.string() + ".damaged", line + '\n');
    }
  }
  return records;
}

bool StoreRecordSink::WritePending(const std::vector<StoredRecord>& records) {
  std::string content;
  for (const StoredRecord& r : records) content += ToJson(r).dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
  std::error_code ec;
  std::filesystem::create_directories(pending_.parent_path(), ec);
  if (records.empty()) {
    std::filesystem::remove(pending_, ec);
    return !ec;
  }
  return WriteFileAtomically(pending_, content).empty();
}

StationLine::StationLine(StationNotice notice, std::filesystem::path pending)
    : notice_(std::move(notice)), pending_(std::move(pending)) {}

std::string StationLine::Use(const LineSettings& settings) {
  if (store_ && settings == settings_) return {};
  records_.reset();
  numbers_.clear();
  store_.reset();
  settings_ = settings;
  std::string error;
  bool unreachable = false;
  store_ = OpenLineStore(settings.database, error, &unreachable);
  if (!store_) return OpenFailureText(settings.database, unreachable, error);
  station_ = settings.station.empty() ? DefaultStationName() : settings.station;
  records_ = std::make_unique<StoreRecordSink>(*store_, station_, pending_, notice_);
  placement_ = {};
  if (settings.pool.empty()) return {};
  const auto found = store_->Pool(settings.pool);
  std::string refusal;
  if (!found) {
    refusal = found.error;
  } else if (!*found.value) {
    refusal = velkor::FormatText(Tx("there is no pool \"%s\" in %s (velkor-cli pool list)"), settings.pool.c_str(),
                                 store_->Where().c_str());
  } else if (const auto format = ParsePoolFormat((*found.value)->spec.format)) {
    placement_ = {format->address, format->bigEndian};
    return {};
  } else {
    refusal = velkor::FormatText(Tx("pool \"%s\" keeps no serial-number format this program knows (\"%s\")"),
                                 settings.pool.c_str(), (*found.value)->spec.format.c_str());
  }
  // Opened again next time: the pool may be made meanwhile.
  records_.reset();
  store_.reset();
  return refusal;
}

std::optional<int64_t> StationLine::Begin(const JobSession& session) {
  if (!store_) return std::nullopt;
  StoredSession stored;
  stored.station = session.station;
  stored.programVersion = session.programVersion;
  stored.jobId = session.jobId;
  stored.chip = session.chip;
  stored.imageSha256 = session.imageSha256;
  stored.lockedJob = session.lockedJob;
  stored.jobLock = session.jobLock;
  stored.started = session.started;
  for (const SessionProgrammerInfo& p : session.programmers)
    stored.programmers.push_back({p.programmer, p.identification, p.firmware, p.adapterSerial});
  const auto begun = store_->BeginSession(stored);
  if (!begun) {
    notice_(velkor::FormatText(Tx("The session was not kept in %s: %s"), store_->Where().c_str(), begun.error.c_str()));
    return std::nullopt;
  }
  return *begun;
}

void StationLine::End(int64_t id, const JobSession& session) {
  if (!store_) return;
  const auto ended = store_->EndSession(id, std::chrono::system_clock::now(), session.good, session.failed);
  if (!ended)
    notice_(velkor::FormatText(Tx("The end of session %lld was not kept in %s: %s"), static_cast<long long>(id),
                               store_->Where().c_str(), ended.error.c_str()));
}

SerialNumberSource& StationLine::Numbers(int programmerBase) {
  auto& source = numbers_[programmerBase];
  if (!source) source = std::make_unique<PoolNumberSource>(*store_, settings_.pool, station_, programmerBase, notice_);
  return *source;
}

std::string OpenFailureText(const std::string& where, bool unreachable, const std::string& error) {
  const std::string shown = where.empty() ? DefaultStorePath().string() : where;
  return velkor::FormatText(unreachable ? Tx("The line's database %s cannot be reached: %s")
                                        : Tx("The line's database %s cannot be used: %s"),
                            shown.c_str(), error.c_str());
}

std::string DefaultStationName() { return HostName(); }

std::filesystem::path DefaultPendingRecordsPath() { return DataFolder() / "pending-records.jsonl"; }

}  // namespace velkor::store
