// BULKLOAD messages sent byte by byte to a real engine after INSERT BULK:
// what is answered for good data, for data the table cannot take and for a
// stream that cannot be read, and that the session goes on after each.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/tests/server/tds_client.h"
#include "engine/tests/tds/hex.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

// COLMETADATA (7.4) for id int and v varchar(10).
const std::vector<std::uint8_t> kMetadata =
    Hex("81 02 00 00 00 00 00 09 00 26 04 02 69 00 64 00"
        " 00 00 00 00 09 00 A7 0A 00 09 04 D0 00 34 01 76 00");

std::vector<std::uint8_t> Row(std::int32_t id, const std::string& v) {
  std::vector<std::uint8_t> row = {0xD1, 4};
  for (int shift = 0; shift < 32; shift += 8) row.push_back(static_cast<std::uint8_t>(id >> shift));
  row.push_back(static_cast<std::uint8_t>(v.size()));
  row.push_back(0);
  row.insert(row.end(), v.begin(), v.end());
  return row;
}

std::vector<std::uint8_t> Stream(const std::vector<std::vector<std::uint8_t>>& rows,
                                 bool with_done = true) {
  std::vector<std::uint8_t> body = kMetadata;
  for (const auto& row : rows) body.insert(body.end(), row.begin(), row.end());
  if (with_done) {
    std::vector<std::uint8_t> done = Hex("FD 00 00 00 00 00 00 00 00 00 00 00 00");
    body.insert(body.end(), done.begin(), done.end());
  }
  return body;
}

class BulkLoadWire : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.LoginOrFail();
    client_.Batch("create table b (id int, v varchar(5))");
  }

  void AnnounceLoad() {
    std::vector<Event> events = client_.Batch("insert bulk b ([id] int, [v] varchar(10))");
    ASSERT_EQ(TokenOrder(events), std::vector<Token>{Token::kDone});
    EXPECT_EQ(events[0].status, 0) << "no error, no count";
  }

  std::vector<Event> Load(const std::vector<std::uint8_t>& body, std::size_t packet_size = 512) {
    client_.Send(tds::PacketType::kBulkLoad, body, packet_size);
    std::optional<Response> response = client_.Receive();
    if (!response) {
      ADD_FAILURE() << "connection closed";
      return {};
    }
    return ParseTokens(response->body, client_.version());
  }

  std::int64_t Count() {
    std::vector<Event> rows = Only(client_.Batch("select count(*) from b"), Token::kRow);
    return rows.size() == 1 ? std::get<std::int64_t>(rows[0].values.at(0)) : -1;
  }

  // The single error of a response that ends in DONE(ERROR).
  static std::int32_t ErrorOf(const std::vector<Event>& events) {
    std::vector<Event> errors = Only(events, Token::kError);
    EXPECT_FALSE(events.empty());
    if (!events.empty()) {
      EXPECT_NE(events.back().status & tds::kDoneError, 0);
    }
    return errors.size() == 1 ? errors[0].number : -static_cast<std::int32_t>(errors.size());
  }

  testing_support::TestEngine engine_;
  TdsClient client_{engine_.Port()};
};

TEST_F(BulkLoadWire, RowsArriveInTheirColumnsWithTheirCount) {
  AnnounceLoad();
  // Over several 512-byte packets.
  std::vector<std::vector<std::uint8_t>> rows;
  for (int i = 0; i < 100; ++i) rows.push_back(Row(i, "r" + std::to_string(i % 10)));
  std::vector<Event> done = Load(Stream(rows));
  ASSERT_EQ(TokenOrder(done), std::vector<Token>{Token::kDone});
  EXPECT_EQ(done[0].status, tds::kDoneCount);
  EXPECT_EQ(done[0].count, 100u);
  std::vector<Event> check =
      Only(client_.Batch("select count(*), sum(id), max(v) from b"), Token::kRow);
  ASSERT_EQ(check.size(), 1u);
  EXPECT_EQ(check[0].values, (sqlengine::Row{std::int64_t{100}, std::int64_t{4950}, "r9"}));
}

