#include "engine/tsql/parse/query_parser.h"

#include <utility>

#include "engine/tsql/syntax_error.h"
#include "engine/values/number_text.h"

namespace sqlengine::tsql::parse {
namespace {

// Deep nesting is refused before it can exhaust the stack.
constexpr int kMaxDepth = 200;

class Parser {
 public:
  explicit Parser(const Tokens& tokens) : tokens_(tokens) {}

  std::unique_ptr<Query> Statement() {
    if (!At().IsWord("select")) Fail();
    into_allowed_ = true;
    std::unique_ptr<Query> query = QueryBody();
    if (At().IsWord("for") && At(1).IsWord("xml")) ForXmlClause(*query);
    if (At().IsAnyWord({"for", "option", "compute", "into"})) Unsupported("clause");
    if (!AtEnd()) Fail();
    return query;
  }

  std::unique_ptr<InsertStatement> Insert() {
    auto insert = std::make_unique<InsertStatement>();
    if (!At().IsWord("insert")) Fail();
    insert->origin = Next();  // INSERT
    if (At().IsWord("top")) Unsupported("INSERT TOP");
    AcceptWord("into");
    insert->table = TableName();
    // A parenthesis here opens the column list: only WITH (...) is hints.
    if (At().IsWord("with")) insert->hints = TargetHints();
    if (AcceptSymbol("(")) {
      do {
        if (!At().IsName()) Fail();
        insert->columns.push_back(Next().value);
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    if (AcceptWord("values")) {
      do {
        ExpectSymbol("(");
        std::vector<std::unique_ptr<Expr>> row;
        do {
          row.push_back(AcceptWord("default") ? nullptr : ValueExpression());
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
        insert->rows.push_back(std::move(row));
      } while (AcceptSymbol(","));
    } else if (At().IsWord("select")) {
      insert->query = QueryBody();
      if (At().IsAnyWord({"for", "option", "compute", "into"})) Unsupported("clause");
    } else if (At().IsWord("default")) {
      if (!insert->columns.empty()) Fail();  // SQL Server takes no column list here
      ++i_;
      ExpectWord("values");
      insert->default_values = true;
    } else {
      // EXECUTE (taken apart by the executor), OUTPUT and a parenthesised query.
      Unsupported("INSERT source");
    }
    if (!AtEnd()) Fail();
    return insert;
  }

  std::unique_ptr<UpdateStatement> Update() {
    auto update = std::make_unique<UpdateStatement>();
    if (!At().IsWord("update")) Fail();
    update->origin = Next();  // UPDATE
    if (At().IsWord("top")) Unsupported("UPDATE TOP");
    update->target = TableName();
    update->hints = TargetHints();
    if (At().IsWord("with") || At().IsSymbol("(")) Unsupported("table function");
    ExpectWord("set");
    do {
      update->assignments.push_back(SetItem());
    } while (AcceptSymbol(","));
    TailClauses(update->from, update->where);
    return update;
  }

  // One item of an UPDATE's SET list: `column = value`, `@v = value` or
  // `@v = column = value`.
  Assignment SetItem() {
    Assignment assignment;
    assignment.origin = At();
    if (At().kind == TokenKind::kVariable) {
      if (!At(1).IsSymbol("=")) Unsupported("compound assignment or method call");
      assignment.variable = Next().value;
      ++i_;  // =
      // `@v = column = value`: a name (maybe qualified) followed by `=`; an
      // expression never holds `=` here.
      bool column_follows = At().IsName() && (At(1).IsSymbol("=") ||
                                               (At(1).IsSymbol(".") && At(2).IsName() &&
                                                At(3).IsSymbol("=")));
      if (!column_follows) {
        assignment.value = ValueExpression();
        return assignment;
      }
    }
    if (!At().IsName()) Fail();
    assignment.column.push_back(Next().value);
    if (AcceptSymbol(".")) {
      if (!At().IsName()) Fail();
      assignment.column.push_back(Next().value);
    }
    if (!At().IsSymbol("=")) Unsupported("compound assignment or method call");
    ++i_;
    if (AcceptWord("default")) {
      if (!assignment.variable.empty()) Fail();
      return assignment;
    }
    assignment.value = ValueExpression();
    return assignment;
  }

  std::unique_ptr<DeleteStatement> Delete() {
    auto statement = std::make_unique<DeleteStatement>();
    if (!At().IsWord("delete")) Fail();
    statement->origin = Next();  // DELETE
    if (At().IsWord("top")) Unsupported("DELETE TOP");
    AcceptWord("from");
    statement->target = TableName();
    statement->hints = TargetHints();
    if (At().IsWord("with") || At().IsSymbol("(")) Unsupported("table function");
    TailClauses(statement->from, statement->where);
    return statement;
  }

  std::unique_ptr<Expr> WholeExpression() {
    std::unique_ptr<Expr> expr = Expression();
    if (!AtEnd()) Fail();
    return expr;
  }

 private:
  const Token& At(size_t ahead = 0) const {
    static const Token kEnd;
    size_t at = i_ + ahead;
    return at < tokens_.size() ? tokens_[at] : kEnd;
  }
  bool AtEnd() const { return i_ >= tokens_.size() || tokens_[i_].kind == TokenKind::kEnd; }
  const Token& Next() { return tokens_[i_++]; }

  [[noreturn]] void Unsupported(const std::string& why) const { throw NotParsed(why, At()); }

  [[noreturn]] void Fail() const {
    const Token* previous = i_ > 0 && i_ - 1 < tokens_.size() ? &tokens_[i_ - 1] : nullptr;
    throw SyntaxError(At(), previous);
  }

  bool AcceptWord(std::string_view word) {
    if (!At().IsWord(word)) return false;
    ++i_;
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!At().IsSymbol(symbol)) return false;
    ++i_;
    return true;
  }
  void ExpectWord(std::string_view word) {
    if (!AcceptWord(word)) Fail();
  }
  void ExpectSymbol(std::string_view symbol) {
    if (!AcceptSymbol(symbol)) Fail();
  }

  struct DepthGuard {
    explicit DepthGuard(Parser& parser) : parser(parser) {
      if (++parser.depth_ > kMaxDepth) throw MakeError(191);
    }
    ~DepthGuard() { --parser.depth_; }
    Parser& parser;
  };

  // A name that is not a reserved keyword, or a quoted one.
  bool AtName(size_t ahead = 0) const {
    const Token& token = At(ahead);
    return token.kind == TokenKind::kQuotedName ||
           (token.kind == TokenKind::kWord && !IsReservedKeyword(token.text));
  }

  std::unique_ptr<Expr> Node(ExprKind kind, const Token& origin) {
    auto node = std::make_unique<Expr>();
    node->kind = kind;
    node->origin = origin;
    return node;
  }

  // ---- data changes

  // The written table's name: 1 to 3 parts, an omitted part ("db..t") "".
  std::vector<std::string> TableName() {
    if (!At().IsName()) Fail();
    if (At().kind == TokenKind::kWord && IsReservedKeyword(At().text)) Fail();
    std::vector<std::string> name;
    name.push_back(Next().value);
    while (At().IsSymbol(".")) {
      ++i_;
      if (At().IsSymbol(".")) {
        name.emplace_back();
        continue;
      }
      if (!At().IsName()) Fail();
      name.push_back(Next().value);
    }
    if (name.size() > 3) Unsupported("linked server");
    return name;
  }

  // [FROM sources] [WHERE condition] and the end of an UPDATE or DELETE.
  void TailClauses(std::vector<std::unique_ptr<TableSource>>& from, std::unique_ptr<Expr>& where) {
    if (At().IsWord("output")) Unsupported("OUTPUT");
    if (AcceptWord("from")) {
      do {
        from.push_back(JoinedSource());
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("where")) {
      if (At().IsWord("current") && At(1).IsWord("of")) Unsupported("WHERE CURRENT OF");
      where = Expression();
    }
    if (At().IsWord("option")) Unsupported("OPTION");
    if (!AtEnd()) Fail();
  }

  // FOR XML RAW | AUTO | EXPLICIT [, XMLDATA] [, ELEMENTS] [, BINARY BASE64],
  // at FOR.
  void ForXmlClause(Query& query) {
    ForXml clause;
    query.for_xml_origin = Next();  // FOR
    ++i_;                           // XML
    if (AcceptWord("raw")) {
      clause.mode = ForXml::Mode::kRaw;
    } else if (AcceptWord("auto")) {
      clause.mode = ForXml::Mode::kAuto;
    } else if (AcceptWord("explicit")) {
      clause.mode = ForXml::Mode::kExplicit;
    } else {
      Fail();
    }
    while (AcceptSymbol(",")) {
      if (AcceptWord("xmldata")) {
        clause.xmldata = true;
      } else if (AcceptWord("elements")) {
        clause.elements = true;
      } else if (At().IsWord("binary") && At(1).IsWord("base64")) {
        i_ += 2;
        clause.binary_base64 = true;
      } else {
        Fail();
      }
    }
    query.for_xml = std::move(clause);
  }

  // ---- queries

  std::unique_ptr<Query> QueryBody() {
    DepthGuard guard(*this);
    auto query = std::make_unique<Query>();
    query->terms.push_back(Block());
    while (At().IsWord("union")) {
      ++i_;
      query->union_all.push_back(AcceptWord("all"));
      if (AcceptSymbol("(")) {
        query->terms.push_back(ParenthesisedTerm());
        continue;
      }
      if (!At().IsWord("select")) Fail();
      query->terms.push_back(Block());
    }
    if (At().IsWord("order")) {
      ++i_;
      ExpectWord("by");
      do {
        OrderItem item;
        item.expr = ValueExpression();
        if (AcceptWord("desc")) {
          item.descending = true;
        } else {
          AcceptWord("asc");
        }
        query->order_by.push_back(std::move(item));
      } while (AcceptSymbol(","));
    }
    return query;
  }

  // UNION (SELECT ...): one SELECT in parentheses, after its '('.
  std::unique_ptr<SelectBlock> ParenthesisedTerm() {
    if (!At().IsWord("select")) Fail();
    std::unique_ptr<Query> inner = QueryBody();
    ExpectSymbol(")");
    if (inner->terms.size() != 1 || !inner->order_by.empty())
      Unsupported("parenthesised UNION or ORDER BY in a UNION term");
    return std::move(inner->terms.front());
  }

  std::unique_ptr<SelectBlock> Block() {
    auto block = std::make_unique<SelectBlock>();
    block->origin = Next();  // SELECT
    const bool into_here = std::exchange(into_allowed_, false);
    if (AcceptWord("distinct")) {
      block->distinct = true;
    } else {
      AcceptWord("all");
    }
    if (At().IsWord("top")) {
      const Token& top = Next();
      if (AcceptSymbol("(")) {
        block->top = ValueExpression();
        ExpectSymbol(")");
      } else if (At().kind == TokenKind::kNumber || At().kind == TokenKind::kVariable) {
        block->top = Primary();
      } else {
        Fail();
      }
      block->top->origin = top;
      block->top_percent = AcceptWord("percent");
      if (At().IsWord("with") && At(1).IsWord("ties")) {
        i_ += 2;
        block->top_ties = true;
      }
    }
    do {
      block->items.push_back(Item());
    } while (AcceptSymbol(","));
    if (At().IsWord("into")) {
      // Nested or after UNION, INTO is an error the older path reports.
      if (!into_here) Unsupported("SELECT INTO");
      ++i_;
      block->into = TableName();
    }
    if (AcceptWord("from")) {
      do {
        block->from.push_back(JoinedSource());
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("where")) block->where = Expression();
    if (At().IsWord("group")) {
      ++i_;
      ExpectWord("by");
      block->group_all = AcceptWord("all");
      do {
        block->group_by.push_back(ValueExpression());
      } while (AcceptSymbol(","));
      if (At().IsWord("with") && At(1).IsAnyWord({"rollup", "cube"})) {
        block->grouping =
            At(1).IsWord("rollup") ? SelectBlock::Grouping::kRollup : SelectBlock::Grouping::kCube;
        i_ += 2;
      }
    }
    if (AcceptWord("having")) block->having = Expression();
    return block;
  }

  // Whether a string may stand as an alias here (`'name' = expr`, `expr 'name'`).
  static bool IsAliasToken(const Token& token) { return token.kind == TokenKind::kString; }

  SelectItem Item() {
    SelectItem item;
    item.origin = At();
    if (AcceptSymbol("*")) {
      item.star = true;
      return item;
    }
    // t.* / owner.t.* / db.owner.t.*
    size_t k = 0;
    std::vector<std::string> qualifier;
    while (At(k).IsName() && At(k + 1).IsSymbol(".")) {
      qualifier.push_back(At(k).value);
      k += 2;
    }
    if (!qualifier.empty() && At(k).IsSymbol("*")) {
      i_ += k + 1;
      item.star = true;
      item.star_qualifier = std::move(qualifier);
      return item;
    }
    if (At().kind == TokenKind::kVariable && At(1).IsSymbol("=")) Unsupported("assignment");
    if ((At().IsName() || IsAliasToken(At())) && At(1).IsSymbol("=")) {
      if (At().kind == TokenKind::kWord && IsReservedKeyword(At().text)) Fail();
      item.alias = Next().value;
      ++i_;
      item.expr = ValueExpression();
      return item;
    }
    item.expr = ValueExpression();
    if (AcceptWord("as")) {
      if (!At().IsName() && !IsAliasToken(At())) Fail();
      item.alias = Next().value;
    } else if (AtName() || IsAliasToken(At())) {
      item.alias = Next().value;
    }
    return item;
  }

  std::unique_ptr<TableSource> JoinedSource() { return Joins(Source()); }

  bool AtJoin() const {
    return At().IsAnyWord({"join", "inner", "left", "right", "full", "cross"});
  }

  // The joins onto `left` while a join follows. A join whose right side is
  // followed by another join before its ON (a JOIN b JOIN c ON x ON y) nests
  // to the right: the innermost pending join takes the first ON.
  std::unique_ptr<TableSource> Joins(std::unique_ptr<TableSource> left) {
    DepthGuard guard(*this);
    while (true) {
      JoinKind kind;
      const Token& origin = At();
      if (AcceptWord("cross")) {
        kind = JoinKind::kCross;
      } else if (AcceptWord("inner")) {
        kind = JoinKind::kInner;
      } else if (At().IsAnyWord({"left", "right", "full"})) {
        kind = At().IsWord("left")    ? JoinKind::kLeft
               : At().IsWord("right") ? JoinKind::kRight
                                      : JoinKind::kFull;
        ++i_;
        AcceptWord("outer");
      } else if (At().IsWord("join")) {
        kind = JoinKind::kInner;
      } else {
        return left;
      }
      // A join hint after the join's type (INNER HASH JOIN) chooses a plan,
      // not an answer; SQLite's planner chooses its own.
      if (kind != JoinKind::kCross && !origin.IsWord("join") &&
          At().IsAnyWord({"hash", "merge", "loop", "remote"}))
        ++i_;
      ExpectWord("join");
      auto join = std::make_unique<TableSource>();
      join->kind = TableSource::Kind::kJoin;
      join->join = kind;
      join->origin = origin;
      join->left = std::move(left);
      join->right = Source();
      if (kind != JoinKind::kCross) {
        if (AtJoin()) join->right = Joins(std::move(join->right));
        ExpectWord("on");
        join->on = Expression();
      }
      left = std::move(join);
    }
  }

  std::unique_ptr<TableSource> Source() {
    auto source = std::make_unique<TableSource>();
    source->origin = At();
    if (AcceptSymbol("(")) {
      if (!At().IsWord("select")) {
        // (a JOIN b ON ...): the parentheses only group.
        std::unique_ptr<TableSource> grouped = JoinedSource();
        ExpectSymbol(")");
        return grouped;
      }
      source->kind = TableSource::Kind::kDerived;
      source->derived = QueryBody();
      ExpectSymbol(")");
      AcceptWord("as");
      if (!AtName()) Fail();
      source->alias = Next().value;
      if (AcceptSymbol("(")) {
        do {
          if (!At().IsName()) Fail();
          source->columns.push_back(Next().value);
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
      }
      return source;
    }
    if (AcceptSymbol("::")) return SystemFunction(std::move(source));
    if (!At().IsName()) Fail();
    if (At().kind == TokenKind::kWord && IsReservedKeyword(At().text)) Fail();
    source->name.push_back(Next().value);
    while (At().IsSymbol(".")) {
      ++i_;
      if (At().IsSymbol(".")) {
        source->name.emplace_back();
        continue;
      }
      if (!At().IsName()) Fail();
      source->name.push_back(Next().value);
    }
    if (source->name.size() > 3) Unsupported("linked server");
    if (At().IsSymbol("(") && !AtHintList()) {
      ++i_;
      source->kind = TableSource::Kind::kFunction;
      if (!AcceptSymbol(")")) {
        do {
          source->arguments.push_back(AcceptWord("default") ? nullptr : Expression());
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
      }
    }
    source->hints = Hints();
    if (AcceptWord("as")) {
      if (!At().IsName()) Fail();
      source->alias = Next().value;
    } else if (AtName()) {
      source->alias = Next().value;
    }
    if (source->hints.empty()) source->hints = Hints();
    return source;
  }

  // ::fn_name(arguments), one of SQL Server's own table-valued functions:
  // read as the catalog view "::fn_name" when the engine has one (208 names
  // any other), with the arguments it takes.
  std::unique_ptr<TableSource> SystemFunction(std::unique_ptr<TableSource> source) {
    if (!At().IsName()) Fail();
    Token name = Next();
    ExpectSymbol("(");
    std::vector<std::unique_ptr<Expr>> given;
    if (!AcceptSymbol(")")) {
      do {
        given.push_back(AcceptWord("default") ? nullptr : Expression());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    size_t arguments = given.size();
    std::string lower = ToLower(name.value);
    if (lower == "fn_listextendedproperty") {
      // Its rows come from the engine as a table-valued function's do.
      source->kind = TableSource::Kind::kFunction;
      source->arguments = std::move(given);
      source->origin = name;
      arguments = 0;
    } else if (lower != "fn_helpcollations") {
      SqlError error = MakeError(208, {name.value});
      error.message().line = name.line;
      throw error;
    }
    if (arguments > 0) {
      SqlError error = MakeError(8144, {name.value});
      error.message().line = name.line;
      throw error;
    }
    source->name.push_back("::" + lower);
    if (AcceptWord("as")) {
      if (!At().IsName()) Fail();
      source->alias = Next().value;
    } else if (AtName()) {
      source->alias = Next().value;
    }
    return source;
  }

  // ---- table hints

  static bool IsTableHint(const Token& token) {
    return token.IsAnyWord({"nolock", "readuncommitted", "updlock", "rowlock", "holdlock",
                            "tablock", "tablockx", "paglock", "readpast", "readcommitted",
                            "repeatableread", "serializable", "xlock", "nowait", "fastfirstrow",
                            "index", "noexpand"});
  }

  // `(hint` without WITH, as SQL Server 2000 still reads `FROM t (NOLOCK)`.
  bool AtHintList() const { return At().IsSymbol("(") && IsTableHint(At(1)); }

  // [WITH] (hint [[,] hint]...): lower-case words; INDEX (i [, ...]) and
  // INDEX = i are kept as "index". Throws 321 for a word that is no hint.
  std::vector<std::string> Hints() {
    std::vector<std::string> hints;
    if (At().IsWord("with") && At(1).IsSymbol("(")) {
      ++i_;
    } else if (!AtHintList()) {
      return hints;
    }
    ExpectSymbol("(");
    do {
      const Token& hint = At();
      if (!hint.IsName()) Fail();
      if (!IsTableHint(hint)) {
        SqlError error = MakeError(321, {hint.value});
        error.message().line = hint.line;
        throw error;
      }
      ++i_;
      hints.push_back(ToLower(hint.value));
      if (hint.IsWord("index")) {
        if (AcceptSymbol("=")) {
          if (!At().IsName() && At().kind != TokenKind::kNumber) Fail();
          ++i_;
        } else {
          ExpectSymbol("(");
          do {
            if (!At().IsName() && At().kind != TokenKind::kNumber) Fail();
            ++i_;
          } while (AcceptSymbol(","));
          ExpectSymbol(")");
        }
      }
      AcceptSymbol(",");
    } while (!AcceptSymbol(")"));
    return hints;
  }

  // The hints of the table an INSERT, UPDATE or DELETE writes: NOLOCK and
  // READUNCOMMITTED are for reading only (1065).
  std::vector<std::string> TargetHints() {
    const Token& origin = At();
    std::vector<std::string> hints = Hints();
    for (const std::string& hint : hints) {
      if (hint == "nolock" || hint == "readuncommitted") {
        SqlError error = MakeError(1065);
        error.message().line = origin.line;
        throw error;
      }
    }
    return hints;
  }

  // ---- expressions, loosest first

  std::unique_ptr<Expr> Expression() {
    DepthGuard guard(*this);
    return Or();
  }

  // An expression where T-SQL takes a value, never a condition (a select
  // item, an argument, an operand, a written value).
  std::unique_ptr<Expr> ValueExpression() {
    std::unique_ptr<Expr> expr = Expression();
    RejectPredicate(*expr);
    return expr;
  }

  std::unique_ptr<Expr> Operand(std::unique_ptr<Expr> (Parser::*parse)()) {
    std::unique_ptr<Expr> expr = (this->*parse)();
    RejectPredicate(*expr);
    return expr;
  }

  // A condition (parenthesized, as the grammar lets one reach a value's
  // place) where a value belongs is a syntax error at its operator.
  static void RejectPredicate(const Expr& expr) {
    const Expr* at = &expr;
    while ((at->kind == ExprKind::kAnd || at->kind == ExprKind::kOr) && !at->args.empty())
      at = at->args[0].get();
    switch (at->kind) {
      case ExprKind::kComparison:
      case ExprKind::kNot:
      case ExprKind::kBetween:
      case ExprKind::kInList:
      case ExprKind::kInQuery:
      case ExprKind::kLike:
      case ExprKind::kIsNull:
      case ExprKind::kExists:
      case ExprKind::kQuantified:
        throw SyntaxError(at->origin);
      default:
        return;
    }
  }

  std::unique_ptr<Expr> Or() {
    std::unique_ptr<Expr> left = And();
    while (At().IsWord("or")) {
      auto node = Node(ExprKind::kOr, Next());
      node->args.push_back(std::move(left));
      node->args.push_back(And());
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Expr> And() {
    std::unique_ptr<Expr> left = Not();
    while (At().IsWord("and")) {
      auto node = Node(ExprKind::kAnd, Next());
      node->args.push_back(std::move(left));
      node->args.push_back(Not());
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Expr> Not() {
    if (!At().IsWord("not")) return Predicate();
    DepthGuard guard(*this);
    auto node = Node(ExprKind::kNot, Next());
    node->args.push_back(Not());
    return node;
  }

  static std::string ComparisonOperator(const Token& token) {
    if (token.kind != TokenKind::kSymbol) return {};
    const std::string& text = token.text;
    if (text == "=" || text == "<>" || text == "<" || text == ">" || text == "<=" || text == ">=")
      return text;
    if (text == "!=") return "<>";
    if (text == "*=") return text;  // the old outer join, left side kept
    if (text == "!<") return ">=";
    if (text == "!>") return "<=";
    return {};
  }

  std::unique_ptr<Expr> Predicate() {
    if (At().IsWord("exists")) {
      auto node = Node(ExprKind::kExists, Next());
      ExpectSymbol("(");
      if (!At().IsWord("select")) Fail();
      node->query = QueryBody();
      ExpectSymbol(")");
      return node;
    }
    std::unique_ptr<Expr> left = Additive();
    std::string op = ComparisonOperator(At());
    if (!op.empty() || At().IsAnyWord({"not", "between", "in", "like", "is"}))
      RejectPredicate(*left);
    if (!op.empty()) {
      auto node = Node(ExprKind::kComparison, Next());
      node->op = op;
      if (op == "=" && At().IsSymbol("*")) {
        // a =* b: the old outer join, right side kept.
        ++i_;
        node->op = "=*";
      }
      if (At().IsAnyWord({"all", "any", "some"})) {
        node->kind = ExprKind::kQuantified;
        node->value = At().IsWord("all") ? "all" : "any";
        ++i_;
        ExpectSymbol("(");
        if (!At().IsWord("select")) Fail();
        node->query = QueryBody();
        ExpectSymbol(")");
        node->args.push_back(std::move(left));
        return node;
      }
      node->args.push_back(std::move(left));
      node->args.push_back(Operand(&Parser::Additive));
      return node;
    }
    bool negated = false;
    if (At().IsWord("not") && At(1).IsAnyWord({"between", "in", "like"})) {
      negated = true;
      ++i_;
    }
    if (At().IsWord("between")) {
      auto node = Node(ExprKind::kBetween, Next());
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(Operand(&Parser::Additive));
      ExpectWord("and");
      node->args.push_back(Operand(&Parser::Additive));
      return node;
    }
    if (At().IsWord("in")) {
      auto node = Node(ExprKind::kInList, Next());
      node->negated = negated;
      node->args.push_back(std::move(left));
      ExpectSymbol("(");
      if (At().IsWord("select")) {
        node->kind = ExprKind::kInQuery;
        node->query = QueryBody();
      } else {
        do {
          node->args.push_back(ValueExpression());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
      return node;
    }
    if (At().IsWord("like")) {
      auto node = Node(ExprKind::kLike, Next());
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(Operand(&Parser::Additive));
      if (AcceptWord("escape")) node->args.push_back(Operand(&Parser::Additive));
      return node;
    }
    if (negated) Fail();
    if (At().IsWord("is")) {
      auto node = Node(ExprKind::kIsNull, Next());
      node->negated = AcceptWord("not");
      ExpectWord("null");
      node->args.push_back(std::move(left));
      return node;
    }
    return left;
  }

  std::unique_ptr<Expr> Additive() {
    std::unique_ptr<Expr> left = Multiplicative();
    while (At().IsSymbol("+") || At().IsSymbol("-") || At().IsSymbol("&") || At().IsSymbol("^") ||
           At().IsSymbol("|")) {
      RejectPredicate(*left);
      auto node = Node(ExprKind::kBinary, Next());
      node->op = node->origin.text;
      node->args.push_back(std::move(left));
      node->args.push_back(Operand(&Parser::Multiplicative));
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Expr> Multiplicative() {
    std::unique_ptr<Expr> left = Unary();
    while (At().IsSymbol("*") || At().IsSymbol("/") || At().IsSymbol("%")) {
      RejectPredicate(*left);
      auto node = Node(ExprKind::kBinary, Next());
      node->op = node->origin.text;
      node->args.push_back(std::move(left));
      node->args.push_back(Operand(&Parser::Unary));
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Expr> Unary() {
    if (At().IsSymbol("-") || At().IsSymbol("+") || At().IsSymbol("~")) {
      DepthGuard guard(*this);
      auto node = Node(ExprKind::kUnary, Next());
      node->op = node->origin.text;
      node->args.push_back(Operand(&Parser::Unary));
      return node;
    }
    std::unique_ptr<Expr> value = Primary();
    while (At().IsWord("collate")) {
      auto node = Node(ExprKind::kCollate, Next());
      if (!At().IsName()) Fail();
      node->value = Next().value;
      node->args.push_back(std::move(value));
      value = std::move(node);
    }
    return value;
  }

  std::unique_ptr<Expr> Literal(LiteralKind kind) {
    auto node = Node(ExprKind::kLiteral, Next());
    node->literal = kind;
    node->value = node->origin.value;
    return node;
  }

  std::unique_ptr<Expr> Primary() {
    const Token& token = At();
    switch (token.kind) {
      case TokenKind::kNumber: {
        const std::string& text = token.text;
        LiteralKind kind = values::CurrencySignLength(text) > 0             ? LiteralKind::kMoney
                           : text.find_first_of("eE") != std::string::npos ? LiteralKind::kFloat
                           : text.find('.') != std::string::npos           ? LiteralKind::kDecimal
                                                                           : LiteralKind::kInteger;
        return Literal(kind);
      }
      case TokenKind::kString:
        return Literal(LiteralKind::kString);
      case TokenKind::kNationalString:
        return Literal(LiteralKind::kNationalString);
      case TokenKind::kBinary:
        return Literal(LiteralKind::kBinary);
      case TokenKind::kVariable: {
        auto node = Node(ExprKind::kVariable, Next());
        node->value = node->origin.text;
        return node;
      }
      case TokenKind::kSystemVariable: {
        auto node = Node(ExprKind::kSystemVariable, Next());
        node->value = ToLower(node->origin.text.substr(2));
        return node;
      }
      case TokenKind::kSymbol:
        if (token.IsSymbol("(")) {
          const Token& open = Next();
          if (At().IsWord("select")) {
            auto node = Node(ExprKind::kSubquery, open);
            node->query = QueryBody();
            ExpectSymbol(")");
            return node;
          }
          std::unique_ptr<Expr> inner = Expression();
          ExpectSymbol(")");
          return inner;
        }
        Fail();
      case TokenKind::kWord:
      case TokenKind::kQuotedName:
        return NameOrCall();
      case TokenKind::kEnd:
        Fail();
    }
    Fail();
  }

  std::unique_ptr<Expr> NameOrCall() {
    const Token& token = At();
    if (token.kind == TokenKind::kWord) {
      if (token.IsWord("null")) return Literal(LiteralKind::kNull);
      if (token.IsWord("case")) return Case();
      if (token.IsWord("cast") && At(1).IsSymbol("(")) return Cast();
      if (token.IsWord("convert") && At(1).IsSymbol("(")) return Convert();
      if (token.IsAnyWord({"left", "right", "coalesce", "nullif", "identity"}) &&
          At(1).IsSymbol("("))
        return Call();
      if (token.IsWord("current_timestamp")) {
        auto node = Node(ExprKind::kCall, Next());
        node->names = {"getdate"};
        return node;
      }
      // The user functions written without parentheses (bracketed, the
      // same words are names).
      if (token.IsAnyWord({"user", "current_user", "session_user"})) {
        auto node = Node(ExprKind::kCall, Next());
        node->names = {"user_name"};
        return node;
      }
      if (token.IsWord("system_user")) {
        auto node = Node(ExprKind::kCall, Next());
        node->names = {"suser_sname"};
        return node;
      }
      if (IsReservedKeyword(token.text)) Fail();
      if (At(1).IsSymbol("(")) return Call();
    }
    auto node = Node(ExprKind::kColumn, token);
    node->names.push_back(Next().value);
    while (At().IsSymbol(".")) {
      ++i_;
      if (At().IsSymbol(".")) {
        node->names.emplace_back();
        continue;
      }
      if (!At().IsName()) Fail();
      node->names.push_back(Next().value);
    }
    if (node->names.size() > 4) Fail();
    if (At().IsSymbol("(")) {
      // owner.f(...) / db.owner.f(...): a user function.
      if (node->names.size() > 3) Fail();
      node->kind = ExprKind::kCall;
      CallArguments(*node);
    }
    return node;
  }

  std::unique_ptr<Expr> Call() {
    auto node = Node(ExprKind::kCall, Next());
    node->names.push_back(ToLower(node->origin.value));
    ExpectSymbol("(");
    if (AcceptSymbol(")")) return node;
    if (At().IsSymbol("*") && At(1).IsSymbol(")")) {
      i_ += 2;
      node->count_star = true;
      return node;
    }
    if (AcceptWord("distinct")) {
      node->distinct = true;
    } else {
      AcceptWord("all");
    }
    do {
      node->args.push_back(ValueExpression());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    if (At().IsWord("over")) Unsupported("window");
    return node;
  }

  // A user function's (argument, ...) list, from its '('.
  void CallArguments(Expr& node) {
    ExpectSymbol("(");
    if (AcceptSymbol(")")) return;
    do {
      node.args.push_back(AcceptWord("default") ? nullptr : ValueExpression());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
  }

  std::unique_ptr<Expr> Case() {
    auto node = Node(ExprKind::kCase, Next());
    if (!At().IsWord("when")) {
      node->has_operand = true;
      node->args.push_back(ValueExpression());
    }
    if (!At().IsWord("when")) Fail();
    while (AcceptWord("when")) {
      // A simple CASE compares values; a searched one tests conditions.
      node->args.push_back(node->has_operand ? ValueExpression() : Expression());
      ExpectWord("then");
      node->args.push_back(ValueExpression());
    }
    if (AcceptWord("else")) {
      node->has_else = true;
      node->args.push_back(ValueExpression());
    }
    ExpectWord("end");
    return node;
  }

  WrittenType Type() {
    if (!At().IsName()) Fail();
    WrittenType type;
    type.origin = At();
    type.name = Next().value;
    if (AcceptSymbol("(")) {
      do {
        if (At().kind != TokenKind::kNumber && !At().IsWord("max")) Fail();
        type.arguments.push_back(Next().text);
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    return type;
  }

  std::unique_ptr<Expr> Cast() {
    auto node = Node(ExprKind::kCast, Next());
    ExpectSymbol("(");
    node->args.push_back(ValueExpression());
    ExpectWord("as");
    node->type = Type();
    ExpectSymbol(")");
    return node;
  }

  std::unique_ptr<Expr> Convert() {
    auto node = Node(ExprKind::kCast, Next());
    ExpectSymbol("(");
    node->type = Type();
    ExpectSymbol(",");
    node->args.push_back(ValueExpression());
    if (AcceptSymbol(",")) node->args.push_back(ValueExpression());
    ExpectSymbol(")");
    return node;
  }

  const Tokens& tokens_;
  size_t i_ = 0;
  // Whether the next SELECT block parsed may hold INTO: a statement's first.
  bool into_allowed_ = false;
  int depth_ = 0;
};

}  // namespace

std::unique_ptr<Query> ParseSelect(const Tokens& tokens) { return Parser(tokens).Statement(); }

std::unique_ptr<InsertStatement> ParseInsert(const Tokens& tokens) {
  return Parser(tokens).Insert();
}

std::unique_ptr<UpdateStatement> ParseUpdate(const Tokens& tokens) {
  return Parser(tokens).Update();
}

std::unique_ptr<DeleteStatement> ParseDelete(const Tokens& tokens) {
  return Parser(tokens).Delete();
}

std::vector<CommonTable> ParseWith(const std::vector<CommonTableExpression>& with) {
  std::vector<CommonTable> tables;
  for (const CommonTableExpression& cte : with) {
    CommonTable table;
    table.origin = cte.name;
    table.name = cte.name.value;
    for (const Token& column : cte.columns) {
      if (column.IsName()) table.columns.push_back(column.value);
    }
    table.query = ParseSelect(cte.query);
    if (!table.query->terms.front()->into.empty()) throw NotParsed("INTO in a CTE", cte.name);
    tables.push_back(std::move(table));
  }
  return tables;
}

std::unique_ptr<Expr> ParseExpression(const Tokens& tokens) {
  return Parser(tokens).WholeExpression();
}

}  // namespace sqlengine::tsql::parse
