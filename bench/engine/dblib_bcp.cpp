// Bulk copy of the benchmark's four-column rows (id int, name, amount float,
// stamp datetime) through FreeTDS's DB-Library, without freebcp's costs:
//
//   dblib_bcp in  SERVER TABLE FILE BATCH   loads FILE (tab-separated, one
//                                           row a line) with the bcp API
//   dblib_bcp out SERVER TABLE FILE         writes SELECT * of TABLE to FILE
//
// SERVER names a freetds.conf entry; the login is sa with an empty password.
// In: the file is read whole, each field parsed where it lies, and the bound
// values (int, the name in UTF-16LE, double, DBDATETIME) go to the library
// as they are, so the client does what the server needs and no more. (The
// library passes the bytes of a character variable bound to an nvarchar
// column through unconverted, so the program gives it UTF-16LE itself.)
// BATCH rows make one batch (one transaction in the server); 0: one batch.
// Out: rows are fetched into natively typed variables and formatted here.
// Prints "N rows copied." like freebcp.
#include <sybdb.h>
#include <sybfront.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int OnError(DBPROCESS*, int severity, int dberr, int, char* text, char*) {
  std::fprintf(stderr, "dblib error %d (severity %d): %s\n", dberr, severity, text);
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int, int severity, char* text, char*, char*, int) {
  // 5701/5703: the database and language changes every login reports.
  if (severity > 10) std::fprintf(stderr, "server message %d: %s\n", number, text);
  return 0;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "dblib_bcp: %s\n", what);
  std::exit(1);
}

// Days from 1900-01-01 to the given civil date (proleptic Gregorian).
int DaysSince1900(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 693901;  // 693901: 1900-01-01 counted from 0000-03-01
}

void CivilFromDays(int days, int& year, int& month, int& day) {
  int z = days + 693901;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int doe = z - era * 146097;
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

int Digits(const char* p, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    if (p[i] < '0' || p[i] > '9') Fail("bad digit in a datetime");
    value = value * 10 + (p[i] - '0');
  }
  return value;
}

// "YYYY-MM-DD hh:mm:ss.fff" to days and 1/300 s ticks, rounded as the
// server rounds milliseconds.
DBDATETIME ParseDatetime(const char* p, std::size_t length) {
  if (length != 23) Fail("datetime not in the form YYYY-MM-DD hh:mm:ss.fff");
  DBDATETIME value;
  value.dtdays = DaysSince1900(Digits(p, 4), Digits(p + 5, 2), Digits(p + 8, 2));
  const long ms = ((Digits(p + 11, 2) * 60L + Digits(p + 14, 2)) * 60L + Digits(p + 17, 2)) * 1000L +
                  Digits(p + 20, 3);
  value.dttime = static_cast<DBINT>((ms * 3 + 5) / 10);
  return value;
}

DBPROCESS* Connect(const char* server, bool bulk) {
  if (dbinit() == FAIL) Fail("dbinit");
  dberrhandle(OnError);
  dbmsghandle(OnMessage);
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  DBSETLPACKET(login, 32767);
  if (bulk) BCP_SETL(login, TRUE);
  DBPROCESS* dbproc = dbopen(login, server);
  if (dbproc == nullptr) Fail("cannot connect");
  return dbproc;
}

// UTF-8 to UTF-16LE bytes; false for bytes that are no UTF-8.
bool ToUtf16(const char* text, std::size_t length, std::vector<BYTE>& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + length;
  auto unit = [&](unsigned value) {
    out.push_back(static_cast<BYTE>(value & 0xFF));
    out.push_back(static_cast<BYTE>(value >> 8));
  };
  while (p < end) {
    unsigned c = *p++;
    int more = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (more < 0 || end - p < more) return false;
    if (more > 0) c &= 0x3F >> more;
    for (; more > 0; --more) {
      if ((*p & 0xC0) != 0x80) return false;
      c = (c << 6) | (*p++ & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 | (c >> 10));
      unit(0xDC00 | (c & 0x3FF));
    } else {
      unit(c);
    }
  }
  return true;
}

std::vector<char> ReadFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) Fail("cannot open the file");
  std::vector<char> data;
  char chunk[1 << 16];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) data.insert(data.end(), chunk, chunk + n);
  std::fclose(file);
  return data;
}