TEST_F(BulkLoadWire, BadDataFailsTheWholeBatchAndTheSessionGoesOn) {
  // Too long for the table's varchar(5), though the stream declared 10.
  AnnounceLoad();
  EXPECT_EQ(ErrorOf(Load(Stream({Row(1, "fine"), Row(2, "toolong")}))), 4815);
  EXPECT_EQ(Count(), 0) << "row 1 rolled back with the batch";

  // Text that is no int, for the int column.
  client_.Batch("create table n (id int)");
  ASSERT_TRUE(Only(client_.Batch("insert bulk n (id varchar(10))"), Token::kError).empty());
  std::vector<std::uint8_t> text_for_int =
      Hex("81 01 00 00 00 00 00 09 00 A7 0A 00 09 04 D0 00 34 02 69 00 64 00 D1 03 00 61 62 63");
  EXPECT_EQ(ErrorOf(Load(text_for_int)), 245);

  // Cut inside a row.
  AnnounceLoad();
  std::vector<std::uint8_t> cut = Stream({Row(1, "a"), Row(2, "b")}, false);
  cut.resize(cut.size() - 2);
  EXPECT_EQ(ErrorOf(Load(cut)), 4002);

  // Data that no INSERT BULK announced.
  EXPECT_EQ(ErrorOf(Load(Stream({Row(3, "c")}))), 4002);

  // Metadata with a type code the protocol does not define.
  AnnounceLoad();
  std::vector<std::uint8_t> bad_type = Stream({Row(1, "a")});
  bad_type[9] = 0x99;
  EXPECT_EQ(ErrorOf(Load(bad_type)), 4816);

  EXPECT_EQ(Count(), 0);
  AnnounceLoad();
  std::vector<Event> done = Load(Stream({Row(7, "seven")}, false));
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back().count, 1u);
  EXPECT_EQ(Count(), 1);
}

// A message the client gives up before its end keeps none of the rows that
// arrived, even when they end exactly between two rows: given up by a last
// packet marked IGNORE (answered with a DONE(ERROR) alone) or by ATTENTION.
TEST_F(BulkLoadWire, AMessageGivenUpKeepsNoneOfItsRows) {
  // Whole rows in packets without EOM, then `last` (the packet ending it).
  auto send_unfinished = [&](const std::vector<std::uint8_t>& last) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (int i = 0; i < 40; ++i) rows.push_back(Row(i, "r"));
    std::vector<std::uint8_t> packets;
    std::uint8_t id = 1;
    tds::AppendPackets(Stream(rows, false), 512, 0, false, &id, packets,
                       tds::PacketType::kBulkLoad);
    packets.insert(packets.end(), last.begin(), last.end());
    client_.SendRaw(packets);
  };
  AnnounceLoad();
  send_unfinished({0x07, tds::kStatusEndOfMessage | tds::kStatusIgnore, 0, 8, 0, 0, 9, 0});
  std::optional<Response> ignored = client_.Receive();
  ASSERT_TRUE(ignored);
  std::vector<Event> done = ParseTokens(ignored->body, client_.version());
  ASSERT_EQ(TokenOrder(done), std::vector<Token>{Token::kDone});
  EXPECT_EQ(done[0].status, tds::kDoneError);
  EXPECT_EQ(Count(), 0);

  AnnounceLoad();
  send_unfinished({0x06, tds::kStatusEndOfMessage, 0, 8, 0, 0, 1, 0});
  ASSERT_TRUE(DrainUntilAttentionAck(client_));
  EXPECT_EQ(Count(), 0);

  AnnounceLoad();
  EXPECT_EQ(Load(Stream({Row(7, "seven")})).back().count, 1u);
  EXPECT_EQ(Count(), 1);
}

