#include "engine/values/date_text.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/values/calendar.h"

namespace sqlengine::values {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

enum class Outcome { kDate, kNoDate, kNoSuchDate };

// The fields as written, before rounding; fraction in nanoseconds.
struct Written {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
  std::int64_t nanoseconds = 0;
};

struct Piece {
  enum Kind { kNumber, kWord, kSymbol, kSpace } kind;
  std::string_view text;
  bool Is(char symbol) const { return kind == kSymbol && text.size() == 1 && text[0] == symbol; }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::vector<Piece> Pieces(std::string_view text) {
  std::vector<Piece> pieces;
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    Piece::Kind kind;
    if (IsDigit(text[i])) {
      kind = Piece::kNumber;
      while (i < text.size() && IsDigit(text[i])) ++i;
    } else if (IsLetter(text[i])) {
      kind = Piece::kWord;
      while (i < text.size() && IsLetter(text[i])) ++i;
    } else if (IsBlank(text[i])) {
      kind = Piece::kSpace;
      while (i < text.size() && IsBlank(text[i])) ++i;
    } else {
      kind = Piece::kSymbol;
      ++i;
    }
    pieces.push_back({kind, text.substr(start, i - start)});
  }
  return pieces;
}

// Digits as a number; -1 beyond nine digits.
int NumberOf(std::string_view digits) {
  if (digits.size() > 9) return -1;
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// 1..12 for a us_english month name or its three-letter abbreviation.
std::optional<int> MonthNamed(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoreCase(word, kMonths[m]) || EqualsIgnoreCase(word, kMonths[m].substr(0, 3)))
      return m + 1;
  }
  return std::nullopt;
}

// A year as written: two digits follow the 2049 cut-off.
int YearOf(std::string_view digits) {
  int year = NumberOf(digits);
  if (digits.size() <= 2) year += year < 50 ? 2000 : 1900;
  return year;
}

// The time in pieces[begin, end) when it is one: h:m[:s[(:ms|.fraction)]]
// [AM|PM], or h AM|PM. Sets `written` and returns how many pieces it took.
size_t ReadTime(const std::vector<Piece>& pieces, size_t begin, Written& written,
                Outcome& outcome) {
  size_t i = begin;
  auto number_at = [&](size_t at) {
    return at < pieces.size() && pieces[at].kind == Piece::kNumber;
  };
  auto meridiem_at = [&](size_t at) {
    return at < pieces.size() && pieces[at].kind == Piece::kWord &&
           (EqualsIgnoreCase(pieces[at].text, "AM") || EqualsIgnoreCase(pieces[at].text, "PM"));
  };
  if (!number_at(i)) return 0;
  bool colon = i + 1 < pieces.size() && pieces[i + 1].Is(':');
  size_t meridiem = i + 1 < pieces.size() && pieces[i + 1].kind == Piece::kSpace ? i + 2 : i + 1;
  if (!colon && !meridiem_at(meridiem)) return 0;
  std::array<std::string_view, 3> fields{};
  int count = 0;
  fields[count++] = pieces[i++].text;
  while (count < 3 && i + 1 < pieces.size() && pieces[i].Is(':') && number_at(i + 1)) {
    fields[count++] = pieces[i + 1].text;
    i += 2;
  }
  if (colon && count == 1) {
    outcome = Outcome::kNoDate;
    return 0;
  }
  std::int64_t nanoseconds = 0;
  if (count == 3 && i + 1 < pieces.size() && number_at(i + 1) &&
      (pieces[i].Is(':') || pieces[i].Is('.'))) {
    std::string_view digits = pieces[i + 1].text;
    if (pieces[i].Is(':')) {
      // After a colon the digits count thousandths.
      if (digits.size() > 3) outcome = Outcome::kNoDate;
      nanoseconds = static_cast<std::int64_t>(NumberOf(digits)) * 1'000'000;
    } else {
      // A datetime keeps thousandths: a fourth digit is no datetime.
      if (digits.size() > 3) outcome = Outcome::kNoDate;
      std::int64_t scale = 100'000'000;
      for (size_t k = 0; k < digits.size() && k < 9; ++k, scale /= 10)
        nanoseconds += (digits[k] - '0') * scale;
    }
    i += 2;
  }
  for (std::string_view field : fields) {
    if (field.size() > 2) outcome = Outcome::kNoDate;
  }
  written.hour = NumberOf(fields[0]);
  written.minute = count > 1 ? NumberOf(fields[1]) : 0;
  written.second = count > 2 ? NumberOf(fields[2]) : 0;
  written.nanoseconds = nanoseconds;
  size_t after_space = i < pieces.size() && pieces[i].kind == Piece::kSpace ? i + 1 : i;
  if (meridiem_at(after_space)) {
    bool pm = EqualsIgnoreCase(pieces[after_space].text, "PM");
    if (written.hour > 12) outcome = Outcome::kNoDate;
    written.hour = written.hour % 12 + (pm ? 12 : 0);
    i = after_space + 1;
  }
  if (written.hour > 23 || written.minute > 59 || written.second > 59) outcome = Outcome::kNoDate;
  return i - begin;
}

