#include "engine/exec/string_functions.h"

#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cwctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/date_settings.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/text_comparison.h"
#include "engine/values/code_page_1252.h"
#include "engine/values/date_text.h"
#include "engine/values/float_rounding.h"
#include "engine/values/number_text.h"
#include "engine/values/utf8.h"

namespace sqlengine::exec {
namespace {

// The longest value of a non-Unicode character type, in characters.
constexpr sqlite3_int64 kCharacterLimit = 8000;

bool AnyNull(int count, sqlite3_value** args) {
  for (int k = 0; k < count; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) return true;
  }
  return false;
}

std::string Repeated(std::string_view text, sqlite3_int64 times) {
  std::string out;
  out.reserve(text.size() * static_cast<size_t>(times));
  for (sqlite3_int64 k = 0; k < times; ++k) out.append(text);
  return out;
}

// `text` cut to at most `characters` characters.
std::string_view FirstCharacters(std::string_view text, sqlite3_int64 characters) {
  return text.substr(
      0, Utf8ByteOffset(text, static_cast<size_t>(std::max<sqlite3_int64>(0, characters))));
}

// UPPER and LOWER of every letter, not only ASCII's as SQLite's do.
template <bool kUpper>
void ChangeCase(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  std::string changed;
  changed.reserve(text.size());
  locale_t unicode = UnicodeLocale();
  for (size_t i = 0; i < text.size();) {
    char32_t c = values::NextCodePoint(text, i);
    if (c < 0x80) {
      int ascii = static_cast<int>(c);
      c = static_cast<char32_t>(kUpper ? std::toupper(ascii) : std::tolower(ascii));
    } else if (unicode != locale_t{}) {
      auto wide = static_cast<wint_t>(c);
      c = static_cast<char32_t>(kUpper ? towupper_l(wide, unicode) : towlower_l(wide, unicode));
    }
    values::AppendUtf8(c, changed);
  }
  SqliteResultText(context, changed);
}

// The result of a function whose type is cut at `args[at]` characters
// when that argument is given (the binder passes its type's length).
void ResultWithin(sqlite3_context* context, std::string_view text, int count, sqlite3_value** args,
                  int at) {
  if (count <= at) return SqliteResultText(context, text);
  SqliteResultText(context, FirstCharacters(text, sqlite3_value_int64(args[at])));
}

// REPLACE(text, find, with [, limit]): every occurrence, found without
// regard to case as the server's collation compares (SQLite's replace is
// case-sensitive); sqlengine_replace_cs matches case, for a case-sensitive
// collation. The result is cut at `limit` characters.
template <bool kCaseSensitive>
void Replace(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(3, args)) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  std::string find = SqliteValueText(args[1]);
  if (find.empty()) return ResultWithin(context, text, count, args, 3);
  std::string with = SqliteValueText(args[2]);
  // Folding keeps every byte where it was, so positions carry over.
  std::string folded_text = kCaseSensitive ? text : FoldedText(text);
  std::string folded_find = kCaseSensitive ? find : FoldedText(find);
  std::string result;
  size_t from = 0;
  for (size_t at = folded_text.find(folded_find); at != std::string::npos;
       at = folded_text.find(folded_find, from)) {
    result.append(text, from, at - from).append(with);
    from = at + find.size();
  }
  result.append(text, from, std::string::npos);
  ResultWithin(context, result, count, args, 3);
}

// STUFF(text, start, length, insert [, limit]): NULL for a start outside the
// text or a negative length; a length past the end deletes to the end; the
// result is cut at `limit` characters.
void Stuff(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(3, args)) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  sqlite3_int64 start = sqlite3_value_int64(args[1]);
  sqlite3_int64 length = sqlite3_value_int64(args[2]);
  auto characters = static_cast<sqlite3_int64>(Utf8CharacterCount(text));
  if (start < 1 || start > characters || length < 0) return sqlite3_result_null(context);
  size_t from = Utf8ByteOffset(text, static_cast<size_t>(start - 1));
  size_t to = from + Utf8ByteOffset(std::string_view(text).substr(from),
                                    static_cast<size_t>(std::min(length, characters)));
  std::string result = text.substr(0, from) + SqliteValueText(args[3]) + text.substr(to);
  ResultWithin(context, result, count, args, 4);
}

void Reverse(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  std::vector<char32_t> characters;
  for (size_t i = 0; i < text.size();) characters.push_back(values::NextCodePoint(text, i));
  std::string reversed;
  reversed.reserve(text.size());
  for (auto c = characters.rbegin(); c != characters.rend(); ++c) values::AppendUtf8(*c, reversed);
  SqliteResultText(context, reversed);
}