TEST_F(BulkLoadWire, TemporaryTablesAndOtherDatabasesTakeLoadsToo) {
  client_.Batch("create table #b (id int, v varchar(5))");
  client_.Batch("create database other");
  client_.Batch("create table other..b (id int, v varchar(5))");
  for (std::string table : {"#b", "other..b"}) {
    ASSERT_TRUE(
        Only(client_.Batch("insert bulk " + table + " (id int, v varchar(10))"), Token::kError)
            .empty())
        << table;
    std::vector<Event> done = Load(Stream({Row(1, "one"), Row(2, "two")}));
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back().count, 2u) << table;
    std::vector<Event> rows =
        Only(client_.Batch("select count(*) from " + table + " where v like 't%'"), Token::kRow);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].values.at(0), Value(std::int64_t{1})) << table;
  }
  // A login without rights in the database still loads its own #temp table.
  client_.Batch("create login plain with password = 'Plain1'\nexec sp_grantdbaccess 'plain'");
  TdsClient plain(engine_.Port());
  LoginOptions login;
  login.user = "plain";
  login.password = "Plain1";
  plain.LoginOrFail(login);
  plain.Batch("create table #own (id int, v varchar(5))");
  ASSERT_TRUE(Only(plain.Batch("insert bulk #own (id int, v varchar(10))"), Token::kError).empty());
  plain.Send(tds::PacketType::kBulkLoad, Stream({Row(1, "one")}));
  std::optional<Response> response = plain.Receive();
  ASSERT_TRUE(response);
  std::vector<Event> done = ParseTokens(response->body, plain.version());
  EXPECT_TRUE(Only(done, Token::kError).empty());
  EXPECT_EQ(Only(plain.Batch("select * from #own"), Token::kRow).size(), 1u);
}

// Rows are read as their packets arrive, so one batch may be larger than the
// largest request the engine assembles (64 MiB).
TEST_F(BulkLoadWire, BatchLargerThanARequestLoadsWhole) {
  client_.Batch("create table big (id int, v varbinary(8000))");
  ASSERT_TRUE(
      Only(client_.Batch("insert bulk big (id int, v varbinary(8000))"), Token::kError).empty());
  constexpr int kRows = 8400;  // 8,000 bytes each: past 64 MiB
  std::vector<std::uint8_t> body =
      Hex("81 02 00 00 00 00 00 09 00 26 04 02 69 00 64 00"
          " 00 00 00 00 09 00 A5 40 1F 01 76 00");
  body.reserve(body.size() + kRows * 8008 + 13);
  for (int id = 0; id < kRows; ++id) {
    body.push_back(0xD1);
    body.push_back(4);
    for (int shift = 0; shift < 32; shift += 8)
      body.push_back(static_cast<std::uint8_t>(id >> shift));
    body.push_back(0x40);
    body.push_back(0x1F);
    body.insert(body.end(), 8000, static_cast<std::uint8_t>(id));
  }
  ASSERT_GT(body.size(), std::size_t{64} << 20);
  std::vector<Event> done = Load(body, 4096);
  ASSERT_FALSE(done.empty());
  EXPECT_TRUE(Only(done, Token::kError).empty());
  EXPECT_EQ(done.back().count, static_cast<std::uint64_t>(kRows));
  std::vector<Event> check =
      Only(client_.Batch("select count(*), sum(id), max(datalength(v)) from big"), Token::kRow);
  ASSERT_EQ(check.size(), 1u);
  EXPECT_EQ(check[0].values,
            (sqlengine::Row{std::int64_t{kRows}, std::int64_t{kRows * (kRows - 1) / 2},
                            std::int64_t{8000}}));
}

// Triggers fire for a load only with FIRE_TRIGGERS: once for the message's
// rows, inside its transaction, so a trigger's error takes the rows back.
TEST_F(BulkLoadWire, FireTriggersRunsTheInsertTriggersOncePerBatch) {
  client_.Batch("create table log (n int, low int)");
  ASSERT_TRUE(Only(client_.Batch("create trigger b_log on b after insert as "
                                 "insert into log select count(*), min(id) from inserted"),
                   Token::kError)
                  .empty());
  AnnounceLoad();
  ASSERT_TRUE(Only(Load(Stream({Row(1, "a"), Row(2, "b")})), Token::kError).empty());
  EXPECT_TRUE(Only(client_.Batch("select * from log"), Token::kRow).empty())
      << "no trigger without FIRE_TRIGGERS";

  auto announce = [&] {
    ASSERT_TRUE(
        Only(client_.Batch("insert bulk b ([id] int, [v] varchar(10)) with (fire_triggers)"),
             Token::kError)
            .empty());
  };
  announce();
  std::vector<Event> done = Load(Stream({Row(5, "c"), Row(3, "d"), Row(4, "e")}));
  EXPECT_TRUE(Only(done, Token::kError).empty());
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back().count, 3u);
  std::vector<Event> logged = Only(client_.Batch("select n, low from log"), Token::kRow);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].values, (sqlengine::Row{std::int64_t{3}, std::int64_t{3}}));

  client_.Batch(
      "create trigger b_refuse on b after insert as "
      "if exists (select * from inserted where id = 99) "
      "begin raiserror('no 99', 16, 1) rollback transaction end");
  announce();
  std::vector<Event> refused = Load(Stream({Row(6, "f"), Row(99, "g")}));
  std::vector<Event> errors = Only(refused, Token::kError);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0].text, "no 99");
  EXPECT_EQ(Count(), 5) << "the refused batch left no row";
  EXPECT_EQ(Only(client_.Batch("select * from log"), Token::kRow).size(), 1u);
  announce();
  ASSERT_TRUE(Only(Load(Stream({Row(7, "h")})), Token::kError).empty());
  EXPECT_EQ(Count(), 6) << "the session goes on";
}

