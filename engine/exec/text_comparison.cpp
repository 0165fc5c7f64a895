#include "engine/exec/text_comparison.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cwctype>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/values/utf8.h"

namespace sqlengine::exec {
namespace {

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

size_t Utf8Size(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// The letter a folded Latin-1 letter sorts with ('ä' with 'a'): the
// server's dictionary order puts accented letters beside their base letter,
// the accent counting only between texts otherwise equal.
char32_t BaseLetter(char32_t folded) {
  // U+00DF to U+00FF, as lower case: ß à á â ã ä å æ ç è é ê ë ì í î ï ð ñ
  // ò ó ô õ ö ÷ ø ù ú û ü ý þ ÿ.
  static constexpr char kBase[] = "saaaaaaaceeeeiiiidnooooo/ouuuuyty";
  if (folded < 0xDF || folded > 0xFF || folded == 0xF7) return folded;
  return static_cast<unsigned char>(kBase[folded - 0xDF]);
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Case-insensitive order of texts that hold characters beyond ASCII: by
// their letters with case folded and accents set aside, then by the first
// accent that differs. Trailing spaces are gone already.
int CompareFolded(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  int by_accent = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = FoldedCharacter(values::NextCodePoint(a, i));
    char32_t y = FoldedCharacter(values::NextCodePoint(b, j));
    if (x == y) continue;
    char32_t base_x = BaseLetter(x), base_y = BaseLetter(y);
    if (base_x != base_y) return base_x < base_y ? -1 : 1;
    if (by_accent == 0) by_accent = x < y ? -1 : 1;
  }
  if (i == a.size() && j == b.size()) return by_accent;
  std::string_view rest = i < a.size() ? a.substr(i) : b.substr(j);
  unsigned char first = static_cast<unsigned char>(rest[rest.find_first_not_of(' ')]);
  int longer_side = first < ' ' ? -1 : 1;
  return i < a.size() ? longer_side : -longer_side;
}

std::string_view WithoutTrailingSpaces(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// -1, 0 or 1: case apart or not, the shorter text padded with spaces, so
// trailing spaces never count and 'a' sorts after 'a' + a tab.
template <bool kCaseSensitive>
int CompareTexts(std::string_view left, std::string_view right) {
  std::string_view a = WithoutTrailingSpaces(left);
  std::string_view b = WithoutTrailingSpaces(right);
  if (!kCaseSensitive && !(IsAscii(a) && IsAscii(b))) return CompareFolded(a, b);
  size_t common = std::min(a.size(), b.size());
  for (size_t k = 0; k < common; ++k) {
    unsigned char x = static_cast<unsigned char>(kCaseSensitive ? a[k] : Fold(a[k]));
    unsigned char y = static_cast<unsigned char>(kCaseSensitive ? b[k] : Fold(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  // The longer text's rest holds a character other than a space (its own
  // trailing ones are gone); the first such decides against the padding.
  std::string_view rest = a.size() > b.size() ? a.substr(common) : b.substr(common);
  unsigned char first = static_cast<unsigned char>(rest[rest.find_first_not_of(' ')]);
  int longer_side = first < ' ' ? -1 : 1;
  return a.size() > b.size() ? longer_side : -longer_side;
}

template <bool kCaseSensitive>
int CompareText(void*, int left_size, const void* left, int right_size, const void* right) {
  return CompareTexts<kCaseSensitive>(
      std::string_view(static_cast<const char*>(left), static_cast<size_t>(left_size)),
      std::string_view(static_cast<const char*>(right), static_cast<size_t>(right_size)));
}

// 'ß' and 'ẞ' (U+1E9E) in UTF-8: Unicode data under the server's
// case-insensitive collation compares them as "ss" ('Straße' = 'STRASSE');
// non-Unicode data under its SQL collation does not.
constexpr std::string_view kSharpS = "\xC3\x9F";
constexpr std::string_view kCapitalSharpS = "\xE1\xBA\x9E";

bool HasSharpS(std::string_view text) {
  return text.find(kSharpS) != std::string_view::npos ||
         text.find(kCapitalSharpS) != std::string_view::npos;
}

std::string SharpSExpanded(std::string_view text) {
  std::string expanded;
  expanded.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    if (text.substr(i, kSharpS.size()) == kSharpS) {
      expanded += "ss";
      i += kSharpS.size();
    } else if (text.substr(i, kCapitalSharpS.size()) == kCapitalSharpS) {
      expanded += "ss";
      i += kCapitalSharpS.size();
    } else {
      expanded += text[i++];
    }
  }
  return expanded;
}

int CompareNationalText(void*, int left_size, const void* left, int right_size,
                        const void* right) {
  return CompareNationalIgnoringCase(
      std::string_view(static_cast<const char*>(left), static_cast<size_t>(left_size)),
      std::string_view(static_cast<const char*>(right), static_cast<size_t>(right_size)));
}

// How one of the dictionary collations besides sqlengine_ci / sqlengine_ci_n
// compares (sqlengine_cs_as, sqlengine_ci_ai, ...).
struct DictionaryRules {
  bool case_sensitive = false;
  bool accent_insensitive = false;
  bool upper_first = false;  // upper case before lower case when case decides
  bool national = false;     // 'ß' read as "ss"
};

// Letters of Latin-1 that sort beside a base letter as letters of their own
// rather than as its accented forms: 'ß', 'æ', 'ð', 'þ' stay apart from 's',
// 'a', 'd', 't' even where accents do not count.
bool IsSeparateLetter(char32_t folded) {
  return folded == 0xDF || folded == 0xE6 || folded == 0xF0 || folded == 0xFE;
}

// The weight a folded character sorts by before accents and case count.
std::uint64_t PrimaryWeight(char32_t folded) {
  std::uint64_t weight = std::uint64_t{BaseLetter(folded)} << 8;
  return IsSeparateLetter(folded) ? weight | (folded & 0xFF) : weight;
}

// Dictionary order: letters first (case folded, accents set aside), then the
// first accent that differs unless accents do not count, then the first
// case that differs (lower case first unless upper_first) under a
// case-sensitive collation. Trailing spaces never count.
int CompareDictionary(std::string_view left, std::string_view right, const DictionaryRules& rules) {
  std::string_view a = WithoutTrailingSpaces(left);
  std::string_view b = WithoutTrailingSpaces(right);
  std::string expanded_a, expanded_b;
  if (rules.national && (HasSharpS(a) || HasSharpS(b))) {
    expanded_a = SharpSExpanded(a);
    expanded_b = SharpSExpanded(b);
    a = expanded_a;
    b = expanded_b;
  }
  size_t i = 0, j = 0;
  int by_accent = 0, by_case = 0;
  while (i < a.size() && j < b.size()) {
    char32_t original_x = values::NextCodePoint(a, i);
    char32_t original_y = values::NextCodePoint(b, j);
    if (original_x == original_y) continue;
    char32_t x = FoldedCharacter(original_x), y = FoldedCharacter(original_y);
    std::uint64_t weight_x = PrimaryWeight(x), weight_y = PrimaryWeight(y);
    if (weight_x != weight_y) return weight_x < weight_y ? -1 : 1;
    if (x != y && by_accent == 0 && !rules.accent_insensitive) by_accent = x < y ? -1 : 1;
    bool upper_x = x != original_x, upper_y = y != original_y;
    if (upper_x != upper_y && by_case == 0 && rules.case_sensitive)
      by_case = upper_x == rules.upper_first ? -1 : 1;
  }
  if (i == a.size() && j == b.size()) return by_accent != 0 ? by_accent : by_case;
  std::string_view rest = i < a.size() ? a.substr(i) : b.substr(j);
  unsigned char first = static_cast<unsigned char>(rest[rest.find_first_not_of(' ')]);
  int longer_side = first < ' ' ? -1 : 1;
  return i < a.size() ? longer_side : -longer_side;
}

int CompareDictionaryText(void* rules, int left_size, const void* left, int right_size,
                          const void* right) {
  return CompareDictionary(
      std::string_view(static_cast<const char*>(left), static_cast<size_t>(left_size)),
      std::string_view(static_cast<const char*>(right), static_cast<size_t>(right_size)),
      *static_cast<const DictionaryRules*>(rules));
}

struct DictionaryCollation {
  const char* name;
  DictionaryRules rules;
};

// Each rule lives as long as the process: SQLite keeps a pointer to it.
constexpr DictionaryCollation kDictionaryCollations[] = {
    {"sqlengine_cs_as", {true, false, false, false}},
    {"sqlengine_cs_as_n", {true, false, false, true}},
    {"sqlengine_cs_as_u", {true, false, true, false}},
    {"sqlengine_ci_ai", {false, true, false, false}},
    {"sqlengine_ci_ai_n", {false, true, false, true}},
    {"sqlengine_cs_ai", {true, true, false, false}},
    {"sqlengine_cs_ai_n", {true, true, false, true}},
};

// Length in bytes of the UTF-8 character starting at `text[at]`.
size_t CharacterSize(std::string_view text, size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(size, text.size() - at);
}

// The one character `text` holds, case folded.
char32_t FoldedOne(std::string_view text) {
  size_t at = 0;
  return text.empty() ? U'\0' : FoldedCharacter(values::NextCodePoint(text, at));
}

bool SameCharacter(std::string_view a, std::string_view b, const LikeRules& rules) {
  if (rules.accent_insensitive && a != b) {
    size_t at_a = 0, at_b = 0;
    char32_t x = values::NextCodePoint(a, at_a), y = values::NextCodePoint(b, at_b);
    char32_t folded_x = FoldedCharacter(x), folded_y = FoldedCharacter(y);
    if (PrimaryWeight(folded_x) != PrimaryWeight(folded_y)) return false;
    return !rules.case_sensitive || (folded_x == x) == (folded_y == y);
  }
  if (a.size() == 1 && b.size() == 1 && !rules.case_sensitive) return Fold(a[0]) == Fold(b[0]);
  if (!rules.case_sensitive && a != b) return FoldedOne(a) == FoldedOne(b);
  return a == b;
}

// Whether `a` sorts at or before `b` under the collation `rules` name, as
// the collation's comparisons and ORDER BY sort them.
bool InCollationOrder(std::string_view a, std::string_view b, const LikeRules& rules) {
  if (!rules.case_sensitive && !rules.accent_insensitive) {
    return (rules.national ? CompareNationalIgnoringCase(a, b) : CompareIgnoringCase(a, b)) <= 0;
  }
  DictionaryRules order{rules.case_sensitive, rules.accent_insensitive, rules.upper_first,
                        rules.national};
  return CompareDictionary(a, b, order) <= 0;
}

// Matches the bracket class starting at pattern[at] == '[' against `c`;
// sets `end` past its ']'. nullopt when the class is not closed (then '['
// stands for itself).
std::optional<bool> ClassMatches(std::string_view pattern, size_t at, std::string_view c,
                                 const LikeRules& rules, size_t& end) {
  size_t k = at + 1;
  bool negated = k < pattern.size() && pattern[k] == '^';
  if (negated) ++k;
  bool matched = false;
  bool first = true;
  while (k < pattern.size() && (pattern[k] != ']' || first)) {
    first = false;
    size_t size = CharacterSize(pattern, k);
    std::string_view low = pattern.substr(k, size);
    if (k + size + 1 < pattern.size() && pattern[k + size] == '-' && pattern[k + size + 1] != ']') {
      size_t high_size = CharacterSize(pattern, k + size + 1);
      std::string_view high = pattern.substr(k + size + 1, high_size);
      if (rules.ranges_by_collation) {
        matched = matched || (InCollationOrder(low, c, rules) && InCollationOrder(c, high, rules));
      } else if (c.size() == 1 && low.size() == 1 && high.size() == 1 && !rules.case_sensitive) {
        char x = Fold(c[0]);
        matched = matched || (x >= Fold(low[0]) && x <= Fold(high[0]));
      } else if (!rules.case_sensitive) {
        char32_t x = FoldedOne(c);
        matched = matched || (x >= FoldedOne(low) && x <= FoldedOne(high));
      } else {
        matched = matched || (c >= low && c <= high);
      }
      k += size + 1 + high_size;
      continue;
    }
    matched = matched || SameCharacter(low, c, rules);
    k += size;
  }
  if (k >= pattern.size()) return std::nullopt;
  end = k + 1;
  return matched != negated;
}

bool Match(std::string_view value, size_t v, std::string_view pattern, size_t p,
           const LikeRules& rules, int& budget) {
  const std::optional<char>& escape = rules.escape;
  // A pathological pattern gives up rather than running for ever.
  if (--budget < 0) return false;
  while (p < pattern.size()) {
    char pc = pattern[p];
    if (escape && pc == *escape && p + 1 < pattern.size()) {
      size_t size = CharacterSize(pattern, p + 1);
      if (v >= value.size()) return false;
      size_t vsize = CharacterSize(value, v);
      if (!SameCharacter(pattern.substr(p + 1, size), value.substr(v, vsize), rules)) return false;
      p += 1 + size;
      v += vsize;
      continue;
    }
    if (pc == '%') {
      while (p < pattern.size() && pattern[p] == '%') ++p;
      if (p == pattern.size()) return true;
      for (size_t at = v; at <= value.size();
           at += at < value.size() ? CharacterSize(value, at) : 1) {
        if (Match(value, at, pattern, p, rules, budget)) return true;
        if (at == value.size()) break;
      }
      return false;
    }
    if (v >= value.size()) return false;
    size_t vsize = CharacterSize(value, v);
    std::string_view c = value.substr(v, vsize);
    if (pc == '_') {
      ++p;
    } else if (pc == '[') {
      size_t end = 0;
      std::optional<bool> in_class = ClassMatches(pattern, p, c, rules, end);
      if (!in_class) {
        if (c != "[") return false;
        ++p;
      } else {
        if (!*in_class) return false;
        p = end;
      }
    } else {
      size_t size = CharacterSize(pattern, p);
      if (!SameCharacter(pattern.substr(p, size), c, rules)) return false;
      p += size;
    }
    v += vsize;
  }
  if (rules.trailing_blanks_ignored) return WithoutTrailingSpaces(value).size() <= v;
  return v == value.size();
}

std::string_view Text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text),
                                            static_cast<size_t>(sqlite3_value_bytes(value)));
}

// Reads the escape argument `given` unless it is NULL; false after
// reporting 506 for one that is not a single character.
bool ReadEscape(sqlite3_context* context, sqlite3_value* given, LikeRules& rules) {
  if (sqlite3_value_type(given) == SQLITE_NULL) return true;
  std::string_view written = Text(given);
  if (written.size() != 1) {
    std::string text = FunctionErrorText(MakeError(506, {written, "LIKE"}));
    sqlite3_result_error(context, text.c_str(), -1);
    return false;
  }
  rules.escape = written[0];
  return true;
}

void Answer(sqlite3_context* context, sqlite3_value** args, const LikeRules& rules) {
  std::string value(Text(args[0]));
  std::string pattern(Text(args[1]));
  sqlite3_result_int(context, LikeMatches(value, pattern, rules) ? 1 : 0);
}

// sqlengine_like(value, pattern [, escape]): NULL when any argument is.
void Like(sqlite3_context* context, int count, sqlite3_value** args) {
  for (int k = 0; k < count; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) return sqlite3_result_null(context);
  }
  LikeRules rules;
  if (count > 2 && !ReadEscape(context, args[2], rules)) return;
  Answer(context, args, rules);
}

// sqlengine_like_as(value, pattern, escape or NULL, collation, unicode); collation: 1
// when case counts, plus 2 when accents do not, plus 4 when ranges follow the
// collation's order rather than code points (not a binary collation), plus 8
// when that order puts upper case first. SQL written before the 4 existed
// keeps reading ranges by code point.
void LikeAs(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  LikeRules rules;
  if (!ReadEscape(context, args[2], rules)) return;
  int collation = sqlite3_value_int(args[3]);
  rules.case_sensitive = (collation & 1) != 0;
  rules.accent_insensitive = (collation & 2) != 0;
  rules.ranges_by_collation = (collation & 4) != 0;
  rules.upper_first = (collation & 8) != 0;
  rules.trailing_blanks_ignored = sqlite3_value_int(args[4]) == 0;
  rules.national = !rules.trailing_blanks_ignored;
  Answer(context, args, rules);
}

void AddFunction(sqlite3* db, const char* name, int arguments,
                 void (*function)(sqlite3_context*, int, sqlite3_value**)) {
  if (sqlite3_create_function_v2(db, name, arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot register ") + name);
  }
}

}  // namespace

bool LikeMatches(std::string_view value, std::string_view pattern, const LikeRules& rules) {
  int budget = 1 << 20;
  return Match(value, 0, pattern, 0, rules, budget);
}

locale_t UnicodeLocale() {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return unicode;
}

char32_t FoldedCharacter(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(std::tolower(static_cast<int>(c)));
  locale_t unicode = UnicodeLocale();
  if (unicode == locale_t{}) return c;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), unicode));
}

