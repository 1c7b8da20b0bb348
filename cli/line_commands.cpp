#include "cli/line_commands.hpp"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/exit_status.hpp"
#include "data/text_format.hpp"
#include "store/line_station.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

using Json = nlohmann::ordered_json;
using store::Clock;

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// null for a text the store keeps empty (nothing known), as in the record file.
Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// UTC, to the millisecond: 2026-12-11T01:02:03.456Z.
std::string UtcText(Clock::time_point time) {
  const std::time_t seconds = Clock::to_time_t(time);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  return FormatText("%s.%03dZ", stamp, static_cast<int>(millis));
}

// "2026-12-11", "2026-12-11T08:00:00" (UTC), or "24h" / "30m" back from now.
std::optional<Clock::time_point> SinceOf(const std::string& text) {
  if (text.empty()) return Clock::time_point{};
  char unit = 0;
  long amount = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%ld%c%n", &amount, &unit, &used) == 2 && used == static_cast<int>(text.size()) &&
      amount >= 0) {
    const long perUnit = unit == 'd' ? 86400 : unit == 'h' ? 3600 : unit == 'm' ? 60 : unit == 's' ? 1 : 0;
    if (perUnit > 0) return Clock::now() - std::chrono::seconds(amount * perUnit);
  }
  std::tm utc{};
  for (const char* form : {"%Y-%m-%dT%H:%M:%S", "%Y-%m-%d"}) {
    utc = std::tm{};
    const char* end = strptime(text.c_str(), form, &utc);
    if (end && *end == '\0') return Clock::from_time_t(timegm(&utc));
  }
  return std::nullopt;
}

std::unique_ptr<store::LineStore> Open(const std::string& db, EventOutput& output, int& status) {
  std::string error;
  bool unreachable = false;
  auto line = store::OpenLineStore(db, error, &unreachable);
  if (!line) {
    output.Message(MessageKind::Error, store::OpenFailureText(db, unreachable, error));
    status = unreachable ? kExitFailed : kExitRefused;
  }
  return line;
}

Json PoolJson(const store::PoolInfo& p) {
  Json json{{"event", "pool"},
            {"name", p.spec.name},
            {"first", p.spec.first},
            {"step", p.spec.step},
            {"last", p.spec.last},
            {"format", p.spec.format},
            {"on_failure", store::FailedNumbersName(p.spec.failed)},
            {"reserved", p.reserved},
            {"used", p.used},
            {"failed", p.failed},
            {"voided", p.voided},
            {"fresh_left", p.freshLeft}};
  json["next"] = p.nextFresh ? Json(*p.nextFresh) : Json(nullptr);
  return json;
}

std::string PoolLine(const store::PoolInfo& p) {
  return FormatText(
      Tx("%s: %llu to %llu step %llu, %s, failed chips' numbers: %s; used %llu, reserved %llu, failed %llu, "
         "voided %llu, %llu never issued"),
      p.spec.name.c_str(), static_cast<unsigned long long>(p.spec.first), static_cast<unsigned long long>(p.spec.last),
      static_cast<unsigned long long>(p.spec.step), p.spec.format.c_str(), store::FailedNumbersName(p.spec.failed),
      static_cast<unsigned long long>(p.used), static_cast<unsigned long long>(p.reserved),
      static_cast<unsigned long long>(p.failed), static_cast<unsigned long long>(p.voided),
      static_cast<unsigned long long>(p.freshLeft));
}

int CreatePool(const LineCommandOptions& o, EventOutput& output) {
  int status = kExitOk;
  char* end = nullptr;
  errno = 0;
  const unsigned long long address = std::strtoull(o.address.c_str(), &end, 0);
  if (o.address.empty() || *end != '\0' || errno != 0 || address > 0xFFFFFFFFu || o.address[0] == '-') {
    output.Message(MessageKind::Error,
                   FormatText(Tx("--sn-address \"%s\" is not an address of 0 to 0xFFFFFFFF."), o.address.c_str()));
    return kExitUsage;
  }
  store::PoolSpec spec;
  spec.name = o.poolName;
  spec.first = o.first;
  spec.step = o.step;
  spec.last = o.last;
  spec.format = store::PoolFormatText({static_cast<uint32_t>(address), o.bigEndian});
  spec.failed = o.onFailure == "reuse" ? store::FailedNumbers::Reuse : store::FailedNumbers::Void;
  if (spec.last > 0xFFFFFFFFu) {
    output.Message(MessageKind::Error,
                   Tx("A chip holds four bytes of serial number: --last may not exceed 0xFFFFFFFF."));
    return kExitUsage;
  }
  auto line = Open(o.db, output, status);
  if (!line) return status;
  const auto made = line->CreatePool(spec);
  if (!made) {
    output.Message(MessageKind::Error, made.error);
    return made.unreachable ? kExitFailed : kExitRefused;
  }
  const auto shown = line->Pool(spec.name);
  if (shown && *shown.value) output.Listing(PoolLine(**shown.value), Dump(PoolJson(**shown.value)));
  return kExitOk;
}