// Column descriptions and values of a BULKLOAD message, built by hand.
class WireRows {
 public:
  // Adds a column: its TYPE_INFO bytes and its name.
  WireRows& Column(std::vector<std::uint8_t> type_info, const std::string& name) {
    columns_++;
    Append(metadata_, {0, 0, 0, 0, 0x09, 0x00});  // user type, flags: nullable
    Append(metadata_, type_info);
    metadata_.push_back(static_cast<std::uint8_t>(name.size()));
    for (char c : name) Append(metadata_, {static_cast<std::uint8_t>(c), 0});
    return *this;
  }
  void Row(const std::vector<std::vector<std::uint8_t>>& values) {
    rows_.push_back(0xD1);
    for (const auto& value : values) Append(rows_, value);
  }
  std::vector<std::uint8_t> Body() const {
    std::vector<std::uint8_t> body = {0x81, static_cast<std::uint8_t>(columns_), 0};
    Append(body, metadata_);
    Append(body, rows_);
    return body;
  }

  static std::vector<std::uint8_t> Int(std::int64_t value, int size = 4) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(size)};
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return bytes;
  }
  static std::vector<std::uint8_t> Float(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Int(static_cast<std::int64_t>(bits), 8);
  }
  // A money value in ten-thousandths.
  static std::vector<std::uint8_t> Money(std::int64_t units) {
    std::vector<std::uint8_t> high = Int(units >> 32), low = Int(units & 0xFFFFFFFF);
    return {8, high[1], high[2], high[3], high[4], low[1], low[2], low[3], low[4]};
  }
  // A DATETIMN value: days since 1900-01-01 and three-hundredths of a second.
  static std::vector<std::uint8_t> DateTime(int y, int m, int d, std::int64_t ticks) {
    std::vector<std::uint8_t> days = Int(Days(y, m, d) - Days(1900, 1, 1)), time = Int(ticks);
    return {8, days[1], days[2], days[3], days[4], time[1], time[2], time[3], time[4]};
  }
  // A DATETIME2N(4) value: ten-thousandths of a second into the day.
  static std::vector<std::uint8_t> DateTime2(int y, int m, int d, std::int64_t units) {
    std::vector<std::uint8_t> time = Int(units), days = Int(Days(y, m, d) - Days(1, 1, 1));
    return {7, time[1], time[2], time[3], time[4], days[1], days[2], days[3]};
  }
  static std::vector<std::uint8_t> VarChar(const std::string& text) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(text.size()), 0};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
  }
  static std::vector<std::uint8_t> Null(bool character = false) {
    return character ? std::vector<std::uint8_t>{0xFF, 0xFF} : std::vector<std::uint8_t>{0};
  }

 private:
  // Days of the proleptic Gregorian calendar, counted from an era start.
  static std::int64_t Days(int y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t year_of_era = y - era * 400;
    std::int64_t day_of_year = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  }
  static void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
  }
  int columns_ = 0;
  std::vector<std::uint8_t> metadata_, rows_;
};

const std::vector<std::uint8_t> kIntType = Hex("26 04"), kFloatType = Hex("6D 08"),
                                kDateTimeType = Hex("6F 08"), kDateTime2Type = Hex("2A 04"),
                                kMoneyType = Hex("6E 08"),
                                kVarCharType = Hex("A7 14 00 09 04 D0 00 34");

