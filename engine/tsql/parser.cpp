#include "engine/tsql/parser.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/global_temp_names.h"
#include "engine/tsql/labels.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/storage_options.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/temporary_foreign_keys.h"

namespace sqlengine::tsql {
namespace {

constexpr std::string_view kStatementStarters[] = {
    "alter",  "backup",      "begin",     "break",    "checkpoint", "commit",     "continue",
    "create", "dbcc",        "declare",   "delete",   "deny",       "drop",       "else",
    "end",    "exec",        "execute",   "goto",     "grant",      "if",         "insert",
    "kill",   "print",       "raiserror", "restore",  "return",     "revoke",     "rollback",
    "save",   "select",      "set",       "truncate", "update",     "use",        "waitfor",
    "while",  "reconfigure", "open",      "fetch",    "close",      "deallocate",
    "readtext", "writetext", "updatetext", "dump", "shutdown",
};

// A `##name` standing alone names tempdb's table; a procedure's arguments
// are values, not names. Applied again to a statement read from deferred text.
void QualifyNames(Statement& statement) {
  if (statement.kind != StatementKind::kExecute) QualifyGlobalTempNames(statement.tokens);
}

bool IsStarterWord(const Token& token) {
  if (token.kind != TokenKind::kWord) return false;
  // Asked of nearly every word of a batch: most are names, which differ
  // from every starter in length or first letter.
  const std::string& text = token.text;
  if (text.size() < 2 || text.size() > 11) return false;
  const char first = static_cast<char>(text[0] | 0x20);
  if (first < 'a' || first > 'z') return false;
  static const auto kByFirstLetter = [] {
    std::array<std::vector<std::string_view>, 26> starters;
    for (std::string_view w : kStatementStarters) starters[w[0] - 'a'].push_back(w);
    return starters;
  }();
  for (std::string_view w : kByFirstLetter[first - 'a']) {
    if (w.size() == text.size() && EqualsIgnoreCase(text, w)) return true;
  }
  return false;
}

// What a simple statement has seen so far, for the words that may either
// continue it or start the next one.
struct StatementState {
  const Token* lead = nullptr;
  bool update_has_set = false;
  bool insert_has_source = false;
  bool view = false;  // CREATE / ALTER VIEW
  bool view_has_query = false;
  bool alter_database = false;  // ALTER DATABASE d SET ...: its SET is its own
  bool alter_database_has_set = false;
  bool execute = false;  // EXEC p;2: the ';' before a group number is the name's
  bool alter_table = false;  // its ALL (NOCHECK CONSTRAINT ALL) ends it
  bool alter_table_acted = false;  // has its one ADD, DROP or ALTER COLUMN
};

bool StartsNextStatement(const Token& word, const Token& previous, StatementState& state) {
  if (!IsStarterWord(word)) return false;
  const Token& lead = *state.lead;
  // Inside the permission list of GRANT / REVOKE / DENY: SELECT, EXEC, CREATE TABLE ...
  bool in_permission =
      lead.IsAnyWord({"grant", "revoke", "deny"}) &&
      (previous.IsAnyWord({"grant", "revoke", "deny", "for"}) || previous.IsSymbol(","));
  if (in_permission && word.IsAnyWord({"create", "backup"})) return false;
  // WITH GRANT OPTION, REVOKE GRANT OPTION FOR.
  if (word.IsWord("grant") && previous.IsAnyWord({"with", "revoke"})) return false;
  // ALTER DATABASE ... SET ... WITH ROLLBACK IMMEDIATE.
  if (word.IsWord("rollback") && previous.IsWord("with") && lead.IsWord("alter")) return false;
  if (word.IsWord("select")) {
    // A view's query may stand after a WITH list.
    if (state.view && !state.view_has_query) {
      state.view_has_query = true;
      return false;
    }
    if (previous.IsWord("all") && state.alter_table) return true;
    if (previous.IsAnyWord({"union", "all", "except", "intersect", "as", "for"})) return false;
    if (in_permission) return false;
    if (lead.IsWord("insert") && !state.insert_has_source) {
      state.insert_has_source = true;
      return false;
    }
    return true;
  }
  if (word.IsAnyWord({"exec", "execute"})) {
    if (in_permission || previous.IsWord("with")) return false;
    if (lead.IsWord("insert") && !state.insert_has_source) {
      state.insert_has_source = true;
      state.execute = true;  // INSERT ... EXEC p;2
      return false;
    }
    return true;
  }
  if (word.IsAnyWord({"insert", "update", "delete"})) {
    // ON DELETE / ON UPDATE of a foreign key, FOR UPDATE of a cursor or trigger.
    bool definition = lead.IsAnyWord({"create", "alter", "declare"});
    // SET @c = CURSOR FOR SELECT ... FOR UPDATE.
    bool cursor_value = lead.IsWord("set") && previous.IsWord("for");
    return !in_permission && !cursor_value &&
           !(definition && previous.IsAnyWord({"on", "for", ","}));
  }
  if (word.IsWord("set")) {
    if (lead.IsAnyWord({"create", "alter"}) && previous.IsAnyWord({"delete", "update"}))
      return false;
    if (state.alter_database && !state.alter_database_has_set) {
      state.alter_database_has_set = true;
      return false;
    }
    if (lead.IsWord("update") && !state.update_has_set) {
      state.update_has_set = true;
      return false;
    }
    return true;
  }
  if (word.IsAnyWord({"drop", "add"}) && lead.IsWord("alter") && !state.alter_database) {
    // ALTER TABLE does one ADD or DROP; a second starts the next statement
    // (ALTER TABLE t ADD c int followed by DROP INDEX t.ix).
    if (!state.alter_table) return false;
    if (state.alter_table_acted) return true;
    state.alter_table_acted = true;
    return false;
  }
  return true;
}

StatementKind ClassifyCreate(const Token& object) {
  if (object.IsWord("table")) return StatementKind::kCreateTable;
  if (object.IsWord("database")) return StatementKind::kCreateDatabase;
  if (object.IsWord("login")) return StatementKind::kCreateLogin;
  if (object.IsAnyWord({"proc", "procedure"})) return StatementKind::kCreateProcedure;
  if (object.IsWord("trigger")) return StatementKind::kCreateTrigger;
  if (object.IsWord("function")) return StatementKind::kCreateFunction;
  if (object.IsAnyWord({"view", "index", "unique", "clustered", "nonclustered"})) {
    return StatementKind::kCreateOther;
  }
  return StatementKind::kUnsupported;
}

StatementKind ClassifyDrop(const Token& object) {
  if (object.IsWord("table")) return StatementKind::kDropTable;
  if (object.IsWord("database")) return StatementKind::kDropDatabase;
  if (object.IsWord("login")) return StatementKind::kDropLogin;
  if (object.IsAnyWord({"view", "index"})) return StatementKind::kDropOther;
  if (object.IsAnyWord({"proc", "procedure"})) return StatementKind::kDropProcedure;
  if (object.IsWord("trigger")) return StatementKind::kDropTrigger;
  if (object.IsWord("function")) return StatementKind::kDropFunction;
  return StatementKind::kUnsupported;
}

StatementKind Classify(const Token& lead, const Token& second) {
  struct Simple {
    std::string_view word;
    StatementKind kind;
  };
  static constexpr Simple kSimple[] = {
      {"select", StatementKind::kSelect},
      {"insert", StatementKind::kInsert},
      {"update", StatementKind::kUpdate},
      {"delete", StatementKind::kDelete},
      {"use", StatementKind::kUse},
      {"print", StatementKind::kPrint},
      {"raiserror", StatementKind::kRaiserror},
      {"waitfor", StatementKind::kWaitFor},
      {"declare", StatementKind::kDeclare},
      {"set", StatementKind::kSet},
      {"return", StatementKind::kReturn},
      {"break", StatementKind::kBreak},
      {"continue", StatementKind::kContinue},
      {"goto", StatementKind::kGoto},
      {"exec", StatementKind::kExecute},
      {"execute", StatementKind::kExecute},
      {"commit", StatementKind::kCommit},
      {"rollback", StatementKind::kRollback},
      {"save", StatementKind::kSaveTransaction},
      {"backup", StatementKind::kBackup},
      {"dump", StatementKind::kBackup},  // the older name, still taken
      {"restore", StatementKind::kRestore},
      {"dbcc", StatementKind::kDbcc},
      {"grant", StatementKind::kPermission},
      {"revoke", StatementKind::kPermission},
      {"deny", StatementKind::kPermission},
      {"reconfigure", StatementKind::kReconfigure},
      {"open", StatementKind::kOpenCursor},
      {"fetch", StatementKind::kFetch},
      {"close", StatementKind::kCloseCursor},
      {"deallocate", StatementKind::kDeallocateCursor},
  };
  if (lead.IsWord("update") && second.IsWord("statistics")) {
    return StatementKind::kUpdateStatistics;
  }
  if (lead.IsWord("checkpoint")) return StatementKind::kCheckpoint;
  if (lead.IsWord("kill")) return StatementKind::kKill;
  if (lead.IsWord("shutdown")) return StatementKind::kShutdown;
  for (const Simple& simple : kSimple) {
    if (lead.IsWord(simple.word)) return simple.kind;
  }
  if (lead.IsWord("create")) return ClassifyCreate(second);
  if (lead.IsWord("drop")) return ClassifyDrop(second);
  if (lead.IsWord("alter") && second.IsWord("table")) return StatementKind::kAlterTable;
  if (lead.IsWord("alter") && second.IsWord("view")) return StatementKind::kCreateOther;
  if (lead.IsWord("alter") && second.IsWord("database")) return StatementKind::kAlterDatabase;
  if (lead.IsWord("alter") && second.IsAnyWord({"proc", "procedure"})) {
    return StatementKind::kCreateProcedure;
  }
  if (lead.IsWord("alter") && second.IsWord("trigger")) return StatementKind::kCreateTrigger;
  if (lead.IsWord("alter") && second.IsWord("function")) return StatementKind::kCreateFunction;
  if (lead.IsWord("truncate") && second.IsWord("table")) return StatementKind::kTruncateTable;
  if (lead.IsWord("begin")) return StatementKind::kBeginTransaction;
  return StatementKind::kUnsupported;
}

// The tokens a parser reads: a whole list, or a client's text read as the
// parser asks for them, of which only those from the current statement on
// are kept. A reference to a token stays good until Forget drops it.
class TokenWindow {
 public:
  explicit TokenWindow(const Tokens& all) : all_(&all) {}
  explicit TokenWindow(std::string_view client_text)
      : reader_(std::in_place, client_text, true), text_(client_text) {}

