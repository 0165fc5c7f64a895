// BULKLOAD messages sent byte by byte to a real engine after INSERT BULK:
// what is answered for good data, for data the table cannot take and for a
// stream that cannot be read, and that the session goes on after each.
#include <gtest/gtest.h>

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

TEST_F(BulkLoadWire, InsertBulkNamesWhatIsWrongBeforeTheData) {
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk nosuch (id int)")), 208);
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk b (id int, nosuch int)")), 207);
  EXPECT_EQ(ErrorOf(client_.Batch("insert bulk b (id int) with (no_such_option)")), 170);
  // A refused INSERT BULK announces nothing.
  EXPECT_EQ(ErrorOf(Load(Stream({Row(1, "a")}))), 4002);
  EXPECT_EQ(Count(), 0);
}

}  // namespace
}  // namespace sqlengine::testing