// What a load stores is what INSERT stores, whether the table's own checks
// of its values run for each row or are known to pass: values rounded to
// their column's type, a default brought into form, CHECK, computed and
// identity columns, and the table's trigger, which writes too.
TEST_F(BulkLoadWire, LoadsStoreWhatInsertStores) {
  // Two tables of each kind: `bulk_*` loaded, `insert_*` given the same rows
  // by INSERT. The second kind's rowversion and identity seed make every
  // row's checks run.
  const std::string columns =
      "k int, d datetime, sd smalldatetime, f float, n int check (n < 1000), "
      "v varchar(6) default 'dflt', m money, e datetime default '20240105', c as n * 2";
  for (std::string table : {"bulk_plain", "insert_plain"})
    client_.Batch("create table " + table + " (id int identity(1, 1), " + columns + ")");
  for (std::string table : {"bulk_versioned", "insert_versioned"})
    client_.Batch("create table " + table + " (id int identity(100, 5), " + columns +
                  ", rv timestamp)");
  client_.Batch("create table loaded (tab varchar(20), n int, at datetime)");
  for (std::string table : {"bulk_plain", "bulk_versioned"}) {
    ASSERT_TRUE(Only(client_.Batch("create trigger " + table + "_log on " + table +
                                   " after insert as insert into loaded select '" + table +
                                   "', count(*), '20240101 10:00' from inserted"),
                     Token::kError)
                    .empty());
  }

  WireRows rows;
  rows.Column(kIntType, "k")
      .Column(kDateTime2Type, "d")
      .Column(kDateTimeType, "sd")
      .Column(kFloatType, "f")
      .Column(kIntType, "n")
      .Column(kVarCharType, "v")
      .Column(kMoneyType, "m")
      .Column(kDateTimeType, "e");
  // 2024-02-29 23:59:59.999 rounds into March; 12:34:31 to the next minute.
  rows.Row({WireRows::Int(1), WireRows::DateTime2(2024, 2, 29, 863'999'990),
            WireRows::DateTime(2024, 1, 1, (12 * 3600 + 34 * 60 + 31) * 300), WireRows::Float(1.5),
            WireRows::Int(5), WireRows::VarChar("abc"), WireRows::Money(12345),
            WireRows::DateTime(2024, 6, 1, 0)});
  rows.Row({WireRows::Int(2), WireRows::DateTime2(1999, 12, 31, 360'000'010),
            WireRows::DateTime(2024, 1, 1, (12 * 3600 + 34 * 60 + 29) * 300 + 299),
            WireRows::Float(-2), WireRows::Int(999), WireRows::VarChar("x"),
            WireRows::Money(-50000), WireRows::DateTime(1753, 1, 1, 1)});
  // No value where defaults stand: they are written as declared, then fitted.
  rows.Row({WireRows::Int(3), WireRows::Null(), WireRows::Null(), WireRows::Null(),
            WireRows::Null(), WireRows::Null(true), WireRows::Null(), WireRows::Null()});
  for (std::string kind : {"plain", "versioned"}) {
    ASSERT_TRUE(Only(client_.Batch("insert bulk bulk_" + kind +
                                   " (k int, d datetime2(4), sd datetime, f float, n int, "
                                   "v varchar(20), m money, e datetime) with (fire_triggers)"),
                     Token::kError)
                    .empty());
    std::vector<Event> done = Load(rows.Body());
    EXPECT_TRUE(Only(done, Token::kError).empty()) << kind;
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back().count, 3u) << kind;
    for (std::string values : {"(1, '2024-02-29 23:59:59.999', '2024-01-01 12:34:31', 1.5, 5, "
                               "'abc', 1.2345, '20240601')",
                               "(2, '1999-12-31 10:00:00.001', '2024-01-01 12:34:29.997', -2, "
                               "999, 'x', -5, '1753-01-01 00:00:00.003')",
                               "(3, null, null, null, null, default, null, default)"}) {
      EXPECT_TRUE(Only(client_.Batch("insert insert_" + kind + " (k, d, sd, f, n, v, m, e) "
                                     "values " + values),
                       Token::kError)
                      .empty())
          << values;
    }
    // The same stored values, compared as stored, and the same rows in
    // every way a reader sees them.
    std::vector<Event> same = Only(
        client_.Batch("select count(*) from bulk_" + kind + " b join insert_" + kind +
                      " i on b.id = i.id and b.k = i.k and isnull(b.d, 0) = isnull(i.d, 0) "
                      "and isnull(b.sd, 0) = isnull(i.sd, 0) and isnull(b.f, 0) = isnull(i.f, 0) "
                      "and isnull(b.n, 0) = isnull(i.n, 0) and b.v = i.v "
                      "and isnull(b.m, 0) = isnull(i.m, 0) and b.e = i.e "
                      "and isnull(b.c, 0) = isnull(i.c, 0)"),
        Token::kRow);
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0].values.at(0), Value(std::int64_t{3})) << kind;
    std::vector<Event> loaded = Only(
        client_.Batch("select id, k, convert(varchar(23), d, 121), convert(varchar(23), sd, 121), "
                      "f, n, v, m, convert(varchar(23), e, 121), c from bulk_" + kind +
                      " order by k"),
        Token::kRow);
    std::vector<Event> expected = Only(
        client_.Batch("select id, k, convert(varchar(23), d, 121), convert(varchar(23), sd, 121), "
                      "f, n, v, m, convert(varchar(23), e, 121), c from insert_" + kind +
                      " order by k"),
        Token::kRow);
    ASSERT_EQ(loaded.size(), 3u) << kind;
    for (std::size_t i = 0; i < loaded.size(); ++i)
      EXPECT_EQ(loaded[i].values, expected[i].values) << kind << " row " << i;
    EXPECT_EQ(loaded[0].values.at(2), Value(std::string("2024-03-01 00:00:00.000")));
    EXPECT_EQ(loaded[2].values.at(8), Value(std::string("2024-01-05 00:00:00.000")));
  }
  std::vector<Event> versions = Only(
      client_.Batch("select count(distinct rv), min(id), max(id) from bulk_versioned"),
      Token::kRow);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0].values,
            (sqlengine::Row{std::int64_t{3}, std::int64_t{100}, std::int64_t{110}}));
  // The trigger's own row went through its table's checks: its datetime is
  // stored as INSERT stores one.
  std::vector<Event> logged = Only(
      client_.Batch("declare @at datetime set @at = '2024-01-01 10:00' "
                    "select tab, n from loaded where at = @at order by tab"),
      Token::kRow);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].values, (sqlengine::Row{"bulk_plain", std::int64_t{3}}));
  EXPECT_EQ(logged[1].values, (sqlengine::Row{"bulk_versioned", std::int64_t{3}}));
}