  // Token `at` (counted from the first); a kEnd past the last. `at` is not
  // before what Forget dropped. Throws what reading the text throws.
  const Token& operator[](size_t at) {
    static const Token kPastEnd;
    if (all_ != nullptr) return at < all_->size() ? (*all_)[at] : kPastEnd;
    while (!ended_ && read_ <= at) ReadOne();
    return at < read_ ? SlotOf(at).token : kPastEnd;
  }
  // Drops the tokens before `at`, which the parser will not read again (a
  // chunk's worth at a time: the ones before it in its chunk stay).
  void Forget(size_t at) {
    size_t whole = std::min((at - first_) / kChunk, chunks_.size());
    for (size_t k = 0; k < whole; ++k) {
      if (spare_.size() < kSpareChunks) spare_.push_back(std::move(chunks_[k]));
    }
    chunks_.erase(chunks_.begin(), chunks_.begin() + static_cast<std::ptrdiff_t>(whole));
    first_ += whole * kChunk;
  }
  // The text read from the token `from` (already read) up to the one at `end`,
  // to be lexed again later; nullopt for a window over a list of tokens.
  std::optional<DeferredText> Stretch(size_t from, size_t end) {
    if (!reader_) return std::nullopt;
    const size_t end_offset = (*this)[end].offset;
    return DeferredText{text_, SlotOf(from).mark, end_offset};
  }
  // Reads the rest of the text, for the error reading it throws.
  void ReadRest() {
    if (reader_) {
      while (reader_->Next().kind != TokenKind::kEnd) {
      }
    }
  }

