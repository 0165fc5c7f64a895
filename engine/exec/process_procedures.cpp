#include "engine/exec/process_procedures.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/monitor_procedure.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"
#include "engine/exec/table_function_rows.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

ColumnType NChar(int length) { return ColumnType{SqlType::kNChar, length}; }
ColumnType Char(int length) { return ColumnType{SqlType::kChar, length}; }
ColumnType VarChar(int length) { return ColumnType{SqlType::kVarChar, length}; }

// Sessions with what blocks them: the holder of the gate each one waits for.
struct Process {
  SessionActivity activity;
  int blocked_by = 0;
};

std::vector<Process> Processes(EngineImpl& engine) {
  std::map<int, int> blockers;
  for (const LockWaits::GateState& gate : engine.Locks().Snapshot()) {
    for (int waiting : gate.waiting) blockers[waiting] = gate.holder;
  }
  std::vector<Process> processes;
  for (const SessionActivity& activity : engine.Sessions().Snapshot()) {
    auto blocker = blockers.find(activity.spid);
    processes.push_back({activity, blocker == blockers.end() ? 0 : blocker->second});
  }
  return processes;
}

std::string Status(const Process& process) {
  return process.activity.running && process.blocked_by == 0 ? "runnable" : "sleeping";
}

// sp_who's argument: a login, a spid, 'ACTIVE' (sessions not waiting for a
// command) or nothing. Throws 15007 for a login that does not exist.
struct ProcessFilter {
  std::optional<std::string> login;
  std::optional<int> spid;
  bool active_only = false;

  bool Keeps(const Process& process) const {
    if (spid && process.activity.spid != *spid) return false;
    if (login && !tsql::EqualsIgnoreCase(process.activity.login, *login)) return false;
    return !active_only || process.activity.running || process.blocked_by != 0;
  }
};

ProcessFilter ReadFilter(Session& session, const std::optional<std::string>& written) {
  ProcessFilter filter;
  if (!written) return filter;
  if (tsql::EqualsIgnoreCase(*written, "active")) {
    filter.active_only = true;
  } else if (!written->empty() && written->find_first_not_of("0123456789") == std::string::npos) {
    filter.spid = std::stoi(*written);
  } else {
    if (!session.Engine().Catalog().FindLogin(*written)) throw MakeError(15007, {*written});
    filter.login = *written;
  }
  return filter;
}

std::string BlockerText(int blocked_by, bool dotted) {
  if (blocked_by != 0) return std::to_string(blocked_by);
  return dotted ? "  .  " : "0";
}

void Who(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_who", given, {"@loginame"});
  ProcessFilter filter = ReadFilter(session, args[0]);
  ResultBuilder result({{"spid", ColumnType{SqlType::kSmallInt}},
                        {"ecid", ColumnType{SqlType::kSmallInt}},
                        {"status", NChar(30)},
                        {"loginame", NChar(128)},
                        {"hostname", NChar(128)},
                        {"blk", Char(5)},
                        {"dbname", NChar(128)},
                        {"cmd", NChar(16)}});
  for (const Process& process : Processes(session.Engine())) {
    if (!filter.Keeps(process)) continue;
    const SessionActivity& activity = process.activity;
    result.Add({std::int64_t{activity.spid}, std::int64_t{0}, Status(process), activity.login,
                activity.host, BlockerText(process.blocked_by, false), activity.database,
                activity.command});
  }
  result.Send(sink);
}

// `when` in local time, written by strftime's `format`.
std::string LocalTimeText(std::chrono::system_clock::time_point when, const char* format) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

// "MM/DD hh:mm:ss" in local time, as sp_who2 shows the last batch.
std::string LastBatchText(std::chrono::system_clock::time_point when) {
  return LocalTimeText(when, "%m/%d %H:%M:%S");
}

void Who2(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_who2", given, {"@loginame"});
  ProcessFilter filter = ReadFilter(session, args[0]);
  ResultBuilder result({{"SPID", Char(5)},
                        {"Status", VarChar(30)},
                        {"Login", VarChar(128)},
                        {"HostName", VarChar(128)},
                        {"BlkBy", Char(5)},
                        {"DBName", VarChar(128)},
                        {"Command", VarChar(16)},
                        {"CPUTime", ColumnType{SqlType::kInt}},
                        {"DiskIO", ColumnType{SqlType::kInt}},
                        {"LastBatch", VarChar(14)},
                        {"ProgramName", VarChar(128)},
                        {"SPID", Char(5)}});
  for (const Process& process : Processes(session.Engine())) {
    if (!filter.Keeps(process)) continue;
    const SessionActivity& activity = process.activity;
    std::string spid = std::to_string(activity.spid);
    // The engine keeps no per-session CPU or I/O counters.
    result.Add({spid, Status(process), activity.login,
                activity.host.empty() ? std::string("  .") : activity.host,
                BlockerText(process.blocked_by, true), activity.database, activity.command,
                std::int64_t{0}, std::int64_t{0}, LastBatchText(activity.last_batch),
                activity.program, spid});
  }
  result.Send(sink);
}