std::string FoldedText(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    char32_t c = values::NextCodePoint(text, i);
    char32_t lower = FoldedCharacter(c);
    if (Utf8Size(lower) == i - start && c != U'\uFFFD')
      values::AppendUtf8(lower, folded);
    else
      folded.append(text.substr(start, i - start));
  }
  return folded;
}

int CompareIgnoringCase(std::string_view left, std::string_view right) {
  return CompareTexts<false>(left, right);
}

int CompareNationalIgnoringCase(std::string_view left, std::string_view right) {
  if (!HasSharpS(left) && !HasSharpS(right)) return CompareTexts<false>(left, right);
  return CompareTexts<false>(SharpSExpanded(left), SharpSExpanded(right));
}

int CompareInDictionaryOrder(std::string_view a, std::string_view b, bool case_sensitive,
                             bool accent_insensitive, bool upper_first, bool national) {
  return CompareDictionary(a, b, {case_sensitive, accent_insensitive, upper_first, national});
}

std::string DictionaryKey(std::string_view text, bool case_sensitive, bool accent_insensitive,
                          bool national) {
  std::string_view trimmed = WithoutTrailingSpaces(text);
  std::string expanded;
  if (national && HasSharpS(trimmed)) {
    expanded = SharpSExpanded(trimmed);
    trimmed = expanded;
  }
  // Case and accents both counted: equal only when spelled alike.
  if (case_sensitive && !accent_insensitive) return std::string(trimmed);
  std::string key;
  for (size_t i = 0; i < trimmed.size();) {
    char32_t original = values::NextCodePoint(trimmed, i);
    char32_t folded = FoldedCharacter(original);
    std::uint64_t weight = accent_insensitive ? PrimaryWeight(folded) : folded;
    key.append(reinterpret_cast<const char*>(&weight), sizeof weight);
    if (case_sensitive) key += folded == original ? 'l' : 'u';
  }
  return key;
}