 private:
  // A token read and the reader before it. The tokens are kept in chunks,
  // which stay where they are while more are read and are used again once
  // dropped: neither a token nor its strings' memory is made anew for each.
  struct Slot {
    Token token;
    TokenReader::Mark mark;
  };
  static constexpr size_t kChunk = 64;
  static constexpr size_t kSpareChunks = 4;
  using Chunk = std::array<Slot, kChunk>;

  Slot& SlotOf(size_t at) {
    const size_t index = at - first_;
    return (*chunks_[index / kChunk])[index % kChunk];
  }
  void ReadOne() {
    if (read_ - first_ == chunks_.size() * kChunk) {
      if (spare_.empty()) {
        chunks_.push_back(std::make_unique<Chunk>());
      } else {
        chunks_.push_back(std::move(spare_.back()));
        spare_.pop_back();
      }
    }
    Slot& slot = SlotOf(read_);
    slot.mark = reader_->Here();
    slot.token = reader_->Next();
    ended_ = slot.token.kind == TokenKind::kEnd;
    ++read_;
  }

  const Tokens* all_ = nullptr;
  std::optional<TokenReader> reader_;
  std::string_view text_;
  std::vector<std::unique_ptr<Chunk>> chunks_;  // tokens first_ ... read_ - 1
  std::vector<std::unique_ptr<Chunk>> spare_;
  size_t first_ = 0;
  size_t read_ = 0;
  bool ended_ = false;
};

class Parser {
 public:
  // `defer_tokens`: see ParseBatchDeferringTokens.
  explicit Parser(TokenWindow& tokens, bool defer_tokens = false)
      : tokens_(tokens), defer_tokens_(defer_tokens) {}