// SPACE(n): NULL for a negative n.
void Space(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  sqlite3_int64 count = sqlite3_value_int64(args[0]);
  if (count < 0) return sqlite3_result_null(context);
  SqliteResultText(context,
                   std::string(static_cast<size_t>(std::min(count, kCharacterLimit)), ' '));
}

// sqlengine_pad(text, n): a char(n) value with its trailing blanks, which
// the stored form leaves off.
void Pad(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  auto characters = static_cast<sqlite3_int64>(Utf8CharacterCount(text));
  sqlite3_int64 length = sqlite3_value_int64(args[1]);
  if (characters >= length) return sqlite3_result_value(context, args[0]);
  text.append(static_cast<size_t>(std::min(length, kCharacterLimit) - characters), ' ');
  SqliteResultText(context, text);
}

// REPLICATE(text, n [, limit]): NULL for a negative n; the result is cut at
// `limit` characters (8000 unless the binder gives the type's own).
void Replicate(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  sqlite3_int64 times = sqlite3_value_int64(args[1]);
  if (times < 0) return sqlite3_result_null(context);
  sqlite3_int64 limit = count > 2 ? sqlite3_value_int64(args[2]) : kCharacterLimit;
  std::string text = SqliteValueText(args[0]);
  if (text.empty()) return SqliteResultText(context, "");
  auto characters = static_cast<sqlite3_int64>(Utf8CharacterCount(text));
  sqlite3_int64 needed = std::min(times, limit / characters + 1);
  SqliteResultText(context, FirstCharacters(Repeated(text, needed), limit));
}

// PATINDEX(pattern, text): the position where the pattern's first literal
// part matches, as LIKE would match the whole text; 0 when it does not.
// sqlengine_patindex_cs matches case, for a case-sensitive collation.
template <bool kCaseSensitive>
void PatIndex(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  std::string pattern = SqliteValueText(args[0]);
  std::string text = SqliteValueText(args[1]);
  LikeRules rules;
  rules.case_sensitive = kCaseSensitive;
  rules.ranges_by_collation = !kCaseSensitive;
  if (!pattern.starts_with('%'))
    return sqlite3_result_int(context, LikeMatches(text, pattern, rules) ? 1 : 0);
  size_t literal = pattern.find_first_not_of('%');
  if (literal == std::string::npos) return sqlite3_result_int(context, text.empty() ? 0 : 1);
  std::string_view rest = std::string_view(pattern).substr(literal);
  size_t position = 1;
  for (size_t at = 0; at < text.size(); ++position) {
    if (LikeMatches(std::string_view(text).substr(at), rest, rules)) {
      return sqlite3_result_int64(context, static_cast<sqlite3_int64>(position));
    }
    values::NextCodePoint(text, at);
  }
  sqlite3_result_int(context, 0);
}

// ASCII(text): the first character's code in the server's code page; 63
// ('?') for a character the code page does not have, as a conversion to
// varchar gives it.
void Ascii(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  if (text.empty()) return sqlite3_result_null(context);
  size_t at = 0;
  sqlite3_result_int(context,
                     values::CodePointToCp1252(values::NextCodePoint(text, at)).value_or('?'));
}

// CHAR(code): the code page's character; NULL outside 0..255.
void Char(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  sqlite3_int64 code = sqlite3_value_int64(args[0]);
  if (code < 0 || code > 255) return sqlite3_result_null(context);
  std::string out;
  values::AppendUtf8(values::Cp1252ToCodePoint(static_cast<std::uint8_t>(code)), out);
  SqliteResultText(context, out);
}

// NCHAR(code): the UCS-2 character; NULL outside 0..65535 and for a lone
// surrogate, which UTF-8 cannot hold.
void NChar(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  sqlite3_int64 code = sqlite3_value_int64(args[0]);
  if (code < 0 || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF))
    return sqlite3_result_null(context);
  std::string out;
  values::AppendUtf8(static_cast<char32_t>(code), out);
  SqliteResultText(context, out);
}

// American Soundex: the first letter and three digits for the consonant
// groups that follow, a code repeated across H or W counted once, vowels
// separating repeats. Characters other than letters are skipped.
std::string SoundexOf(std::string_view text) {
  static constexpr char kCodes[] = "01230120022455012623010202";  // A..Z
  std::string code;
  char last = 0;
  for (char raw : text) {
    if (!std::isalpha(static_cast<unsigned char>(raw))) continue;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(raw)));
    char digit = kCodes[letter - 'A'];
    if (code.empty()) {
      code.push_back(letter);
      last = digit;
      continue;
    }
    if (letter == 'H' || letter == 'W') continue;
    if (digit != '0' && digit != last) code.push_back(digit);
    last = digit;
    if (code.size() == 4) break;
  }
  if (code.empty()) return "0000";
  code.resize(4, '0');
  return code;
}