// A row that fails ends the load with its error and nothing of it stays,
// and the connection's writes are checked as before afterwards.
TEST_F(BulkLoadWire, AFailingRowLeavesNothingAndLaterWritesAreChecked) {
  client_.Batch("create table dates (k int, d datetime, v varchar(3))");
  auto load_dates = [&](int year) {
    EXPECT_TRUE(Only(client_.Batch("insert bulk dates (k int, d datetime2(4), v varchar(20))"),
                     Token::kError)
                    .empty());
    WireRows rows;
    rows.Column(kIntType, "k").Column(kDateTime2Type, "d").Column(kVarCharType, "v");
    rows.Row({WireRows::Int(1), WireRows::DateTime2(2020, 1, 1, 0), WireRows::VarChar("a")});
    rows.Row({WireRows::Int(2), WireRows::DateTime2(year, 1, 1, 0), WireRows::VarChar("b")});
    return ErrorOf(Load(rows.Body()));
  };
  EXPECT_EQ(load_dates(1000), 242) << "before datetime's range";
  EXPECT_EQ(Only(client_.Batch("select * from dates"), Token::kRow).size(), 0u);
  // Written by INSERT, a datetime in another form and a text too long.
  client_.Batch("insert dates values (3, '20240101', 'abc')");
  EXPECT_EQ(ErrorOf(client_.Batch("insert dates values (4, '20240101', 'abcd')")), 8152);
  std::vector<Event> stored = Only(
      client_.Batch("select count(*) from dates where d = '2024-01-01 00:00:00.000'"), Token::kRow);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].values.at(0), Value(std::int64_t{1}));

  // Defaults that are not in their column's form: a fraction for an int,
  // a text too long for its column. The rows before take none.
  client_.Batch("create table defaults (k int, i int default 1.7, v varchar(3) default 'toolong')");
  auto load_defaults = [&](bool null_v) {
    EXPECT_TRUE(Only(client_.Batch("insert bulk defaults (k int, i int, v varchar(20))"),
                     Token::kError)
                    .empty());
    WireRows rows;
    rows.Column(kIntType, "k").Column(kIntType, "i").Column(kVarCharType, "v");
    rows.Row({WireRows::Int(1), WireRows::Int(5), WireRows::VarChar("a")});
    rows.Row({WireRows::Int(2), WireRows::Null(),
              null_v ? WireRows::Null(true) : WireRows::VarChar("b")});
    return Load(rows.Body());
  };
  EXPECT_EQ(ErrorOf(load_defaults(true)), 8152);
  EXPECT_EQ(Only(client_.Batch("select * from defaults"), Token::kRow).size(), 0u);
  EXPECT_TRUE(Only(load_defaults(false), Token::kError).empty());
  std::vector<Event> defaulted =
      Only(client_.Batch("select k from defaults where i = 1 and v = 'b'"), Token::kRow);
  ASSERT_EQ(defaulted.size(), 1u);
  EXPECT_EQ(defaulted[0].values.at(0), Value(std::int64_t{2}));

  // A float that is no number: refused, not stored as NULL.
  client_.Batch("create table floats (f float)");
  ASSERT_TRUE(Only(client_.Batch("insert bulk floats (f float)"), Token::kError).empty());
  WireRows floats;
  floats.Column(kFloatType, "f");
  floats.Row({WireRows::Float(1.5)});
  floats.Row({WireRows::Float(std::numeric_limits<double>::quiet_NaN())});
  EXPECT_EQ(ErrorOf(Load(floats.Body())), 8115);
  EXPECT_EQ(Only(client_.Batch("select * from floats"), Token::kRow).size(), 0u);

  // An identity past its type's range: the third row's.
  client_.Batch("create table counted (id int identity(2147483646, 1), k int)");
  ASSERT_TRUE(Only(client_.Batch("insert bulk counted (k int)"), Token::kError).empty());
  WireRows three;
  three.Column(kIntType, "k");
  for (int k = 1; k <= 3; ++k) three.Row({WireRows::Int(k)});
  EXPECT_EQ(ErrorOf(Load(three.Body())), 8115);
  EXPECT_EQ(Only(client_.Batch("select * from counted"), Token::kRow).size(), 0u);
  client_.Batch("insert counted (k) values (1)");
  client_.Batch("insert counted (k) values (2)");
  EXPECT_EQ(ErrorOf(client_.Batch("insert counted (k) values (3)")), 8115);
  // Values the table's int column cannot hold, sent as bigint.
  ASSERT_TRUE(Only(client_.Batch("insert bulk dates (k bigint)"), Token::kError).empty());
  WireRows big;
  big.Column(Hex("26 08"), "k");
  big.Row({WireRows::Int(7, 8)});
  big.Row({WireRows::Int(std::int64_t{1} << 40, 8)});
  EXPECT_EQ(ErrorOf(Load(big.Body())), 8115);
  EXPECT_EQ(Only(client_.Batch("select * from dates"), Token::kRow).size(), 1u);
}