int ShowPools(const LineCommandOptions& o, EventOutput& output, bool one) {
  int status = kExitOk;
  auto line = Open(o.db, output, status);
  if (!line) return status;
  std::vector<store::PoolInfo> pools;
  if (one) {
    const auto found = line->Pool(o.poolName);
    if (!found) {
      output.Message(MessageKind::Error, found.error);
      return kExitFailed;
    }
    if (!*found.value) {
      output.Message(MessageKind::Error,
                     FormatText(Tx("There is no pool \"%s\" in %s."), o.poolName.c_str(), line->Where().c_str()));
      return kExitRefused;
    }
    pools.push_back(**found.value);
  } else {
    const auto all = line->Pools();
    if (!all) {
      output.Message(MessageKind::Error, all.error);
      return kExitFailed;
    }
    pools = *all.value;
  }
  for (const store::PoolInfo& p : pools) {
    output.Listing(PoolLine(p), Dump(PoolJson(p)));
    if (!one || !o.numbers) continue;
    const auto numbers = line->PoolNumbers(p.spec.name);
    if (!numbers) {
      output.Message(MessageKind::Error, numbers.error);
      return kExitFailed;
    }
    for (const store::PoolNumber& n : *numbers.value) {
      Json json{{"event", "number"},
                {"pool", p.spec.name},
                {"number", n.number},
                {"state", store::NumberStateName(n.state)},
                {"reservation", n.reservation},
                {"station", n.station},
                {"programmer", n.programmer},
                {"reserved", UtcText(n.reserved)},
                {"times_issued", n.timesIssued}};
      json["finished"] = n.finished ? Json(UtcText(*n.finished)) : Json(nullptr);
      output.Listing(
          FormatText(Tx("  %llu %-8s reservation %lld, %s %s, %s"), static_cast<unsigned long long>(n.number),
                     store::NumberStateName(n.state), static_cast<long long>(n.reservation), n.station.c_str(),
                     n.programmer.c_str(), UtcText(n.reserved).c_str()),
          Dump(json));
    }
  }
  if (pools.empty() && !one)
    output.Listing(FormatText(Tx("No pools in %s."), line->Where().c_str()),
                   Dump(Json{{"event", "pools"}, {"count", 0}}));
  return kExitOk;
}

int ReleaseNumber(const LineCommandOptions& o, EventOutput& output) {
  int status = kExitOk;
  auto line = Open(o.db, output, status);
  if (!line) return status;
  const auto released = line->Release(o.reservation);
  if (!released) {
    output.Message(MessageKind::Error, released.error);
    return released.unreachable ? kExitFailed : kExitRefused;
  }
  output.Listing(
      FormatText(Tx("reservation %lld released: its number is %s now"), static_cast<long long>(o.reservation),
                 store::NumberStateName(*released.value)),
      Dump(Json{
          {"event", "released"}, {"reservation", o.reservation}, {"state", store::NumberStateName(*released.value)}}));
  return kExitOk;
}

// --since as a time, or nothing after saying why it is not one.
std::optional<Clock::time_point> SinceOption(const LineCommandOptions& o, EventOutput& output) {
  const auto since = SinceOf(o.since);
  if (!since) {
    output.Message(MessageKind::Error, FormatText(Tx("--since \"%s\": give a date (2026-12-11), a UTC time "
                                                     "(2026-12-11T08:00:00) or an age (24h, 30m, 7d)."),
                                                  o.since.c_str()));
  }
  return since;
}