void Soundex(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  SqliteResultText(context, SoundexOf(SqliteValueText(args[0])));
}

// DIFFERENCE(a, b): how many of the two Soundex codes' four places agree.
void Difference(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  std::string a = SoundexOf(SqliteValueText(args[0]));
  std::string b = SoundexOf(SqliteValueText(args[1]));
  int same = 0;
  for (size_t k = 0; k < 4; ++k) same += a[k] == b[k];
  sqlite3_result_int(context, same);
}

// QUOTENAME(name [, quote]): the name delimited, its closing delimiter
// doubled; NULL for a name over 128 characters or another quote character.
void QuoteName(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(count, args)) return sqlite3_result_null(context);
  std::string name = SqliteValueText(args[0]);
  std::string quote = count > 1 ? SqliteValueText(args[1]) : "[";
  if (Utf8CharacterCount(name) > 128 || quote.size() != 1) return sqlite3_result_null(context);
  char open = quote[0], close = 0;
  switch (open) {
    case '[':
    case ']':
      open = '[', close = ']';
      break;
    case '"':
    case '\'':
      close = open;
      break;
    default:
      return sqlite3_result_null(context);
  }
  std::string quoted(1, open);
  for (char c : name) {
    quoted.push_back(c);
    if (c == close) quoted.push_back(c);
  }
  quoted.push_back(close);
  SqliteResultText(context, quoted);
}

// The parts of a name of up to four parts (server.database.owner.object),
// each undelimited; nullopt for a name that is not one.
std::optional<std::vector<std::string>> NameParts(std::string_view name) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '.') {
      if (parts.size() == 4) return std::nullopt;
      parts.emplace_back();
    } else if ((c == '[' || c == '"') && parts.back().empty()) {
      char close = c == '[' ? ']' : '"';
      for (++i;; ++i) {
        if (i >= name.size()) return std::nullopt;
        if (name[i] == close) {
          if (i + 1 < name.size() && name[i + 1] == close) {
            parts.back().push_back(close);
            ++i;
            continue;
          }
          break;
        }
        parts.back().push_back(name[i]);
      }
      if (i + 1 < name.size() && name[i + 1] != '.') return std::nullopt;
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// PARSENAME(name, part): part 1 is the object, 2 the owner, 3 the database,
// 4 the server; NULL for a part the name does not have or an invalid name.
void ParseName(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  sqlite3_int64 part = sqlite3_value_int64(args[1]);
  std::optional<std::vector<std::string>> parts = NameParts(SqliteValueText(args[0]));
  if (!parts || part < 1 || part > static_cast<sqlite3_int64>(parts->size()))
    return sqlite3_result_null(context);
  const std::string& chosen = (*parts)[parts->size() - static_cast<size_t>(part)];
  if (chosen.empty()) return sqlite3_result_null(context);
  SqliteResultText(context, chosen);
}

// Whether text converts to some numeric type (int, money, decimal or float),
// as ISNUMERIC decides it: a currency sign, a sign, digits with thousands
// separators, a point, an exponent; the lone sign or point counts too, as
// SQL Server counts them.
bool LooksNumeric(std::string_view text) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  };
  skip_blanks();
  if (i == text.size()) return false;
  if (size_t sign_length = values::CurrencySignLength(text.substr(i))) i += sign_length, skip_blanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i, skip_blanks();
  bool digits = false, point = false, commas = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
    } else if (c == ',' && !point) {
      commas = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    // A float's exponent: digits before it, digits after it, no separators.
    if (!digits || commas) return false;
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponent_start = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == exponent_start) return false;
  }
  skip_blanks();
  return i == text.size();
}

void IsNumeric(sqlite3_context* context, int, sqlite3_value** args) {
  switch (sqlite3_value_type(args[0])) {
    case SQLITE_NULL:
    case SQLITE_BLOB:
      return sqlite3_result_int(context, 0);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return sqlite3_result_int(context, 1);
    default:
      sqlite3_result_int(context, LooksNumeric(SqliteValueText(args[0])) ? 1 : 0);
  }
}

// ISDATE(text): 1 when the text converts to datetime under the session's
// SET DATEFORMAT.
void IsDate(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) != SQLITE_TEXT) return sqlite3_result_int(context, 0);
  const std::string text = SqliteValueText(args[0]);
  // Blank text converts to 1900-01-01, yet ISDATE says it is no date.
  if (text.find_first_not_of(' ') == std::string::npos) return sqlite3_result_int(context, 0);
  bool converts = values::TryDateTimeFromText(text, values::DateKind::kDateTime,
                                              CurrentDateSettings().order)
                      .has_value();
  sqlite3_result_int(context, converts ? 1 : 0);
}

