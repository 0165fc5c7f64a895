// Reading dates from text: the forms, the orders, the rounding and which
// error a bad text gives. The script tests cover the same over the wire;
// these cover the corners a script would make unreadable.
#include "engine/values/date_text.h"

#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/values/date_style_text.h"

namespace sqlengine::values {
namespace {

std::string Read(std::string_view text, DateOrder order = DateOrder::kMdy,
                 DateKind kind = DateKind::kDateTime) {
  try {
    return DateTimeStyled(DateTimeFromText(text, kind, order), 121);
  } catch (const SqlError& error) {
    return "error " + std::to_string(error.message().number);
  }
}

TEST(DateText, TimeMayStandBeforeOrAfterTheDateAndBlanksAroundAreIgnored) {
  EXPECT_EQ(Read("  10:30 1/2/2003 "), "2003-01-02 10:30:00.000");
  EXPECT_EQ(Read("1/2/2003 10:30"), "2003-01-02 10:30:00.000");
  EXPECT_EQ(Read("Jan 2 2003 10:30PM"), "2003-01-02 22:30:00.000");
  EXPECT_EQ(Read("10 AM Jan 2 2003"), "2003-01-02 10:00:00.000");
  EXPECT_EQ(Read("1/2/2003 10:30 1/2/2003"), "error 241");
  EXPECT_EQ(Read("1/2/200310:30"), "error 241");
}

TEST(DateText, MonthNamesTakeTheFourDigitNumberAsTheYear) {
  EXPECT_EQ(Read("1996 15 apr"), "1996-04-15 00:00:00.000");
  EXPECT_EQ(Read("15 1996 April"), "1996-04-15 00:00:00.000");
  EXPECT_EQ(Read("April 15 96"), "1996-04-15 00:00:00.000");
  EXPECT_EQ(Read("SEPTEMBER 3, 2049"), "2049-09-03 00:00:00.000");
  EXPECT_EQ(Read("Apr 15"), "error 241");
  EXPECT_EQ(Read("Apr 1996 15 3"), "error 241");
  EXPECT_EQ(Read("Apri 15 1996"), "error 241");
  EXPECT_EQ(Read("Feb 30 1996"), "error 242");
}

TEST(DateText, AFourDigitYearFirstKeepsTheOrdersMonthDaySense) {
  EXPECT_EQ(Read("2003-04-05", DateOrder::kMdy), "2003-04-05 00:00:00.000");
  EXPECT_EQ(Read("2003-04-05", DateOrder::kMyd), "2003-04-05 00:00:00.000");
  EXPECT_EQ(Read("2003-04-05", DateOrder::kDmy), "2003-05-04 00:00:00.000");
  EXPECT_EQ(Read("2003-04-05", DateOrder::kDym), "2003-05-04 00:00:00.000");
  EXPECT_EQ(Read("04/05/03", DateOrder::kYmd), "2004-05-03 00:00:00.000");
  EXPECT_EQ(Read("04/05/03", DateOrder::kYdm), "2004-03-05 00:00:00.000");
  // The ISO 8601 form and unseparated digits ignore the order.
  EXPECT_EQ(Read("2003-04-05T06:07:08", DateOrder::kDmy), "2003-04-05 06:07:08.000");
  EXPECT_EQ(Read("20030405", DateOrder::kDym), "2003-04-05 00:00:00.000");
}

TEST(DateText, SeparatorsMustAgreeAndFieldsKeepTheirWidths) {
  EXPECT_EQ(Read("1/2-2003"), "error 241");
  EXPECT_EQ(Read("001/2/2003"), "error 241");
  EXPECT_EQ(Read("1/2/20031"), "error 241");
  EXPECT_EQ(Read("1234567"), "error 241");
  EXPECT_EQ(Read("10:300"), "error 241");
  EXPECT_EQ(Read("10:30:15:1234"), "error 241");
  EXPECT_EQ(Read("10:"), "error 241");
  EXPECT_EQ(Read("10:60"), "error 241");
  EXPECT_EQ(Read("2003-04-05T06:07:08.x"), "error 241");
}

TEST(DateText, FractionsRoundToDatetimeTicks) {
  // .xx0/.xx1 -> 0, .xx2-.xx4 -> 3, .xx5-.xx8 -> 7, .xx9 -> next 0.
  EXPECT_EQ(Read("10:00:00.991"), "1900-01-01 10:00:00.990");
  EXPECT_EQ(Read("10:00:00.994"), "1900-01-01 10:00:00.993");
  EXPECT_EQ(Read("10:00:00.998"), "1900-01-01 10:00:00.997");
  EXPECT_EQ(Read("10:00:59.999"), "1900-01-01 10:01:00.000");
  EXPECT_EQ(Read("10:00:00.001"), "1900-01-01 10:00:00.000");
  // Past thousandths the text is no datetime, after a period as after a colon.
  EXPECT_EQ(Read("10:00:00.0015"), "error 241");
  EXPECT_EQ(Read("2003-04-05T06:07:08.1234"), "error 241");
  EXPECT_EQ(Read("10:00:00.12"), "1900-01-01 10:00:00.120");
  EXPECT_EQ(Read("10:00:00:12"), "1900-01-01 10:00:00.013");
}

TEST(DateText, SmalldatetimeRoundsToTheMinuteInsideItsRange) {
  auto small = [](std::string_view text) {
    return Read(text, DateOrder::kMdy, DateKind::kSmallDateTime);
  };
  EXPECT_EQ(small("2000-01-01 23:59:30"), "2000-01-02 00:00:00.000");
  EXPECT_EQ(small("2000-01-01 23:59:29.998"), "2000-01-01 23:59:00.000");
  EXPECT_EQ(small("1900-01-01"), "1900-01-01 00:00:00.000");
  EXPECT_EQ(small("2079-06-06 23:59:29"), "2079-06-06 23:59:00.000");
  EXPECT_EQ(small("2079-06-06 23:59:30"), "error 296");
  EXPECT_EQ(small("2079-06-07"), "error 296");
  EXPECT_EQ(small("1899-12-31 23:59:59"), "1900-01-01 00:00:00.000");
  EXPECT_EQ(small("1899-12-31 23:59:29"), "error 296");
}

TEST(DateText, RoundingAStoredValueKeepsTheRangeChecked) {
  EXPECT_EQ(RoundedToKind(DateTime{2001, 1, 1, 0, 0, 0, 2}, DateKind::kDateTime),
            (DateTime{2001, 1, 1, 0, 0, 0, 3}));
  EXPECT_THROW(RoundedToKind(DateTime{9999, 12, 31, 23, 59, 59, 999}, DateKind::kDateTime),
               SqlError);
  EXPECT_EQ(RoundedToKind(DateTime{2001, 1, 1, 10, 0, 31, 0}, DateKind::kSmallDateTime),
            (DateTime{2001, 1, 1, 10, 1, 0, 0}));
}

TEST(DateText, DateOrderNamesAreTheSixOrdersInAnyCase) {
  EXPECT_EQ(DateOrderNamed("DMY"), DateOrder::kDmy);
  EXPECT_EQ(DateOrderNamed("ydm"), DateOrder::kYdm);
  EXPECT_EQ(DateOrderNamed("dmyy"), std::nullopt);
  EXPECT_EQ(DateOrderNamed(""), std::nullopt);
}

TEST(DateStyleText, EveryStyleReadsBackWhatItWrites) {
  const DateTime when{1999, 11, 28, 23, 4, 5, 997};
  for (int style :
       {0,   1,   2,   3,   4,   5,   6,   7,   9,   10,  11,  12,  13,  20,  21,  100,
        101, 102, 103, 104, 105, 106, 107, 109, 110, 111, 112, 113, 120, 121, 126, 130, 131}) {
    std::string text = DateTimeStyled(when, style);
    DateTime back = DateTimeFromStyledText(text, style, DateKind::kDateTime, DateOrder::kYdm);
    EXPECT_EQ(back.year, 1999) << style << " " << text;
    EXPECT_EQ(back.month, 11) << style << " " << text;
    EXPECT_EQ(back.day, 28) << style << " " << text;
  }
}

TEST(DateStyleText, TimeStylesAndUnknownStyles) {
  const DateTime when{2001, 2, 3, 0, 5, 6, 70};
  EXPECT_EQ(DateTimeStyled(when, 0), "Feb  3 2001 12:05AM");
  EXPECT_EQ(DateTimeStyled(when, 109), "Feb  3 2001 12:05:06:070AM");
  EXPECT_EQ(DateTimeStyled(when, 14), "00:05:06:070");
  EXPECT_EQ(DateTimeStyled(when, 8), "00:05:06");
  for (int style : {15, 19, 22, 99, 115, 127, 132, -1}) {
    EXPECT_THROW(DateTimeStyled(when, style), SqlError) << style;
  }
}

TEST(DateStyleText, HijriTextNeedsAnExistingHijriDay) {
  auto read = [](std::string_view text) {
    return DateTimeStyled(DateTimeFromStyledText(text, 131, DateKind::kDateTime, DateOrder::kMdy),
                          121);
  };
  EXPECT_EQ(read("17/10/1422"), "2002-01-01 00:00:00.000");
  EXPECT_EQ(read("17/10/1422 1:02:03:004PM"), "2002-01-01 13:02:03.003");
  EXPECT_THROW(read("30/02/1422"), SqlError);
  EXPECT_THROW(read("17/13/1422"), SqlError);
  EXPECT_THROW(read("17-10-1422"), SqlError);
  EXPECT_THROW(read("17/10/1422x"), SqlError);
}

}  // namespace
}  // namespace sqlengine::values