// The date written with a month name: the numbers beside it are the day and
// the year, the year being the one of three or four digits (or the second).
Outcome ReadNamedDate(const std::vector<Piece>& pieces, Written& written) {
  std::optional<int> month;
  std::vector<std::string_view> numbers;
  for (const Piece& piece : pieces) {
    if (piece.kind == Piece::kWord) {
      if (month) return Outcome::kNoDate;
      month = MonthNamed(piece.text);
      if (!month) return Outcome::kNoDate;
    } else if (piece.kind == Piece::kNumber) {
      numbers.push_back(piece.text);
    } else if (piece.kind == Piece::kSymbol && !piece.Is(',') && !piece.Is('-') && !piece.Is('/') &&
               !piece.Is('.')) {
      return Outcome::kNoDate;
    }
  }
  written.month = *month;
  auto is_year = [](std::string_view digits) { return digits.size() == 3 || digits.size() == 4; };
  if (numbers.size() == 1 && is_year(numbers[0])) {
    written.day = 1;
    written.year = NumberOf(numbers[0]);
    return Outcome::kDate;
  }
  if (numbers.size() != 2) return Outcome::kNoDate;
  size_t year_at = is_year(numbers[0]) ? 0 : 1;
  std::string_view day = numbers[1 - year_at];
  if (day.size() > 2 || numbers[year_at].size() > 4) return Outcome::kNoDate;
  written.day = NumberOf(day);
  written.year = YearOf(numbers[year_at]);
  return Outcome::kDate;
}

// Three numbers with one separator, in the DATEFORMAT order; a first number
// of more than two digits is the year, the others following the order's
// month-day sense.
Outcome ReadNumericDate(const std::vector<Piece>& pieces, DateOrder order, Written& written) {
  if (pieces.size() == 1 && pieces[0].kind == Piece::kNumber) {
    std::string_view digits = pieces[0].text;
    if (digits.size() == 4) {
      written.year = NumberOf(digits);
      return Outcome::kDate;
    }
    if (digits.size() != 6 && digits.size() != 8) return Outcome::kNoDate;
    size_t year_digits = digits.size() - 4;
    written.year = YearOf(digits.substr(0, year_digits));
    written.month = NumberOf(digits.substr(year_digits, 2));
    written.day = NumberOf(digits.substr(year_digits + 2, 2));
    return Outcome::kDate;
  }
  if (pieces.size() != 5) return Outcome::kNoDate;
  char separator = pieces[1].text[0];
  if (separator != '/' && separator != '-' && separator != '.') return Outcome::kNoDate;
  std::array<std::string_view, 3> numbers;
  for (size_t k = 0; k < 5; ++k) {
    bool want_number = k % 2 == 0;
    if (want_number ? pieces[k].kind != Piece::kNumber : !pieces[k].Is(separator))
      return Outcome::kNoDate;
    if (want_number) numbers[k / 2] = pieces[k].text;
  }
  static constexpr std::array<const char*, 6> kLayouts = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
  std::string_view layout = kLayouts[static_cast<size_t>(order)];
  if (numbers[0].size() > 2) {
    bool month_first = layout.find('m') < layout.find('d');
    layout = month_first ? "ymd" : "ydm";
  }
  for (size_t k = 0; k < 3; ++k) {
    std::string_view digits = numbers[k];
    if (layout[k] == 'y') {
      if (digits.size() > 4) return Outcome::kNoDate;
      written.year = YearOf(digits);
    } else {
      if (digits.size() > 2) return Outcome::kNoDate;
      (layout[k] == 'm' ? written.month : written.day) = NumberOf(digits);
    }
  }
  return Outcome::kDate;
}

// 'yyyy-mm-ddThh:mm:ss[.f[f[f]]]', read the same under every DATEFORMAT.
bool ReadIso8601(std::string_view text, Written& written, Outcome& outcome) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() < kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == 'd' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
  }
  written.year = NumberOf(text.substr(0, 4));
  written.month = NumberOf(text.substr(5, 2));
  written.day = NumberOf(text.substr(8, 2));
  written.hour = NumberOf(text.substr(11, 2));
  written.minute = NumberOf(text.substr(14, 2));
  written.second = NumberOf(text.substr(17, 2));
  std::string_view rest = text.substr(kShape.size());
  if (!rest.empty()) {
    if (rest[0] != '.' || rest.size() == 1 || rest.size() > 4) {
      outcome = Outcome::kNoDate;
      return true;
    }
    std::int64_t scale = 100'000'000;
    for (size_t k = 1; k < rest.size(); ++k, scale /= 10) {
      if (!IsDigit(rest[k])) {
        outcome = Outcome::kNoDate;
        return true;
      }
      if (k <= 9) written.nanoseconds += (rest[k] - '0') * scale;
    }
  }
  if (written.hour > 23 || written.minute > 59 || written.second > 59) outcome = Outcome::kNoDate;
  return true;
}