// sp_lock [@spid1 [, @spid2]]: each session's shared lock on its database,
// and the write lock (X) each holds or waits for on a database file.
void Lock(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_lock", given, {"@spid1", "@spid2"});
  auto spid_of = [](const std::optional<std::string>& text) -> std::optional<int> {
    if (!text) return std::nullopt;
    try {
      return std::stoi(*text);
    } catch (const std::exception&) {
      throw MakeError(245, {*text, "int"});
    }
  };
  std::optional<int> first = spid_of(args[0]);
  std::optional<int> second = spid_of(args[1]);
  auto wanted = [&](int spid) {
    return (!first && !second) || (first && *first == spid) || (second && *second == spid);
  };
  EngineImpl& engine = session.Engine();
  std::map<std::string, int> dbid_by_name;
  std::map<std::string, int> dbid_by_file;
  for (const catalog::DatabaseEntry& entry : engine.Catalog().Databases()) {
    dbid_by_name[tsql::ToLower(entry.name)] = entry.dbid;
    dbid_by_file[engine.DataFileOf(entry).string()] = entry.dbid;
  }
  ResultBuilder result({{"spid", ColumnType{SqlType::kSmallInt}},
                        {"dbid", ColumnType{SqlType::kSmallInt}},
                        {"ObjId", ColumnType{SqlType::kInt}},
                        {"IndId", ColumnType{SqlType::kSmallInt}},
                        {"Type", NChar(4)},
                        {"Resource", NChar(16)},
                        {"Mode", ColumnType{SqlType::kNVarChar, 8}},
                        {"Status", ColumnType{SqlType::kNVarChar, 5}}});
  auto add = [&](int spid, int dbid, const char* mode, const char* status) {
    result.Add({std::int64_t{spid}, std::int64_t{dbid}, std::int64_t{0}, std::int64_t{0},
                std::string("DB"), std::string(), std::string(mode), std::string(status)});
  };
  std::map<int, std::vector<std::pair<int, bool>>> writes;  // spid -> (dbid, granted)
  for (const LockWaits::GateState& gate : engine.Locks().Snapshot()) {
    auto dbid = dbid_by_file.find(gate.file);
    if (dbid == dbid_by_file.end()) continue;
    if (gate.holder != 0) writes[gate.holder].push_back({dbid->second, true});
    for (int waiting : gate.waiting) writes[waiting].push_back({dbid->second, false});
  }
  for (const SessionActivity& activity : engine.Sessions().Snapshot()) {
    if (!wanted(activity.spid)) continue;
    if (auto dbid = dbid_by_name.find(tsql::ToLower(activity.database));
        dbid != dbid_by_name.end()) {
      add(activity.spid, dbid->second, "S", "GRANT");
    }
    for (const auto& [dbid, granted] : writes[activity.spid]) {
      add(activity.spid, dbid, "X", granted ? "GRANT" : "WAIT");
    }
  }
  result.Send(sink);
}

void AppendText(std::string& out, const std::string& text) {
  AppendJsonString(out, reinterpret_cast<const unsigned char*>(text.data()),
                   static_cast<int>(text.size()));
}

// "YYYY-MM-DD hh:mm:ss.mmm" in local time, as datetime values are written.
std::string DateTimeText(std::chrono::system_clock::time_point when) {
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()) % 1000;
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis.count()));
  return LocalTimeText(when, "%Y-%m-%d %H:%M:%S") + fraction;
}

}  // namespace

std::string ProcessRowsJson(EngineImpl& engine) {
  std::map<std::string, int> dbid_by_name;
  for (const catalog::DatabaseEntry& entry : engine.Catalog().Databases())
    dbid_by_name[tsql::ToLower(entry.name)] = entry.dbid;
  std::string json = "[";
  for (const Process& process : Processes(engine)) {
    const SessionActivity& activity = process.activity;
    auto dbid = dbid_by_name.find(tsql::ToLower(activity.database));
    if (json.size() > 1) json += ",";
    json += "[" + std::to_string(activity.spid) + "," + std::to_string(process.blocked_by) + "," +
            std::to_string(dbid == dbid_by_name.end() ? 0 : dbid->second) + ",";
    const std::string texts[] = {DateTimeText(activity.login_time),
                                 DateTimeText(activity.last_batch),
                                 Status(process),
                                 activity.host,
                                 activity.program,
                                 activity.command,
                                 activity.login};
    for (const std::string& text : texts) {
      AppendText(json, text);
      json += ",";
    }
    json.back() = ']';
  }
  return json + "]";
}

bool RunProcessProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink) {
  if (name == "sp_who") {
    Who(session, arguments, sink);
  } else if (name == "sp_who2") {
    Who2(session, arguments, sink);
  } else if (name == "sp_lock") {
    Lock(session, arguments, sink);
  } else if (name == "sp_monitor") {
    Monitor(session, arguments, sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