// Rows go in in the order they come, whichever way each is inserted, and
// of several bad rows the first is the one answered.
TEST_F(BulkLoadWire, RowsGoInInTheirOrderAndTheFirstBadOneIsAnswered) {
  client_.Batch(
      "create table ordered (id int identity(1, 1), k int check (k < 1000), "
      "v varchar(3) default 'd')");
  auto announce = [&](const std::string& options) {
    ASSERT_TRUE(Only(client_.Batch("insert bulk ordered (k int, v varchar(20))" + options),
                     Token::kError)
                    .empty());
  };
  auto rows = [](const std::vector<std::pair<int, const char*>>& values) {
    WireRows wire;
    wire.Column(kIntType, "k").Column(kVarCharType, "v");
    for (const auto& [k, v] : values)
      wire.Row({WireRows::Int(k), v ? WireRows::VarChar(v) : WireRows::Null(true)});
    return wire.Body();
  };
  // Row 21 leaves v to its default.
  std::vector<std::pair<int, const char*>> forty;
  for (int k = 1; k <= 40; ++k) forty.emplace_back(k, k == 21 ? nullptr : "v");
  announce("");
  std::vector<Event> done = Load(rows(forty));
  EXPECT_TRUE(Only(done, Token::kError).empty());
  std::vector<Event> check = Only(
      client_.Batch("select count(*), sum(case when v = 'd' then k end) from ordered where id = k"),
      Token::kRow);
  ASSERT_EQ(check.size(), 1u);
  EXPECT_EQ(check[0].values, (sqlengine::Row{std::int64_t{40}, std::int64_t{21}}));

  // Row 3 breaks the CHECK, row 5 is too long for v: the CHECK is answered,
  // as it is when row 5 cannot even be read.
  client_.Batch("truncate table ordered");
  announce(" with (check_constraints)");
  EXPECT_EQ(ErrorOf(Load(rows({{1, "a"}, {2, "b"}, {3000, "c"}, {4, "d"}, {5, "eeee"}}))), 547);
  announce(" with (check_constraints)");
  std::vector<std::uint8_t> cut = rows({{1, "a"}, {2, "b"}, {3000, "c"}, {4, "d"}, {5, "e"}});
  cut.resize(cut.size() - 2);
  EXPECT_EQ(ErrorOf(Load(cut)), 547);
  announce(" with (check_constraints)");
  EXPECT_EQ(ErrorOf(Load(rows({{1, "a"}, {2, "bbbb"}, {3000, "c"}}))), 4815);
  EXPECT_EQ(Only(client_.Batch("select * from ordered"), Token::kRow).size(), 0u);
}