int ListRecords(const LineCommandOptions& o, EventOutput& output) {
  const auto since = SinceOption(o, output);
  if (!since) return kExitUsage;
  int status = kExitOk;
  auto line = Open(o.db, output, status);
  if (!line) return status;
  const auto records = line->Records(*since, o.limit > 0 ? std::optional<std::size_t>(o.limit) : std::nullopt);
  if (!records) {
    output.Message(MessageKind::Error, records.error);
    return kExitFailed;
  }
  for (const store::StoredRecord& r : *records.value) {
    Json json{{"event", "record"},   {"time", UtcText(r.time)},       {"station", r.station},
              {"programmer", r.programmer}, {"programmer_id", r.programmerId}, {"chip", r.chip},
              {"operation", r.operation},   {"result", r.result},             {"code", r.code},
              {"text", r.text},             {"acc", FormatText("0x%04X", unsigned{r.acc})},
              {"crc", FormatText("0x%04X", unsigned{r.crc})},                 {"duration_ms", r.duration.count()}};
    json["serial_number"] = r.serialNumber ? Json(*r.serialNumber) : Json(nullptr);
    json["pool"] = r.pool ? Json(*r.pool) : Json(nullptr);
    json["sha256"] = r.imageSha256.empty() ? Json(nullptr) : Json(r.imageSha256);
    // As in the record file; null where the record holds none (and in the
    // records made before these were kept).
    json["job_id"] = TextOrNull(r.jobId);
    json["adapter_serial"] = TextOrNull(r.adapterSerial);
    json["image_file"] = TextOrNull(r.imageFile);
    json["chip_id"] = r.chipId ? Json(*r.chipId) : Json(nullptr);
    json["differences"] = r.differences ? Json(*r.differences) : Json(nullptr);
    json["first_difference"] = r.firstDifference ? Json(*r.firstDifference) : Json(nullptr);
    json["serial_text"] = TextOrNull(r.serialText);
    json["locked_job"] = TextOrNull(r.lockedJob);
    json["job_lock"] = TextOrNull(r.jobLock);
    const std::string serial =
        r.serialNumber ? FormatText(Tx(" serial %llu"), static_cast<unsigned long long>(*r.serialNumber)) : "";
    const std::string job = r.jobId.empty() ? "" : FormatText(Tx(" job %s"), r.jobId.c_str());
    output.Listing(
        FormatText(Tx("%s %s programmer %d %s %s %s%s%s"), UtcText(r.time).c_str(), r.station.c_str(), r.programmer,
                   r.chip.c_str(), r.operation.c_str(), r.result.c_str(), serial.c_str(), job.c_str()),
        Dump(json));
  }
  return kExitOk;
}

Json SessionJson(const store::StoredSession& s) {
  Json programmers = Json::array();
  for (const store::SessionProgrammer& p : s.programmers) {
    programmers.push_back(Json{{"programmer", p.programmer},
                               {"programmer_id", p.programmerId},
                               {"firmware", p.firmware},
                               {"adapter_serial", TextOrNull(p.adapterSerial)}});
  }
  Json json{{"event", "session"}, {"id", s.id}, {"started", UtcText(s.started)}};
  json["ended"] = s.ended ? Json(UtcText(*s.ended)) : Json(nullptr);
  json["station"] = s.station;
  json["program_version"] = s.programVersion;
  json["job_id"] = TextOrNull(s.jobId);
  json["locked_job"] = TextOrNull(s.lockedJob);
  json["job_lock"] = TextOrNull(s.jobLock);
  json["chip"] = s.chip;
  json["sha256"] = TextOrNull(s.imageSha256);
  json["good"] = s.good;
  json["failed"] = s.failed;
  json["programmers"] = std::move(programmers);
  return json;
}

// "2026-12-11T08:00:00.000Z running bench-3 job … locked line3.job (hmac-…) W25x64xx good 412 failed 3;
// programmer 1 Velkor350QN V3.10 firmware V3.10 adapter FT1234AB; …"
std::string SessionLine(const store::StoredSession& s) {
  const std::string job = s.jobId.empty() ? "" : FormatText(Tx(" job %s"), s.jobId.c_str());
  const std::string lock =
      s.lockedJob.empty() ? "" : FormatText(Tx(" locked %s (%s)"), s.lockedJob.c_str(), s.jobLock.c_str());
  std::string programmers;
  for (const store::SessionProgrammer& p : s.programmers) {
    programmers += FormatText(Tx("; programmer %d %s firmware %s"), p.programmer, p.programmerId.c_str(),
                              p.firmware.c_str());
    if (!p.adapterSerial.empty()) programmers += FormatText(Tx(" adapter %s"), p.adapterSerial.c_str());
  }
  const std::string ended = s.ended ? UtcText(*s.ended) : Tx("running");
  return FormatText(Tx("%s %s %s%s%s %s good %llu failed %llu%s"), UtcText(s.started).c_str(), ended.c_str(),
                    s.station.c_str(), job.c_str(), lock.c_str(), s.chip.c_str(),
                    static_cast<unsigned long long>(s.good), static_cast<unsigned long long>(s.failed),
                    programmers.c_str());
}