Outcome Read(std::string_view text, DateOrder order, Written& written) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  Outcome outcome = Outcome::kDate;
  if (ReadIso8601(text, written, outcome)) return outcome;
  std::vector<Piece> pieces = Pieces(text);
  // The time stands at either end, set off by a blank from the date.
  std::vector<Piece> date;
  for (size_t i = 0; i < pieces.size();) {
    bool starts_piece = i == 0 || pieces[i - 1].kind == Piece::kSpace;
    size_t taken = starts_piece ? ReadTime(pieces, i, written, outcome) : 0;
    if (outcome != Outcome::kDate) return outcome;
    if (taken > 0) {
      size_t end = i + taken;
      bool at_edge = i == 0 || end == pieces.size();
      if (!at_edge || (end < pieces.size() && pieces[end].kind != Piece::kSpace))
        return Outcome::kNoDate;
      date.insert(date.end(), pieces.begin() + static_cast<std::ptrdiff_t>(end), pieces.end());
      break;
    }
    date.push_back(pieces[i++]);
  }
  while (!date.empty() && date.front().kind == Piece::kSpace) date.erase(date.begin());
  while (!date.empty() && date.back().kind == Piece::kSpace) date.pop_back();
  if (date.empty()) return Outcome::kDate;
  for (const Piece& piece : date) {
    if (piece.kind == Piece::kWord) return ReadNamedDate(date, written);
  }
  return ReadNumericDate(date, order, written);
}

bool InDateTimeRange(const DateTime& t, DateKind kind) {
  if (kind == DateKind::kDateTime) return t.year >= 1753 && t.year <= 9999;
  DateTime first{1900, 1, 1}, last{2079, 6, 6, 23, 59};
  auto key = [](const DateTime& v) {
    return std::array<int, 5>{v.year, v.month, v.day, v.hour, v.minute};
  };
  return key(t) >= key(first) && key(t) <= key(last);
}

SqlError OutOfRange(DateKind kind) { return MakeError(kind == DateKind::kDateTime ? 242 : 296); }

// Milliseconds since 1970 of the civil fields, with a fraction rounded to
// datetime's ticks of 1/300 second.
std::int64_t RoundedMilliseconds(int year, int month, int day, std::int64_t nanoseconds_of_day) {
  std::int64_t ticks = (nanoseconds_of_day * 3 + 5'000'000) / 10'000'000;
  return DaysFromCivil(year, month, day) * kMillisecondsPerDay + (ticks * 10 + 1) / 3;
}

DateTime FromMilliseconds(std::int64_t ms) {
  std::int64_t days =
      ms >= 0 ? ms / kMillisecondsPerDay : (ms - kMillisecondsPerDay + 1) / kMillisecondsPerDay;
  std::int64_t rest = ms - days * kMillisecondsPerDay;
  DateTime t;
  CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3'600'000);
  t.minute = static_cast<int>(rest / 60'000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

DateTime Fitted(int year, int month, int day, std::int64_t nanoseconds_of_day, DateKind kind) {
  std::int64_t ms = RoundedMilliseconds(year, month, day, nanoseconds_of_day);
  if (kind == DateKind::kSmallDateTime) {
    // 29.998 seconds and less round down, 29.999 and more up.
    std::int64_t into_minute = ((ms % 60'000) + 60'000) % 60'000;
    ms += into_minute >= 29'999 ? 60'000 - into_minute : -into_minute;
  }
  DateTime t = FromMilliseconds(ms);
  if (!InDateTimeRange(t, kind)) throw OutOfRange(kind);
  return t;
}

}  // namespace

std::optional<DateOrder> DateOrderNamed(std::string_view name) {
  static constexpr std::array<std::string_view, 6> kNames = {"mdy", "dmy", "ymd",
                                                             "ydm", "myd", "dym"};
  for (size_t k = 0; k < kNames.size(); ++k) {
    if (EqualsIgnoreCase(name, kNames[k])) return static_cast<DateOrder>(k);
  }
  return std::nullopt;
}

DateTime DateTimeFromText(std::string_view text, DateKind kind, DateOrder order) {
  Written written;
  Outcome outcome = Read(text, order, written);
  if (outcome == Outcome::kNoDate) throw MakeError(241);
  if (written.month < 1 || written.month > 12 || written.day < 1 ||
      written.day > DaysInMonth(written.year, written.month) || written.year < 1 ||
      written.year > 9999) {
    throw OutOfRange(kind);
  }
  std::int64_t nanoseconds_of_day =
      ((written.hour * 60LL + written.minute) * 60 + written.second) * 1'000'000'000 +
      written.nanoseconds;
  return Fitted(written.year, written.month, written.day, nanoseconds_of_day, kind);
}

std::optional<DateTime> TryDateTimeFromText(std::string_view text, DateKind kind, DateOrder order) {
  try {
    return DateTimeFromText(text, kind, order);
  } catch (const SqlError&) {
    return std::nullopt;
  }
}

DateTime RoundedToKind(const DateTime& value, DateKind kind) {
  std::int64_t nanoseconds_of_day =
      (((value.hour * 60LL + value.minute) * 60 + value.second) * 1000 + value.millisecond) *
      1'000'000;
  return Fitted(value.year, value.month, value.day, nanoseconds_of_day, kind);
}

}  // namespace sqlengine::values