  StatementList Run() {
    StatementList statements;
    while (SkipSemicolons()) {
      statements.push_back(ParseStatement(/*batch_start=*/statements.empty()));
      // Only the last token of a statement is read again (to name it in an error).
      tokens_.Forget(pos_ - 1);
    }
    return statements;
  }

 private:
  const Token& Peek(size_t ahead = 0) const { return tokens_[pos_ + ahead]; }
  const Token* Previous() const { return pos_ > 0 ? &tokens_[pos_ - 1] : nullptr; }
  bool AtEnd() const { return Peek().kind == TokenKind::kEnd; }

  // False at the end of the batch.
  bool SkipSemicolons() {
    while (Peek().IsSymbol(";")) ++pos_;
    return !AtEnd();
  }

  std::unique_ptr<Statement> ParseStatement(bool batch_start) {
    if (!SkipSemicolons()) throw SyntaxError(Peek(), Previous());
    NestingGuard guard(nesting_, Peek());
    const Token& lead = Peek();
    if (lead.IsWord("if") || lead.IsWord("while")) return ParseConditional();
    if (lead.IsWord("begin") && !Peek(1).IsAnyWord({"tran", "transaction", "distributed"})) {
      return ParseBlock();
    }
    if (lead.IsWord("else") || lead.IsWord("end")) throw SyntaxError(lead);
    if (lead.IsWord("with")) return ParseWith();
    if (StartsLabel()) return ParseLabel();
    if (IsStarterWord(lead)) {
      // The nesting guard counts this statement: 1 at the batch's top level.
      return ParseSimple(Classify(lead, Peek(1)), defer_tokens_ && nesting_ == 1 && !batch_start);
    }
    if (batch_start && lead.IsName()) return ParseSimple(StatementKind::kExecute);
    throw SyntaxError(lead);
  }

  // Whether `name:` (which declares a GOTO label) is next. The lexer reads
  // `::` as one symbol, so a lone `:` is never half of it.
  bool StartsLabel() const {
    return Peek().kind == TokenKind::kWord && Peek(1).IsSymbol(":") &&
           !IsReservedKeyword(Peek().text);
  }