TEST_F(BulkLoadWire, InsertBulkNamesWhatIsWrongBeforeTheData) {
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk nosuch (id int)")), 208);
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk b (id int, nosuch int)")), 207);
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk b (id int) with (no_such_option)")), 170);
  // SQLite would keep one of a twice-named column's values and drop the other.
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk b (id int, ID int)")), 8180);
  for (const char* malformed :
       {"insert bulk b (", "insert bulk b (id", "insert bulk b (id int", "insert bulk b ()",
        "insert bulk b (id int,)", "insert bulk b (id int) with (order (id", "insert bulk",
        "insert bulk a.b.c.d (id int)", "insert bulk b (id int) with (rows_per_batch = x)",
        "insert bulk b (id varchar(10) collate)) extra"}) {
    EXPECT_NE(ErrorOf(client_.Batch(malformed)), 0) << malformed;
  }
  // A refused INSERT BULK announces nothing.
  EXPECT_EQ(ErrorOf(Load(Stream({Row(1, "a")}))), 4002);
  EXPECT_EQ(Count(), 0);
}

// A session's batches after the first take the table as the last INSERT
// BULK found it only while nothing changed it: a table made again with its
// columns the other way round, or INSERT taken from the login, is seen at
// the next batch.
TEST_F(BulkLoadWire, EachBatchLoadsTheTableAsItIsNow) {
  client_.Batch(
      "create login loader with password = 'Loader1'\n"
      "exec sp_grantdbaccess 'loader'\n"
      "grant insert, select on b to loader");
  TdsClient loader{engine_.Port()};
  LoginOptions as_loader;
  as_loader.user = "loader";
  as_loader.password = "Loader1";
  loader.LoginOrFail(as_loader);
  auto load = [&](std::int32_t id) {
    loader.Batch("insert bulk b ([id] int, [v] varchar(10))");
    loader.Send(tds::PacketType::kBulkLoad, Stream({Row(id, "x" + std::to_string(id))}), 512);
    std::optional<Response> response = loader.Receive();
    return response ? ParseTokens(response->body, loader.version()) : std::vector<Event>{};
  };
  EXPECT_EQ(Only(load(1), Token::kError).size(), 0u);
  client_.Batch(
      "drop table b\n"
      "create table b (v varchar(5), id int)\n"
      "grant insert, select on b to loader");
  EXPECT_EQ(Only(load(2), Token::kError).size(), 0u);
  std::vector<Event> rows = Only(client_.Batch("select id, v from b"), Token::kRow);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values, (sqlengine::Row{std::int64_t{2}, "x2"}));
  client_.Batch("revoke insert on b from loader");
  std::vector<Event> refused = loader.Batch("insert bulk b ([id] int, [v] varchar(10))");
  ASSERT_EQ(Only(refused, Token::kError).size(), 1u);
  EXPECT_EQ(Only(refused, Token::kError)[0].number, 229);
}

}  // namespace
}  // namespace sqlengine::testing