long Load(DBPROCESS* dbproc, const char* table, const char* path, long batch) {
  std::vector<char> data = ReadFile(path);
  if (bcp_init(dbproc, table, nullptr, nullptr, DB_IN) == FAIL) Fail("bcp_init");
  DBINT id = 0;
  DBFLT8 amount = 0;
  DBDATETIME stamp{};
  std::vector<BYTE> name_utf16;
  static BYTE empty = 0;
  if (bcp_bind(dbproc, reinterpret_cast<BYTE*>(&id), 0, -1, nullptr, 0, SYBINT4, 1) == FAIL ||
      bcp_bind(dbproc, &empty, 0, 0, nullptr, 0, SYBCHAR, 2) == FAIL ||
      bcp_bind(dbproc, reinterpret_cast<BYTE*>(&amount), 0, -1, nullptr, 0, SYBFLT8, 3) == FAIL ||
      bcp_bind(dbproc, reinterpret_cast<BYTE*>(&stamp), 0, -1, nullptr, 0, SYBDATETIME, 4) == FAIL)
    Fail("bcp_bind");
  long rows = 0;
  const char* p = data.data();
  const char* end = p + data.size();
  auto field = [&](char terminator) {
    const char* start = p;
    const char* stop = static_cast<const char*>(std::memchr(p, terminator, static_cast<std::size_t>(end - p)));
    if (stop == nullptr) Fail("row cut short");
    p = stop + 1;
    return std::pair<const char*, std::size_t>(start, static_cast<std::size_t>(stop - start));
  };
  while (p < end) {
    auto [id_text, id_length] = field('\t');
    if (std::from_chars(id_text, id_text + id_length, id).ec != std::errc()) Fail("bad id");
    auto [name, name_length] = field('\t');
    if (!ToUtf16(name, name_length, name_utf16)) Fail("name not in UTF-8");
    bcp_colptr(dbproc, name_utf16.data(), 2);
    bcp_collen(dbproc, static_cast<DBINT>(name_utf16.size()), 2);
    auto [amount_text, amount_length] = field('\t');
    if (std::from_chars(amount_text, amount_text + amount_length, amount).ec != std::errc()) Fail("bad amount");
    auto [stamp_text, stamp_length] = field('\n');
    stamp = ParseDatetime(stamp_text, stamp_length);
    if (bcp_sendrow(dbproc) == FAIL) Fail("bcp_sendrow");
    ++rows;
    if (batch > 0 && rows % batch == 0 && bcp_batch(dbproc) == -1) Fail("bcp_batch");
  }
  if (bcp_done(dbproc) == -1) Fail("bcp_done");
  return rows;
}

long Export(DBPROCESS* dbproc, const char* table, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) Fail("cannot create the file");
  std::string query = std::string("SELECT * FROM ") + table;
  if (dbcmd(dbproc, query.c_str()) == FAIL || dbsqlexec(dbproc) == FAIL) Fail("SELECT failed");
  if (dbresults(dbproc) != SUCCEED || dbnumcols(dbproc) != 4) Fail("SELECT gave no four columns");
  DBINT id = 0;
  char name[256];
  DBFLT8 amount = 0;
  DBDATETIME stamp{};
  dbbind(dbproc, 1, INTBIND, 0, reinterpret_cast<BYTE*>(&id));
  dbbind(dbproc, 2, NTBSTRINGBIND, sizeof name, reinterpret_cast<BYTE*>(name));
  dbbind(dbproc, 3, FLT8BIND, 0, reinterpret_cast<BYTE*>(&amount));
  dbbind(dbproc, 4, DATETIMEBIND, 0, reinterpret_cast<BYTE*>(&stamp));
  std::vector<char> out;
  out.reserve(1 << 20);
  long rows = 0;
  char line[512];
  while (dbnextrow(dbproc) == REG_ROW) {
    char* q = line;
    q = std::to_chars(q, line + sizeof line, id).ptr;
    *q++ = '\t';
    const std::size_t name_length = std::strlen(name);
    std::memcpy(q, name, name_length);
    q += name_length;
    *q++ = '\t';
    q = std::to_chars(q, line + sizeof line, amount).ptr;
    int year, month, day;
    CivilFromDays(stamp.dtdays, year, month, day);
    const long ms = (stamp.dttime * 10L + 1) / 3;
    q += std::snprintf(q, 32, "\t%04d-%02d-%02d %02ld:%02ld:%02ld.%03ld\n", year, month, day, ms / 3600000,
                       ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    out.insert(out.end(), line, q);
    if (out.size() >= (1 << 20)) {
      std::fwrite(out.data(), 1, out.size(), file);
      out.clear();
    }
    ++rows;
  }
  std::fwrite(out.data(), 1, out.size(), file);
  if (std::fclose(file) != 0) Fail("cannot write the file");
  while (dbresults(dbproc) != NO_MORE_RESULTS) {
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (std::strcmp(argv[1], "in") == 0 && argc < 6)) {
    std::fprintf(stderr, "usage: dblib_bcp in SERVER TABLE FILE BATCH | out SERVER TABLE FILE\n");
    return 2;
  }
  const bool in = std::strcmp(argv[1], "in") == 0;
  DBPROCESS* dbproc = Connect(argv[2], in);
  const long rows = in ? Load(dbproc, argv[3], argv[4], std::atol(argv[5])) : Export(dbproc, argv[3], argv[4]);
  dbclose(dbproc);
  dbexit();
  std::printf("%ld rows copied.\n", rows);
  return 0;
}