  std::unique_ptr<Statement> ParseLabel() {
    auto label = std::make_unique<Statement>();
    label->kind = StatementKind::kLabel;
    label->line = Peek().line;
    label->tokens = {Peek(), Peek(1)};
    pos_ += 2;
    return label;
  }

  std::unique_ptr<Statement> ParseConditional() {
    auto statement = std::make_unique<Statement>();
    const Token& lead = Peek();
    statement->kind = lead.IsWord("if") ? StatementKind::kIf : StatementKind::kWhile;
    statement->line = lead.line;
    statement->tokens.push_back(lead);
    ++pos_;
    StatementState state{&lead};
    statement->condition = CollectUntilNextStatement(state);
    if (statement->condition.empty()) throw SyntaxError(Peek(), Previous());
    QualifyGlobalTempNames(statement->condition);
    statement->body.push_back(ParseStatement(false));
    if (statement->kind == StatementKind::kIf) {
      SkipSemicolons();
      if (Peek().IsWord("else")) {
        ++pos_;
        statement->else_branch = ParseStatement(false);
      }
    }
    return statement;
  }

  std::unique_ptr<Statement> ParseBlock() {
    auto block = std::make_unique<Statement>();
    block->kind = StatementKind::kBlock;
    block->line = Peek().line;
    block->tokens.push_back(Peek());
    ++pos_;
    if (Peek().IsWord("try")) return ParseTryCatch(std::move(block));
    if (Peek().IsWord("catch")) throw SyntaxError(Peek(), Previous());
    block->body = ParseUntilEnd();
    return block;
  }

  // The statements up to END, which it takes.
  StatementList ParseUntilEnd() {
    StatementList list;
    while (true) {
      if (!SkipSemicolons()) throw SyntaxError(Peek(), Previous());
      if (Peek().IsWord("end")) {
        ++pos_;
        return list;
      }
      list.push_back(ParseStatement(false));
    }
  }

  // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH; `block` holds the first BEGIN.
  std::unique_ptr<Statement> ParseTryCatch(std::unique_ptr<Statement> block) {
    block->kind = StatementKind::kTryCatch;
    ++pos_;  // TRY
    block->body = ParseUntilEnd();
    Expect("try");
    SkipSemicolons();
    if (!Peek().IsWord("begin") || !Peek(1).IsWord("catch")) throw SyntaxError(Peek(), Previous());
    auto handler = std::make_unique<Statement>();
    handler->kind = StatementKind::kBlock;
    handler->line = Peek().line;
    handler->tokens.push_back(Peek());
    pos_ += 2;
    handler->body = ParseUntilEnd();
    Expect("catch");
    block->else_branch = std::move(handler);
    return block;
  }

  // WITH cte [, cte ...] followed by the SELECT, INSERT, UPDATE or DELETE using it.
  std::unique_ptr<Statement> ParseWith() {
    const Token& with = Peek();
    ++pos_;
    std::vector<CommonTableExpression> list;
    list.push_back(ParseCommonTableExpression());
    while (Peek().IsSymbol(",")) {
      ++pos_;
      list.push_back(ParseCommonTableExpression());
    }
    const Token& lead = Peek();
    if (!lead.IsAnyWord({"select", "insert", "update", "delete"})) {
      throw SyntaxError(lead, Previous());
    }
    std::unique_ptr<Statement> statement = ParseSimple(Classify(lead, Peek(1)));
    statement->line = with.line;
    statement->with = std::move(list);
    return statement;
  }

  // Takes the current token when it can name a table or column of a WITH list.
  const Token& TakeName() {
    const Token& name = Peek();
    bool usable = name.kind == TokenKind::kQuotedName ||
                  (name.kind == TokenKind::kWord && !IsReservedKeyword(name.text));
    if (!usable) throw SyntaxError(name, Previous());
    ++pos_;
    return name;
  }

  void Expect(std::string_view symbol_or_word) {
    const Token& token = Peek();
    if (!token.IsSymbol(symbol_or_word) && !token.IsWord(symbol_or_word)) {
      throw SyntaxError(token, Previous());
    }
    ++pos_;
  }