int ListSessions(const LineCommandOptions& o, EventOutput& output) {
  const auto since = SinceOption(o, output);
  if (!since) return kExitUsage;
  int status = kExitOk;
  auto line = Open(o.db, output, status);
  if (!line) return status;
  const auto sessions = line->Sessions(*since);
  if (!sessions) {
    output.Message(MessageKind::Error, sessions.error);
    return kExitFailed;
  }
  for (const store::StoredSession& s : *sessions.value) output.Listing(SessionLine(s), Dump(SessionJson(s)));
  if (sessions->empty())
    output.Listing(FormatText(Tx("No sessions in %s."), line->Where().c_str()),
                   Dump(Json{{"event", "sessions"}, {"count", 0}}));
  return kExitOk;
}

}  // namespace

void AddLineCommands(CLI::App& app, LineCommandOptions& o) {
  CLI::App* pool = app.add_subcommand("pool", "Serial-number pools of the production line's database");
  pool->require_subcommand(1, 1);
  CLI::App* create = pool->add_subcommand("create", "Make a pool: numbers FIRST, FIRST+STEP, ... up to LAST");
  create->add_option("NAME", o.poolName, "The pool's name: letters, digits, '-', '_', '.'")->required();
  create->add_option("--first", o.first, "The first number")->required();
  create->add_option("--last", o.last, "The last number (at most 0xFFFFFFFF)")->required();
  create->add_option("--step", o.step, "The step from number to number (default 1)");
  create->add_option("--on-failure", o.onFailure, "A failed chip's number: void (never issued again) or reuse")
      ->check(CLI::IsMember({"void", "reuse"}));
  create->add_option("--sn-address", o.address, "Where in the chip the four bytes go (default 0)");
  create->add_flag("--sn-big-endian", o.bigEndian, "Store the numbers big-endian");
  pool->add_subcommand("list", "Every pool with its counts");
  CLI::App* show = pool->add_subcommand("show", "One pool with its counts");
  show->add_option("NAME", o.poolName, "The pool")->required();
  show->add_flag("--numbers", o.numbers, "Every number issued, with its state, station and programmer");
  CLI::App* release = pool->add_subcommand(
      "release", "End a reservation whose station went away: its number counts as a failed chip's");
  release->add_option("RESERVATION", o.reservation, "The reservation (pool show NAME --numbers)")->required();

  CLI::App* records = app.add_subcommand("records", "The chips' records in the production line's database");
  records->add_option("--since", o.since, "From this date, UTC time or age back (2026-12-11, 24h); default all");
  records->add_option("--limit", o.limit, "At most this many");

  CLI::App* sessions =
      app.add_subcommand("sessions", "The runs of jobs at the stations, with their programmers and counts");
  sessions->add_option("--since", o.since, "Begun from this date, UTC time or age back (2026-12-11, 24h); default all");
}

bool RunLineCommand(CLI::App& app, const LineCommandOptions& o, EventOutput& output, int& status) {
  CLI::App* pool = app.get_subcommand("pool");
  if (pool->parsed()) {
    if (pool->get_subcommand("create")->parsed()) status = CreatePool(o, output);
    if (pool->get_subcommand("list")->parsed()) status = ShowPools(o, output, false);
    if (pool->get_subcommand("show")->parsed()) status = ShowPools(o, output, true);
    if (pool->get_subcommand("release")->parsed()) status = ReleaseNumber(o, output);
    return true;
  }
  if (app.get_subcommand("records")->parsed()) {
    status = ListRecords(o, output);
    return true;
  }
  if (app.get_subcommand("sessions")->parsed()) {
    status = ListSessions(o, output);
    return true;
  }
  return false;
}

}  // namespace velkor::cli