std::string NationalFoldedText(std::string_view text) {
  return HasSharpS(text) ? FoldedText(SharpSExpanded(text)) : FoldedText(text);
}

namespace {

int RegisterCollations(sqlite3* db) {
  if (sqlite3_create_collation_v2(db, "sqlengine_ci", SQLITE_UTF8, nullptr, CompareText<false>,
                                  nullptr) != SQLITE_OK ||
      sqlite3_create_collation_v2(db, "sqlengine_cs", SQLITE_UTF8, nullptr, CompareText<true>,
                                  nullptr) != SQLITE_OK ||
      sqlite3_create_collation_v2(db, "sqlengine_ci_n", SQLITE_UTF8, nullptr, CompareNationalText,
                                  nullptr) != SQLITE_OK) {
    return SQLITE_ERROR;
  }
  for (const DictionaryCollation& collation : kDictionaryCollations) {
    void* rules = const_cast<DictionaryRules*>(&collation.rules);
    if (sqlite3_create_collation_v2(db, collation.name, SQLITE_UTF8, rules, CompareDictionaryText,
                                    nullptr) != SQLITE_OK)
      return SQLITE_ERROR;
  }
  return SQLITE_OK;
}

int RegisterCollationsAtOpen(sqlite3* db, char** error, const sqlite3_api_routines*) {
  int rc = RegisterCollations(db);
  if (rc != SQLITE_OK && error != nullptr)
    *error = sqlite3_mprintf("cannot register the engine's collations");
  return rc;
}

}  // namespace

std::string_view ColumnCollation(bool case_sensitive, bool national) {
  if (case_sensitive) return "sqlengine_cs";
  return national ? "sqlengine_ci_n" : "sqlengine_ci";
}

void RegisterCollationsForEveryConnection() {
  // SQLite keeps one entry per function however often it is added.
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(&RegisterCollationsAtOpen));
}

void RegisterTextComparison(sqlite3* db) {
  // SQLite's Bloom filter in front of an automatic index hashes a value's
  // bytes whatever the comparison's collation, so a join on 'x ' = 'X' under
  // sqlengine_ci would find no row (SQLite 3.40): the filter is turned off.
  constexpr int kBloomFilter = 0x00080000;
  sqlite3_test_control(SQLITE_TESTCTRL_OPTIMIZATIONS, db, kBloomFilter);
  if (RegisterCollations(db) != SQLITE_OK)
    throw std::runtime_error("cannot register the engine's collations");
  AddFunction(db, "sqlengine_like", 2, Like);
  AddFunction(db, "sqlengine_like", 3, Like);
  AddFunction(db, "sqlengine_like_as", 5, LikeAs);
}

}  // namespace sqlengine::exec