  CommonTableExpression ParseCommonTableExpression() {
    CommonTableExpression cte;
    cte.name = TakeName();
    if (Peek().IsSymbol("(")) {
      ++pos_;
      cte.columns.push_back(TakeName());
      while (Peek().IsSymbol(",")) {
        ++pos_;
        cte.columns.push_back(TakeName());
      }
      Expect(")");
    }
    Expect("as");
    Expect("(");
    if (!Peek().IsWord("select") && !Peek().IsSymbol("(")) throw SyntaxError(Peek(), Previous());
    int depth = 0;
    while (depth > 0 || !Peek().IsSymbol(")")) {
      const Token& token = Peek();
      if (AtEnd() || token.IsSymbol(";")) throw SyntaxError(token, Previous());
      if (token.IsSymbol("(") && ++depth > kMaxParentheses) throw TooDeep(token);
      if (token.IsSymbol(")")) --depth;
      cte.query.push_back(token);
      ++pos_;
    }
    ++pos_;
    QualifyGlobalTempNames(cte.query);
    return cte;
  }

  // `may_defer`: a small row statement keeps where its text stands rather
  // than its tokens.
  std::unique_ptr<Statement> ParseSimple(StatementKind kind, bool may_defer = false) {
    auto statement = std::make_unique<Statement>();
    statement->kind = kind;
    statement->line = Peek().line;
    const Token& lead = Peek();
    // The lead is taken with the rest, in one allocation.
    const size_t lead_at = pos_;
    ++pos_;
    if (kind == StatementKind::kCreateProcedure || kind == StatementKind::kCreateTrigger ||
        kind == StatementKind::kCreateFunction) {
      // A procedure's, trigger's or function's body is the rest of the batch.
      while (!AtEnd()) ++pos_;
      Append(lead_at, statement->tokens);
      return statement;
    }
    StatementState state{&lead};
    state.view = lead.IsAnyWord({"create", "alter"}) && Peek().IsWord("view");
    // UPDATE STATISTICS has no SET: one that follows starts the next statement.
    state.update_has_set = kind == StatementKind::kUpdateStatistics;
    state.alter_database = kind == StatementKind::kAlterDatabase;
    state.alter_table = kind == StatementKind::kAlterTable;
    state.execute = kind == StatementKind::kExecute;
    SkipToNextStatement(state);
    if (may_defer && pos_ - lead_at <= kMostDeferredTokens && DefersTokens(kind)) {
      statement->deferred = tokens_.Stretch(lead_at, pos_);
      if (statement->deferred) return statement;
    }
    Append(lead_at, statement->tokens);
    QualifyNames(*statement);
    if (kind == StatementKind::kCreateTable || kind == StatementKind::kCreateOther ||
        kind == StatementKind::kAlterTable) {
      statement->drop_existing = DropStorageOptions(statement->tokens);
    }
    if (kind == StatementKind::kCreateTable || kind == StatementKind::kAlterTable) {
      SkippedForeignKeys skipped = DropTemporaryForeignKeys(statement->tokens);
      statement->skipped_foreign_keys = std::move(skipped.names);
      // An ALTER TABLE that only added them does nothing else.
      if (skipped.nothing_left) statement->kind = StatementKind::kBlock;
    }
    return statement;
  }

  // Takes tokens up to the next statement's first word at nesting depth 0, or a ';'.
  Tokens CollectUntilNextStatement(StatementState& state) {
    size_t start = SkipToNextStatement(state);
    Tokens taken;
    Append(start, taken);
    return taken;
  }

  // Appends the tokens from `start` up to the current one to `out`.
  void Append(size_t start, Tokens& out) const {
    out.reserve(out.size() + pos_ - start);
    for (size_t at = start; at < pos_; ++at) out.push_back(tokens_[at]);
  }