// STR(number [, length [, decimals]]): the number rounded to `decimals`
// places (at most 16), right-aligned in `length` characters; asterisks when
// its whole part does not fit; NULL for a length outside 1..8000 or
// negative decimals.
void Str(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(count, args)) return sqlite3_result_null(context);
  double number = sqlite3_value_double(args[0]);
  sqlite3_int64 length = count > 1 ? sqlite3_value_int64(args[1]) : 10;
  sqlite3_int64 decimals = count > 2 ? sqlite3_value_int64(args[2]) : 0;
  if (length < 1 || length > kCharacterLimit || decimals < 0) return sqlite3_result_null(context);
  decimals = std::min<sqlite3_int64>(decimals, 16);
  auto print = [&](int places) {
    // The float's binary value rounds, half away from zero: STR(3.65, 4, 1)
    // is " 3.6", 3.65 being 3.6499999999999999 as a float. No "-0".
    std::string text = values::RoundedFloatText(number, places, false);
    bool zero = text.find_first_not_of("0.") == std::string::npos;
    return number < 0 && !zero ? "-" + text : text;
  };
  if (!std::isfinite(number) || std::fabs(number) >= 1e300)
    return SqliteResultText(context, std::string(static_cast<size_t>(length), '*'));
  std::string text = print(static_cast<int>(decimals));
  if (static_cast<sqlite3_int64>(text.size()) > length) {
    // Fewer decimals first; asterisks only when the whole part cannot fit.
    size_t point = text.find('.');
    size_t whole = point == std::string::npos ? text.size() : point;
    if (static_cast<sqlite3_int64>(whole) > length) {
      return SqliteResultText(context, std::string(static_cast<size_t>(length), '*'));
    }
    text = print(static_cast<int>(
        std::max<sqlite3_int64>(0, length - static_cast<sqlite3_int64>(whole) - 1)));
    if (static_cast<sqlite3_int64>(text.size()) > length) {
      return SqliteResultText(context, std::string(static_cast<size_t>(length), '*'));
    }
  }
  SqliteResultText(context, std::string(static_cast<size_t>(length) - text.size(), ' ') + text);
}

// sqlengine_datalength(value, bytes_per_character, fixed_bytes): DATALENGTH
// as the binder types it. Character data counts its characters times
// `bytes_per_character` (1 for the code page, 2 for UCS-2: a character
// beyond the BMP takes two units); binary data its bytes; any other type
// has `fixed_bytes`.
void DataLength(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  sqlite3_int64 per_character = sqlite3_value_int64(args[1]);
  sqlite3_int64 fixed = sqlite3_value_int64(args[2]);
  if (fixed > 0) return sqlite3_result_int64(context, fixed);
  if (sqlite3_value_type(args[0]) == SQLITE_BLOB || per_character == 0)
    return sqlite3_result_int64(context, sqlite3_value_bytes(args[0]));
  std::string text = SqliteValueText(args[0]);
  sqlite3_int64 units = 0;
  for (size_t i = 0; i < text.size();) units += values::NextCodePoint(text, i) >= 0x10000 ? 2 : 1;
  sqlite3_result_int64(context, per_character == 2
                                    ? units * 2
                                    : static_cast<sqlite3_int64>(Utf8CharacterCount(text)));
}

constexpr FunctionDefinition kFunctions[] = {
    {"upper", 1, ChangeCase<true>, true},
    {"lower", 1, ChangeCase<false>, true},
    {"replace", 3, Replace<false>, true},
    {"replace", 4, Replace<false>, true},
    {"sqlengine_replace_cs", 3, Replace<true>, true},
    {"sqlengine_replace_cs", 4, Replace<true>, true},
    {"stuff", 4, Stuff, true},
    {"stuff", 5, Stuff, true},
    {"reverse", 1, Reverse, true},
    {"space", 1, Space, true},
    {"replicate", 2, Replicate, true},
    {"replicate", 3, Replicate, true},
    {"patindex", 2, PatIndex<false>, true},
    {"sqlengine_patindex_cs", 2, PatIndex<true>, true},
    {"ascii", 1, Ascii, true},
    {"char", 1, Char, true},
    {"nchar", 1, NChar, true},
    {"soundex", 1, Soundex, true},
    {"difference", 2, Difference, true},
    {"quotename", 1, QuoteName, true},
    {"quotename", 2, QuoteName, true},
    {"parsename", 2, ParseName, true},
    {"isnumeric", 1, IsNumeric, true},
    // Reads the session's SET DATEFORMAT.
    {"isdate", 1, IsDate, false},
    {"str", 1, Str, true},
    {"str", 2, Str, true},
    {"str", 3, Str, true},
    {"sqlengine_datalength", 3, DataLength, true},
    {"sqlengine_pad", 2, Pad, true},
};

}  // namespace

void RegisterStringFunctions(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