  // Moves past what CollectUntilNextStatement takes; the index it started at.
  size_t SkipToNextStatement(StatementState& state) {
    const size_t start = pos_;
    int depth = 0;
    int case_depth = 0;
    while (!AtEnd()) {
      const Token& token = Peek();
      bool taken_any = pos_ > start;
      if (depth == 0 && token.IsSymbol(";")) {
        // No statement starts with a number: after a name it is a group's.
        bool group_number = state.execute && taken_any && tokens_[pos_ - 1].IsName() &&
                            Peek(1).kind == TokenKind::kNumber;
        if (!group_number) break;
      }
      if (depth == 0 && taken_any && StartsLabel()) break;
      if (token.IsSymbol("(") && ++depth > kMaxParentheses) throw TooDeep(token);
      if (token.IsSymbol(")") && depth > 0) --depth;
      if (depth == 0 && token.kind == TokenKind::kWord) {
        if (token.IsWord("case")) {
          ++case_depth;
        } else if (token.IsWord("end") && case_depth > 0) {
          --case_depth;
        } else if (state.alter_table && token.IsWord("alter") &&
                   Peek(1).IsWord("column")) {
          // ALTER TABLE t ALTER COLUMN c ...: no statement starts with ALTER COLUMN.
          state.alter_table_acted = true;
        } else if (state.alter_table && token.IsWord("add")) {
          // ALTER TABLE t ADD ...: its one action (no statement starts with ADD).
          state.alter_table_acted = true;
        } else if (case_depth == 0 &&
                   StartsNextStatement(token, taken_any ? tokens_[pos_ - 1] : *state.lead,
                                       state)) {
          break;
        }
        if (state.lead->IsWord("insert") && token.IsAnyWord({"values", "default"})) {
          state.insert_has_source = true;
        }
      }
      ++pos_;
    }
    return start;
  }

  static bool DefersTokens(StatementKind kind) {
    return kind == StatementKind::kSelect || kind == StatementKind::kInsert ||
           kind == StatementKind::kUpdate || kind == StatementKind::kDelete ||
           kind == StatementKind::kExecute;
  }
  // A longer statement is read once: lexing it again would cost more than
  // its tokens' memory.
  static constexpr size_t kMostDeferredTokens = 256;

  // Nesting beyond these limits is refused rather than risking the stack.
  static constexpr int kMaxNesting = 128;
  static constexpr int kMaxParentheses = 256;

  static SqlError TooDeep(const Token& at) {
    SqlError error = MakeError(191);
    error.message().line = at.line;
    return error;
  }

  struct NestingGuard {
    NestingGuard(int& depth, const Token& at) : depth_(depth) {
      if (++depth_ > kMaxNesting) {
        --depth_;
        throw TooDeep(at);
      }
    }
    ~NestingGuard() { --depth_; }
    int& depth_;
  };

  TokenWindow& tokens_;
  const bool defer_tokens_;
  size_t pos_ = 0;
  int nesting_ = 0;
};

}  // namespace

StatementList ParseBatch(const Tokens& tokens) {
  TokenWindow window(tokens);
  StatementList batch = Parser(window).Run();
  CheckLabels(batch);
  return batch;
}

namespace {

StatementList ParseClientText(std::string_view batch, bool defer_tokens) {
  // Read as the parser goes, so that a long batch's tokens are never all
  // held at once (only its statements' own copies are).
  TokenWindow window(batch);
  StatementList statements;
  try {
    statements = Parser(window, defer_tokens).Run();
  } catch (const SqlError&) {
    // A text that cannot be read fails as that, wherever the parser stopped.
    window.ReadRest();
    throw;
  }
  CheckLabels(statements);
  return statements;
}

}  // namespace

StatementList ParseBatch(std::string_view batch) { return ParseClientText(batch, false); }

StatementList ParseBatchDeferringTokens(std::string_view batch) {
  return ParseClientText(batch, true);
}

std::optional<Statement> ReadDeferred(const Statement& statement) {
  if (!statement.deferred) return std::nullopt;
  std::optional<Statement> read(std::in_place);
  read->kind = statement.kind;
  read->line = statement.line;
  read->tokens = LexDeferred(*statement.deferred);
  QualifyNames(*read);
  return read;
}

}  // namespace sqlengine::tsql
