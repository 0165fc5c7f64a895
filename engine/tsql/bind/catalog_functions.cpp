#include "engine/tsql/bind/catalog_functions.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql::bind {
namespace {

using Bound = std::unique_ptr<BoundExpr>;

// The aliases a lookup reads its catalog view and its arguments under.
constexpr std::string_view kAlias = "\"sqlengine_catalog\"";
constexpr std::string_view kArgumentAlias = "\"sqlengine_argument\"";

[[noreturn]] void Refuse(const std::string& why) { throw NotBound(why); }

Bound Node(BoundKind kind, ColumnType type, std::string sql = {}) {
  auto node = std::make_unique<BoundExpr>();
  node->kind = kind;
  node->type = type;
  node->sql = std::move(sql);
  return node;
}

ColumnType Typed(SqlType type, int length = 0) {
  ColumnType result{type};
  result.length = length;
  return result;
}

ColumnType Sysname() { return Typed(SqlType::kNVarChar, 128); }

bool IsText(const BoundExpr& arg) {
  return arg.null_literal || ClassOf(arg.type.type) == TypeClass::kCharacter;
}

bool IsInteger(const BoundExpr& arg) {
  return arg.null_literal || ClassOf(arg.type.type) == TypeClass::kInteger;
}

// The catalog view `name` (1 to 3 parts) as the catalog describes it.
TableShape View(Catalog& catalog, std::vector<std::string> name) {
  std::optional<TableShape> view = catalog.FindTable(name);
  if (!view || !view->system_catalog) Refuse("catalog view");
  return *view;
}

// A column of the view a lookup reads.
Bound ViewColumn(const TableShape& view, std::string_view name) {
  for (const Column& column : view.columns) {
    if (EqualsIgnoreCase(column.name, name))
      return Node(BoundKind::kColumn, column.type,
                  std::string(kAlias) + "." + QuoteSqliteName(column.name));
  }
  Refuse("catalog view column");
}

Bound Equal(Bound left, Bound right) {
  Bound node = Node(BoundKind::kComparison, Typed(SqlType::kBit));
  node->op = "=";
  node->text_comparison = IsText(*left) && IsText(*right);
  node->args.push_back(std::move(left));
  node->args.push_back(std::move(right));
  return node;
}

// left AND right, or left OR right.
Bound Joined(BoundKind kind, Bound left, Bound right) {
  Bound node = Node(kind, Typed(SqlType::kBit));
  node->args.push_back(std::move(left));
  node->args.push_back(std::move(right));
  return node;
}

Bound Both(Bound left, Bound right) {
  return Joined(BoundKind::kAnd, std::move(left), std::move(right));
}

Bound Call(std::string sql, ColumnType type, std::vector<Bound> args) {
  Bound node = Node(BoundKind::kCall, type, std::move(sql));
  node->args = std::move(args);
  return node;
}

Bound Call(std::string sql, ColumnType type, Bound arg) {
  std::vector<Bound> args;
  args.push_back(std::move(arg));
  return Call(std::move(sql), type, std::move(args));
}

// (SELECT value FROM view WHERE condition LIMIT 1): NULL when no row matches.
Bound Lookup(const TableShape& view, Bound value, Bound condition) {
  ColumnType type = value->type;
  type.nullable = true;
  type.identity = false;
  auto source = std::make_unique<BoundSource>();
  source->kind = BoundSource::Kind::kTable;
  source->table_sql = view.sql;
  source->named_query = true;
  source->alias = std::string(kAlias);
  BoundSelectBlock block;
  block.top = Node(BoundKind::kLiteral, Typed(SqlType::kInt), "1");
  block.items.push_back(std::move(value));
  block.from.push_back(std::move(source));
  block.where = std::move(condition);
  auto query = std::make_unique<BoundQuery>();
  query->terms.push_back(std::move(block));
  query->columns.push_back(Column{"", type});
  Bound node = Node(BoundKind::kSubquery, type);
  node->query = std::move(query);
  return node;
}

// The current database's sysobjects row whose name `name` spells
// ('t', '[dbo].[t]', 'dbo.t').
Bound ObjectNamed(const TableShape& objects, Bound name) {
  return Equal(ViewColumn(objects, "name"),
               Call("sqlengine_object_name", Sysname(), std::move(name)));
}

// (SELECT value FROM (SELECT args[0] AS "a0", ...) AS "sqlengine_argument"):
// `value` reads each argument as often as it needs through Argument(k).
Bound OverArguments(std::vector<Bound> args, Bound value) {
  auto values = std::make_unique<BoundQuery>();
  BoundSelectBlock row;
  for (size_t k = 0; k < args.size(); ++k) {
    values->columns.push_back(Column{"a" + std::to_string(k), args[k]->type});
    row.items.push_back(std::move(args[k]));
  }
  values->terms.push_back(std::move(row));
  auto source = std::make_unique<BoundSource>();
  source->kind = BoundSource::Kind::kDerived;
  source->derived = std::move(values);
  source->alias = std::string(kArgumentAlias);
  ColumnType type = value->type;
  BoundSelectBlock block;
  block.items.push_back(std::move(value));
  block.from.push_back(std::move(source));
  auto query = std::make_unique<BoundQuery>();
  query->terms.push_back(std::move(block));
  query->columns.push_back(Column{"", type});
  Bound node = Node(BoundKind::kSubquery, type);
  node->query = std::move(query);
  return node;
}

Bound Argument(const std::vector<Bound>& args, size_t k) {
  return Node(BoundKind::kColumn, args[k]->type,
              std::string(kArgumentAlias) + ".\"a" + std::to_string(k) + "\"");
}

// The text of a literal argument; nullopt for another argument.
std::optional<std::string> WrittenText(const BoundExpr& name) {
  if (name.kind != BoundKind::kLiteral || name.null_literal || name.sql.size() < 2) return {};
  size_t start = name.sql.front() == 'N' ? 1 : 0;
  if (name.sql[start] != '\'' || name.sql.back() != '\'') return std::nullopt;
  std::string text;
  for (size_t k = start + 1; k + 1 < name.sql.size(); ++k) {
    text += name.sql[k];
    if (name.sql[k] == '\'') ++k;  // '' stands for one quote
  }
  return text;
}

// The database a written literal name ('db..t', 'db.dbo.t') names; "" for
// another argument, a name without one, and a #table's 'tempdb..#t' (the
// session's own). tempdb's other names are tempdb's objects, as is a
// ##table named without a database.
std::string DatabaseNamed(const BoundExpr& name) {
  std::optional<std::string> text = WrittenText(name);
  if (!text) return {};
  DottedName written = ReadWrittenName(*text);
  std::string database = written.Database();
  if (written.parts.empty()) return database;
  // A ##table is tempdb's, named from any database.
  if (database.empty() && IsGlobalTempName(written.Last())) return "tempdb";
  bool temporary = IsLocalTempName(written.Last());
  return temporary && EqualsIgnoreCase(database, "tempdb") ? std::string() : database;
}

Bound Either(Bound left, Bound right);

// Whether the owner part of the name `written` (arguments[0]) reaches the
// object of sysobjects row `objects`, as a name in a statement would: a
// literal's owners are known when it is bound; another argument's owner part
// is compared with the row owner's name in the current database (`again`
// reads the argument once more; without it any owner's object is taken).
Bound OwnerReached(Catalog& catalog, const TableShape& objects, const BoundExpr& written,
                   Bound again) {
  auto integer = [](int value) {
    return Node(BoundKind::kLiteral, Typed(SqlType::kInt), std::to_string(value));
  };
  std::optional<std::string> text = WrittenText(written);
  DottedName name = ReadWrittenName(text ? *text : std::string());
  std::string owner = name.parts.size() >= 2 ? name.parts[name.parts.size() - 2] : "";
  std::optional<std::vector<int>> owners =
      catalog.OwnersReached(text ? name.Database() : std::string(), text ? owner : "");
  if (!owners || (!text && !again)) return Equal(integer(1), integer(1));
  if (text) {
    Bound any = Equal(integer(0), integer(1));
    for (int uid : *owners) any = Either(std::move(any), Equal(ViewColumn(objects, "uid"), integer(uid)));
    return any;
  }
  std::vector<Bound> call;
  call.push_back(std::move(again));
  call.push_back(ViewColumn(objects, "uid"));
  call.push_back(Call("user_name", Sysname(), ViewColumn(objects, "uid")));
  call.push_back(integer(owners->empty() ? 1 : owners->front()));
  return Equal(Call("sqlengine_owner_reached", Typed(SqlType::kInt), std::move(call)), integer(1));
}

// OBJECT_ID(name [, type]): an object of the current database or of the
// database a literal name gives, or the session's #table a name such as
// 'tempdb..#t' names; only one its owner part reaches.
Bound ObjectId(Catalog& catalog, std::vector<Bound> args) {
  if (!IsText(*args[0]) || (args.size() == 2 && !IsText(*args[1]))) Refuse("OBJECT_ID argument");
  std::string database = DatabaseNamed(*args[0]);
  TableShape objects =
      View(catalog, database.empty() ? std::vector<std::string>{"sysobjects"}
                                     : std::vector<std::string>{database, "", "sysobjects"});
  Bound condition = Both(ObjectNamed(objects, Argument(args, 0)),
                         OwnerReached(catalog, objects, *args[0], Argument(args, 0)));
  Bound temporary = Call("sqlengine_temp_object_id", Typed(SqlType::kInt), Argument(args, 0));
  if (args.size() == 2) {
    auto xtype = [&] { return Call("rtrim", Typed(SqlType::kVarChar, 2), Argument(args, 1)); };
    condition = Both(
        std::move(condition),
        Equal(Call("rtrim", Typed(SqlType::kVarChar, 2), ViewColumn(objects, "xtype")), xtype()));
    // A #table is a user table.
    Bound only_tables = Node(BoundKind::kCase, Typed(SqlType::kInt));
    only_tables->args.push_back(
        Equal(xtype(), Node(BoundKind::kLiteral, Typed(SqlType::kVarChar, 1), "'U'")));
    only_tables->args.push_back(std::move(temporary));
    temporary = std::move(only_tables);
  }
  std::vector<Bound> either;
  either.push_back(std::move(temporary));
  either.push_back(Lookup(objects, ViewColumn(objects, "id"), std::move(condition)));
  return OverArguments(std::move(args), Call("coalesce", Typed(SqlType::kInt), std::move(either)));
}

Bound ObjectName(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0])) Refuse("OBJECT_NAME argument");
  TableShape objects = View(catalog, {"sysobjects"});
  return Lookup(objects, ViewColumn(objects, "name"),
                Equal(ViewColumn(objects, "id"), std::move(args[0])));
}

Bound Literal(ColumnType type, std::string sql) {
  return Node(BoundKind::kLiteral, type, std::move(sql));
}

Bound Compared(Bound left, std::string op, Bound right) {
  Bound node = Equal(std::move(left), std::move(right));
  node->op = std::move(op);
  return node;
}

Bound Either(Bound left, Bound right) {
  return Joined(BoundKind::kOr, std::move(left), std::move(right));
}

// The literal text `arg` spells in lower case; nullopt for any other argument.
std::optional<std::string> LiteralText(const BoundExpr& arg) {
  if (arg.kind != BoundKind::kLiteral || arg.null_literal || arg.sql.size() < 2) return std::nullopt;
  size_t start = arg.sql.front() == 'N' ? 1 : 0;
  if (arg.sql[start] != '\'' || arg.sql.back() != '\'') return std::nullopt;
  std::string text;
  for (size_t k = start + 1; k + 1 < arg.sql.size(); ++k) {
    text += arg.sql[k];
    if (arg.sql[k] == '\'') ++k;  // '' stands for one quote
  }
  return ToLower(text);
}

// What a TableHas... property asks of the table `id` reads: a row of
// `view` meeting the condition. Nullopt for another property.
struct TableFact {
  std::string_view property;
  std::string_view view;
};
constexpr TableFact kTableFacts[] = {
    {"tablehasprimarykey", "sysobjects"},  {"tablehasuniquecnst", "sysobjects"},
    {"tablehasforeignkey", "sysobjects"},  {"tablehascheckcnst", "sysobjects"},
    {"tablehasdefaultcnst", "sysobjects"}, {"tablehasforeignref", "sysforeignkeys"},
    {"tablehasidentity", "syscolumns"},    {"tablehastimestamp", "syscolumns"},
    {"tablehastextimage", "syscolumns"},   {"tablehasindex", "sysindexes"},
    {"tablehasclustindex", "sysindexes"},  {"tablehasnonclustindex", "sysindexes"},
};

Bound TableFactCondition(std::string_view property, const TableShape& view, Bound id) {
  auto integer = [](int value) { return Literal(Typed(SqlType::kInt), std::to_string(value)); };
  auto child_of_kind = [&](const char* kind) {
    return Both(Equal(ViewColumn(view, "parent_obj"), std::move(id)),
                Equal(Call("rtrim", Typed(SqlType::kVarChar, 2), ViewColumn(view, "xtype")),
                      Literal(Typed(SqlType::kVarChar, 2), std::string("'") + kind + "'")));
  };
  auto indexes = [&](int low, int high) {
    return Both(Equal(ViewColumn(view, "id"), std::move(id)),
                Both(Compared(ViewColumn(view, "indid"), ">=", integer(low)),
                     Compared(ViewColumn(view, "indid"), "<=", integer(high))));
  };
  auto column_of_type = [&](int xtype) {
    return Equal(ViewColumn(view, "xtype"), integer(xtype));
  };
  if (property == "tablehasprimarykey") return child_of_kind("PK");
  if (property == "tablehasuniquecnst") return child_of_kind("UQ");
  if (property == "tablehasforeignkey") return child_of_kind("F");
  if (property == "tablehascheckcnst") return child_of_kind("C");
  if (property == "tablehasdefaultcnst") return child_of_kind("D");
  if (property == "tablehasforeignref") return Equal(ViewColumn(view, "rkeyid"), std::move(id));
  if (property == "tablehasindex") return indexes(1, 254);
  if (property == "tablehasclustindex") return indexes(1, 1);
  if (property == "tablehasnonclustindex") return indexes(2, 254);
  Bound of_table = Equal(ViewColumn(view, "id"), std::move(id));
  // The identity column's colstat is 1.
  if (property == "tablehasidentity")
    return Both(std::move(of_table), Equal(ViewColumn(view, "colstat"), integer(1)));
  if (property == "tablehastimestamp") return Both(std::move(of_table), column_of_type(189));
  return Both(std::move(of_table),
              Either(column_of_type(34), Either(column_of_type(35), column_of_type(99))));
}

// rtrim(xtype) of the sysobjects row of object `id`: NULL for no object.
Bound KindOf(const TableShape& objects, Bound id) {
  return Lookup(objects, Call("rtrim", Typed(SqlType::kVarChar, 2), ViewColumn(objects, "xtype")),
                Equal(ViewColumn(objects, "id"), std::move(id)));
}

Bound Text(std::string_view text) {
  return Literal(Typed(SqlType::kVarChar, static_cast<int>(text.size())),
                 QuoteSqliteString(std::string(text)));
}

// CASE WHEN condition THEN value END: NULL where the condition fails.
Bound When(Bound condition, Bound value) {
  Bound answer = Node(BoundKind::kCase, value->type);
  answer->type.nullable = true;
  answer->args.push_back(std::move(condition));
  answer->args.push_back(std::move(value));
  return answer;
}

// OBJECTPROPERTY(id, 'TableHas...') for the object `id` reads: for a user
// table 1 or 0 by what its catalog holds; NULL for any other object.
Bound TableFactAnswer(Catalog& catalog, const TableFact& fact, const Bound& id) {
  auto copy = [&] { return Node(BoundKind::kColumn, id->type, id->sql); };
  TableShape objects = View(catalog, {"sysobjects"});
  TableShape view = View(catalog, {std::string(fact.view)});
  std::vector<Bound> found;
  found.push_back(Lookup(view, Literal(Typed(SqlType::kInt), "1"),
                         TableFactCondition(fact.property, view, copy())));
  found.push_back(Literal(Typed(SqlType::kInt), "0"));
  return When(Equal(KindOf(objects, copy()), Text("U")),
              Call("coalesce", Typed(SqlType::kInt), std::move(found)));
}

// The properties that ask about the triggers of a table (or view): the
// trigger property each of its triggers must have, and what is answered.
struct TriggerFact {
  std::string_view property;
  bool views_too;                     // a view's triggers count as well
  std::string_view trigger_property;  // sqlengine_object_property's
  enum Answer { kAny, kFirst, kCount } answer;
};
constexpr TriggerFact kTriggerFacts[] = {
    {"tablehasdeletetrigger", false, "execisdeletetrigger", TriggerFact::kAny},
    {"tablehasinserttrigger", false, "execisinserttrigger", TriggerFact::kAny},
    {"tablehasupdatetrigger", false, "execisupdatetrigger", TriggerFact::kAny},
    {"hasdeletetrigger", true, "execisdeletetrigger", TriggerFact::kAny},
    {"hasinserttrigger", true, "execisinserttrigger", TriggerFact::kAny},
    {"hasupdatetrigger", true, "execisupdatetrigger", TriggerFact::kAny},
    {"hasaftertrigger", true, "execisaftertrigger", TriggerFact::kAny},
    {"hasinsteadoftrigger", true, "execisinsteadoftrigger", TriggerFact::kAny},
    {"tabledeletetrigger", false, "execisdeletetrigger", TriggerFact::kFirst},
    {"tableinserttrigger", false, "execisinserttrigger", TriggerFact::kFirst},
    {"tableupdatetrigger", false, "execisupdatetrigger", TriggerFact::kFirst},
    {"tabledeletetriggercount", false, "execisdeletetrigger", TriggerFact::kCount},
    {"tableinserttriggercount", false, "execisinserttrigger", TriggerFact::kCount},
    {"tableupdatetriggercount", false, "execisupdatetrigger", TriggerFact::kCount},
};

// OBJECTPROPERTY(id, <trigger fact>): NULL for an object of another kind; the
// first trigger is the earliest made, 0 when there is none.
Bound TriggerFactAnswer(Catalog& catalog, const TriggerFact& fact, const Bound& id) {
  auto copy = [&] { return Node(BoundKind::kColumn, id->type, id->sql); };
  TableShape objects = View(catalog, {"sysobjects"});
  std::vector<Bound> property;
  property.push_back(ViewColumn(objects, "xtype"));
  property.push_back(Text(fact.trigger_property));
  property.push_back(ViewColumn(objects, "status"));
  Bound of_table =
      Both(Equal(ViewColumn(objects, "parent_obj"), copy()),
           Equal(Call("sqlengine_object_property", Typed(SqlType::kInt), std::move(property)),
                 Literal(Typed(SqlType::kInt), "1")));
  Bound value;
  if (fact.answer == TriggerFact::kAny) {
    value = Lookup(objects, Literal(Typed(SqlType::kInt), "1"), std::move(of_table));
  } else {
    value = Lookup(objects,
                   Call(fact.answer == TriggerFact::kFirst ? "min" : "count", Typed(SqlType::kInt),
                        ViewColumn(objects, "id")),
                   std::move(of_table));
  }
  std::vector<Bound> found;
  found.push_back(std::move(value));
  found.push_back(Literal(Typed(SqlType::kInt), "0"));
  Bound kind_ok = Equal(KindOf(objects, copy()), Text("U"));
  if (fact.views_too) kind_ok = Either(std::move(kind_ok), Equal(KindOf(objects, copy()), Text("V")));
  return When(std::move(kind_ok), Call("coalesce", Typed(SqlType::kInt), std::move(found)));
}

// What the object's own sysobjects row answers (sqlengine_object_property);
// with `keys`, also its sysconstraints row's status, which tells whether a
// key's index is clustered.
Bound OwnRowAnswer(const TableShape& objects, const Bound& id, const Bound& property_name,
                   const TableShape* keys = nullptr) {
  std::vector<Bound> property;
  property.push_back(ViewColumn(objects, "xtype"));
  property.push_back(Node(BoundKind::kColumn, property_name->type, property_name->sql));
  property.push_back(ViewColumn(objects, "status"));
  property.push_back(ViewColumn(objects, "uid"));
  if (keys != nullptr) {
    property.push_back(Lookup(*keys, ViewColumn(*keys, "status"),
                              Equal(ViewColumn(*keys, "constid"),
                                    Node(BoundKind::kColumn, id->type, id->sql))));
  }
  return Lookup(objects,
                Call("sqlengine_object_property", Typed(SqlType::kInt), std::move(property)),
                Equal(ViewColumn(objects, "id"), Node(BoundKind::kColumn, id->type, id->sql)));
}

// OBJECTPROPERTY(id, property), for any property expression: a written
// property picks its answer as the statement is bound, any other one as each
// row reads it.
Bound ObjectProperty(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0]) || !IsText(*args[1])) Refuse("OBJECTPROPERTY argument");
  TableShape objects = View(catalog, {"sysobjects"});
  Bound id = Argument(args, 0);
  Bound property = Argument(args, 1);
  std::optional<std::string> literal = LiteralText(*args[1]);
  Bound answer;
  if (literal) {
    for (const TableFact& fact : kTableFacts) {
      if (fact.property == *literal) answer = TableFactAnswer(catalog, fact, id);
    }
    for (const TriggerFact& fact : kTriggerFacts) {
      if (fact.property == *literal) answer = TriggerFactAnswer(catalog, fact, id);
    }
    if (!answer && (*literal == "cnstisclustkey" || *literal == "cnstisnonclustkey")) {
      TableShape keys = View(catalog, {"sysconstraints"});
      answer = OwnRowAnswer(objects, id, property, &keys);
    }
    if (!answer) answer = OwnRowAnswer(objects, id, property);
  } else {
    answer = Node(BoundKind::kCase, Typed(SqlType::kInt));
    auto named = [&](std::string_view name) {
      return Equal(Node(BoundKind::kColumn, property->type, property->sql), Text(name));
    };
    for (const TableFact& fact : kTableFacts) {
      answer->args.push_back(named(fact.property));
      answer->args.push_back(TableFactAnswer(catalog, fact, id));
    }
    for (const TriggerFact& fact : kTriggerFacts) {
      answer->args.push_back(named(fact.property));
      answer->args.push_back(TriggerFactAnswer(catalog, fact, id));
    }
    TableShape keys = View(catalog, {"sysconstraints"});
    answer->args.push_back(OwnRowAnswer(objects, id, property, &keys));
    answer->has_else = true;
  }
  answer->type.nullable = true;
  return OverArguments(std::move(args), std::move(answer));
}

Bound ColName(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0]) || !IsInteger(*args[1])) Refuse("COL_NAME argument");
  TableShape columns = View(catalog, {"syscolumns"});
  return Lookup(columns, ViewColumn(columns, "name"),
                Both(Equal(ViewColumn(columns, "id"), std::move(args[0])),
                     Equal(ViewColumn(columns, "colid"), std::move(args[1]))));
}

// The syscolumns row of column `column` of the object named `table`, of
// `database` (empty: the current one).
Bound ColumnOfNamedObject(Catalog& catalog, const TableShape& columns, Bound table, Bound column,
                          const std::string& database) {
  TableShape objects = View(catalog, database.empty()
                                         ? std::vector<std::string>{"sysobjects"}
                                         : std::vector<std::string>{database, "", "sysobjects"});
  Bound reached = OwnerReached(catalog, objects, *table, nullptr);
  Bound id = Lookup(objects, ViewColumn(objects, "id"),
                    Both(ObjectNamed(objects, std::move(table)), std::move(reached)));
  return Both(Equal(ViewColumn(columns, "id"), std::move(id)),
              Equal(ViewColumn(columns, "name"), std::move(column)));
}

// Whether a literal name spells a #table: '#t', 'tempdb..#t', 'tempdb.dbo.#t'.
bool NamesTempTable(const BoundExpr& name) {
  std::optional<std::string> text = WrittenText(name);
  if (!text) return false;
  DottedName written = ReadWrittenName(*text);
  return !written.parts.empty() && IsLocalTempName(written.Last()) &&
         (written.Database().empty() || EqualsIgnoreCase(written.Database(), "tempdb"));
}

// COL_LENGTH(table, column): of the database a literal name gives, as
// OBJECT_ID reads it; of the session's #table a literal '#t' or
// 'tempdb..#t' names, from tempdb's catalog.
Bound ColLength(Catalog& catalog, std::vector<Bound> args) {
  if (!IsText(*args[0]) || !IsText(*args[1])) Refuse("COL_LENGTH argument");
  if (NamesTempTable(*args[0])) {
    TableShape columns = View(catalog, {"tempdb", "", "syscolumns"});
    Bound length = ViewColumn(columns, "length");
    length->type = Typed(SqlType::kInt);
    Bound id = Call("sqlengine_temp_object_id", Typed(SqlType::kInt), std::move(args[0]));
    return Lookup(columns, std::move(length),
                  Both(Equal(ViewColumn(columns, "id"), std::move(id)),
                       Equal(ViewColumn(columns, "name"), std::move(args[1]))));
  }
  std::string database = DatabaseNamed(*args[0]);
  TableShape columns = View(catalog, database.empty()
                                         ? std::vector<std::string>{"syscolumns"}
                                         : std::vector<std::string>{database, "", "syscolumns"});
  Bound length = ViewColumn(columns, "length");
  length->type = Typed(SqlType::kInt);
  return Lookup(columns, std::move(length),
                ColumnOfNamedObject(catalog, columns, std::move(args[0]), std::move(args[1]),
                                    database));
}

// A property of the row of `view` meeting `condition`: the engine function
// `function` picks it from `property` and the row's `columns`.
Bound RowProperty(const TableShape& view, std::string function, Bound property,
                  std::initializer_list<std::string_view> columns, Bound condition) {
  std::vector<Bound> answer;
  answer.push_back(std::move(property));
  for (std::string_view column : columns) answer.push_back(ViewColumn(view, column));
  return Lookup(view, Call(std::move(function), Typed(SqlType::kInt), std::move(answer)),
                std::move(condition));
}

// COLUMNPROPERTY(id, column, property): sqlengine_column_property picks the
// answer from the column's syscolumns row, and for UsesAnsiTrim from the
// ANSI_PADDING its table recorded for it (sqlengine_column_ansi_padded).
Bound ColumnProperty(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0]) || !IsText(*args[1]) || !IsText(*args[2]))
    Refuse("COLUMNPROPERTY argument");
  TableShape columns = View(catalog, {"syscolumns"});
  TableShape objects = View(catalog, {"sysobjects"});
  std::vector<Bound> answer;
  answer.push_back(Argument(args, 2));
  for (std::string_view column :
       {"isnullable", "prec", "scale", "colid", "colstat", "iscomputed", "xtype"})
    answer.push_back(ViewColumn(columns, column));
  std::vector<Bound> padded;
  padded.push_back(Lookup(objects, ViewColumn(objects, "name"),
                          Equal(ViewColumn(objects, "id"), Argument(args, 0))));
  padded.push_back(ViewColumn(columns, "name"));
  answer.push_back(Call("sqlengine_column_ansi_padded", Typed(SqlType::kInt), std::move(padded)));
  Bound found = Lookup(columns, Call("sqlengine_column_property", Typed(SqlType::kInt), std::move(answer)),
                       Both(Equal(ViewColumn(columns, "id"), Argument(args, 0)),
                            Equal(ViewColumn(columns, "name"), Argument(args, 1))));
  return OverArguments(std::move(args), std::move(found));
}

// PERMISSIONS(objectid [, column]): the session's answer for the object's
// name, type and columns (see exec/permission_bits.h); NULL for an id of no
// object of the current database.
Bound Permissions(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0]) || (args.size() == 2 && !IsText(*args[1])))
    Refuse("PERMISSIONS argument");
  TableShape objects = View(catalog, {"sysobjects"});
  TableShape columns = View(catalog, {"syscolumns"});
  auto of_object = [&](const TableShape& view) {
    return Equal(ViewColumn(view, "id"), Argument(args, 0));
  };
  std::vector<Bound> names;
  names.push_back(ViewColumn(columns, "name"));
  names.push_back(Node(BoundKind::kLiteral, Typed(SqlType::kVarChar, 1), "char(1)"));
  std::vector<Bound> answer;
  answer.push_back(Lookup(objects, ViewColumn(objects, "name"), of_object(objects)));
  answer.push_back(Lookup(objects, Call("rtrim", Typed(SqlType::kVarChar, 2),
                                        ViewColumn(objects, "xtype")),
                          of_object(objects)));
  answer.push_back(Lookup(columns, Call("group_concat", Typed(SqlType::kNVarChar, 4000),
                                        std::move(names)),
                          of_object(columns)));
  if (args.size() == 2) answer.push_back(Argument(args, 1));
  Bound bits = Call("sqlengine_permissions", Typed(SqlType::kInt), std::move(answer));
  bits->type.nullable = true;
  return OverArguments(std::move(args), std::move(bits));
}

Bound DbId(Catalog& catalog, std::vector<Bound> args) {
  if (!args.empty() && !IsText(*args[0])) Refuse("DB_ID argument");
  TableShape databases = View(catalog, {"master", "", "sysdatabases"});
  Bound name = args.empty() ? Call("db_name", Sysname(), std::vector<Bound>{}) : std::move(args[0]);
  return Lookup(databases, ViewColumn(databases, "dbid"),
                Equal(ViewColumn(databases, "name"), std::move(name)));
}

Bound DbName(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0])) Refuse("DB_NAME argument");
  TableShape databases = View(catalog, {"master", "", "sysdatabases"});
  return Lookup(databases, ViewColumn(databases, "name"),
                Equal(ViewColumn(databases, "dbid"), std::move(args[0])));
}

// USER_ID([name]): the uid of that user of the current database, or of
// the session's own user there.
Bound UserId(Catalog& catalog, std::vector<Bound> args) {
  if (!args.empty() && !IsText(*args[0])) Refuse("USER_ID argument");
  TableShape users = View(catalog, {"sysusers"});
  Bound name =
      args.empty() ? Call("user_name", Sysname(), std::vector<Bound>{}) : std::move(args[0]);
  return Lookup(users, ViewColumn(users, "uid"), Equal(ViewColumn(users, "name"), std::move(name)));
}

// FILE_ID(name) and FILE_NAME(id): the current database's files.
Bound FileLookup(Catalog& catalog, std::vector<Bound> args, bool by_name) {
  if (by_name ? !IsText(*args[0]) : !IsInteger(*args[0])) Refuse("file argument");
  TableShape files = View(catalog, {"sysfiles"});
  return Lookup(files, ViewColumn(files, by_name ? "fileid" : "name"),
                Equal(ViewColumn(files, by_name ? "name" : "fileid"), std::move(args[0])));
}

// INDEXPROPERTY(id, index, property): sqlengine_index_property answers from
// the index's sysindexes row.
Bound IndexProperty(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0]) || !IsText(*args[1]) || !IsText(*args[2]))
    Refuse("INDEXPROPERTY argument");
  TableShape indexes = View(catalog, {"sysindexes"});
  return RowProperty(indexes, "sqlengine_index_property", std::move(args[2]), {"status", "indid"},
                     Both(Equal(ViewColumn(indexes, "id"), std::move(args[0])),
                          Equal(ViewColumn(indexes, "name"), std::move(args[1]))));
}

// SUSER_SNAME(sid): the login of that sid.
Bound LoginName(Catalog& catalog, std::vector<Bound> args) {
  if (!args[0]->null_literal && args[0]->type.type != SqlType::kVarBinary &&
      args[0]->type.type != SqlType::kBinary)
    Refuse("SUSER_SNAME argument");
  TableShape logins = View(catalog, {"master", "", "syslogins"});
  return Lookup(logins, ViewColumn(logins, "name"),
                Equal(ViewColumn(logins, "sid"), std::move(args[0])));
}

// SUSER_SID([login]): the sid of that login, or of the session's own.
Bound LoginSid(Catalog& catalog, std::vector<Bound> args) {
  if (!args.empty() && !IsText(*args[0])) Refuse("SUSER_SID argument");
  TableShape logins = View(catalog, {"master", "", "syslogins"});
  Bound name =
      args.empty() ? Call("suser_sname", Sysname(), std::vector<Bound>{}) : std::move(args[0]);
  return Lookup(logins, ViewColumn(logins, "sid"),
                Equal(ViewColumn(logins, "name"), std::move(name)));
}

// SUSER_ID([login]) is NULL whatever it is given: SQL Server 2000 gave
// server user ids up for sids, and its SUSER_ID answers NULL (the ids live on
// in syslogins.suid, which SUSER_NAME reads).
Bound LoginId(std::vector<Bound> args) {
  if (!args.empty() && !IsText(*args[0])) Refuse("SUSER_ID argument");
  ColumnType type = Typed(SqlType::kInt);
  type.nullable = true;
  return Literal(type, "NULL");
}

// SUSER_NAME([suid]): the login of that suid, the session's own without one.
Bound LoginNamed(Catalog& catalog, std::vector<Bound> args) {
  if (args.empty()) {
    Bound own = Call("suser_sname", Sysname(), std::vector<Bound>{});
    own->type.nullable = false;
    return own;
  }
  if (!IsInteger(*args[0])) Refuse("SUSER_NAME argument");
  TableShape logins = View(catalog, {"master", "", "syslogins"});
  return Lookup(logins, ViewColumn(logins, "name"),
                Equal(ViewColumn(logins, "suid"), std::move(args[0])));
}

// GETANSINULL([database]): getansinull(database, @@OPTIONS) weighs the
// session's ANSI_NULL_DFLT_ON / ANSI_NULL_DFLT_OFF against the database's
// 'ANSI null default' option.
Bound AnsiNullDefault(std::vector<Bound> args) {
  if (!args.empty() && !IsText(*args[0])) Refuse("GETANSINULL argument");
  std::vector<Bound> call;
  call.push_back(args.empty() ? Call("db_name", Sysname(), std::vector<Bound>{})
                              : std::move(args[0]));
  call.push_back(Node(BoundKind::kParameter, Typed(SqlType::kInt),
                      std::string(kSystemVariablePrefix) + "options"));
  Bound answer = Call("getansinull", Typed(SqlType::kInt), std::move(call));
  answer->type.nullable = true;
  return answer;
}

// FILEPROPERTY(file, property): of a file of the current database, from its
// sysfiles row (sqlengine_file_property).
Bound FileProperty(Catalog& catalog, std::vector<Bound> args) {
  if (!IsText(*args[0]) || !IsText(*args[1])) Refuse("FILEPROPERTY argument");
  TableShape files = View(catalog, {"sysfiles"});
  return RowProperty(files, "sqlengine_file_property", std::move(args[1]), {"fileid", "size"},
                     Equal(ViewColumn(files, "name"), std::move(args[0])));
}

// TYPEPROPERTY(type, property): from the type's systypes row in the current
// database (a built-in type or one sp_addtype made there).
Bound TypeProperty(Catalog& catalog, std::vector<Bound> args) {
  if (!IsText(*args[0]) || !IsText(*args[1])) Refuse("TYPEPROPERTY argument");
  TableShape types = View(catalog, {"systypes"});
  return RowProperty(types, "sqlengine_typeproperty", std::move(args[1]),
                     {"xtype", "prec", "scale", "allownulls"},
                     Equal(ViewColumn(types, "name"), std::move(args[0])));
}

// INDEXKEY_PROPERTY(table id, index id, key number, property): from the
// key's sysindexkeys row; whether the key sorts descending is read from the
// index itself, found by its table's and its own names.
Bound IndexKeyProperty(Catalog& catalog, std::vector<Bound> args) {
  for (size_t k = 0; k < 3; ++k) {
    if (!IsInteger(*args[k])) Refuse("INDEXKEY_PROPERTY argument");
  }
  if (!IsText(*args[3])) Refuse("INDEXKEY_PROPERTY argument");
  TableShape keys = View(catalog, {"sysindexkeys"});
  TableShape objects = View(catalog, {"sysobjects"});
  TableShape indexes = View(catalog, {"sysindexes"});
  std::vector<Bound> descending;
  descending.push_back(Lookup(objects, ViewColumn(objects, "name"),
                              Equal(ViewColumn(objects, "id"), Argument(args, 0))));
  descending.push_back(Lookup(indexes, ViewColumn(indexes, "name"),
                              Both(Equal(ViewColumn(indexes, "id"), Argument(args, 0)),
                                   Equal(ViewColumn(indexes, "indid"), Argument(args, 1)))));
  descending.push_back(Argument(args, 2));
  std::vector<Bound> answer;
  answer.push_back(Argument(args, 3));
  answer.push_back(ViewColumn(keys, "colid"));
  answer.push_back(
      Call("sqlengine_key_descending", Typed(SqlType::kInt), std::move(descending)));
  Bound key = Lookup(
      keys, Call("sqlengine_indexkey_property", Typed(SqlType::kInt), std::move(answer)),
      Both(Equal(ViewColumn(keys, "id"), Argument(args, 0)),
           Both(Equal(ViewColumn(keys, "indid"), Argument(args, 1)),
                Equal(ViewColumn(keys, "keyno"), Argument(args, 2)))));
  return OverArguments(std::move(args), std::move(key));
}

// FORMATMESSAGE(number, argument ...): the text master..sysmessages keeps
// for a number above 13000 (the server's own messages below are not
// formatted), its placeholders filled as RAISERROR fills them; NULL for no
// such message.
Bound FormattedMessage(Catalog& catalog, std::vector<Bound> args) {
  if (!IsInteger(*args[0])) Refuse("FORMATMESSAGE number");
  TableShape messages = View(catalog, {"master", "", "sysmessages"});
  Bound above = Node(BoundKind::kComparison, Typed(SqlType::kBit));
  above->op = ">";
  above->args.push_back(ViewColumn(messages, "error"));
  above->args.push_back(Node(BoundKind::kLiteral, Typed(SqlType::kInt), "13000"));
  std::vector<Bound> answer;
  answer.push_back(
      Lookup(messages, ViewColumn(messages, "description"),
             Both(Equal(ViewColumn(messages, "error"), std::move(args[0])), std::move(above))));
  for (size_t k = 1; k < args.size(); ++k) answer.push_back(std::move(args[k]));
  Bound text = Call("sqlengine_formatmessage", Typed(SqlType::kNVarChar, 2048), std::move(answer));
  text->type.nullable = true;
  return text;
}

// The engine's SQLite function of the same name, with SQL Server's type;
// nullable, as an unknown name or property gives NULL.
Bound Direct(std::string_view name, ColumnType type, std::vector<Bound> args) {
  for (size_t k = 0; k < args.size(); ++k) {
    bool type_number = name == "type_name" || name == "filegroup_name" ||
                       name == "stats_date";
    if (type_number ? !IsInteger(*args[k]) : !IsText(*args[k])) Refuse("argument type");
  }
  type.nullable = true;
  return Call(std::string(name), type, std::move(args));
}

struct Form {
  std::string_view name;
  size_t min_args, max_args;
};

constexpr Form kForms[] = {
    {"object_id", 1, 2},       {"object_name", 1, 1},      {"objectproperty", 2, 2},
    {"col_name", 2, 2},        {"col_length", 2, 2},       {"columnproperty", 3, 3},
    {"db_id", 0, 1},           {"db_name", 1, 1},          {"databasepropertyex", 2, 2},
    {"serverproperty", 1, 1},  {"databaseproperty", 2, 2}, {"type_id", 1, 1},
    {"type_name", 1, 1},       {"indexproperty", 3, 3},    {"suser_sname", 1, 1},
    {"suser_sid", 0, 1},       {"permissions", 1, 2},      {"collationproperty", 2, 2},
    {"sessionproperty", 1, 1}, {"formatmessage", 1, 21},   {"user_id", 0, 1},
    {"file_id", 1, 1},         {"file_name", 1, 1},        {"getansinull", 0, 1},
    {"filegroup_id", 1, 1},    {"filegroup_name", 1, 1},   {"filegroupproperty", 2, 2},
    {"fileproperty", 2, 2},    {"stats_date", 2, 2},       {"suser_id", 0, 1},
    {"suser_name", 0, 1},      {"typeproperty", 2, 2},     {"indexkey_property", 4, 4},
    {"fulltextcatalogproperty", 2, 2},                     {"fulltextserviceproperty", 1, 1},
};

}  // namespace

bool IsCatalogFunction(std::string_view name, size_t count) {
  for (const Form& form : kForms) {
    if (form.name == name && count >= form.min_args && count <= form.max_args) return true;
  }
  return false;
}

std::unique_ptr<BoundExpr> BindCatalogFunction(std::string_view name, std::vector<Bound> args,
                                               Catalog& catalog) {
  if (!IsCatalogFunction(name, args.size())) Refuse("catalog function arguments");
  if (name == "object_id") return ObjectId(catalog, std::move(args));
  if (name == "object_name") return ObjectName(catalog, std::move(args));
  if (name == "objectproperty") return ObjectProperty(catalog, std::move(args));
  if (name == "col_name") return ColName(catalog, std::move(args));
  if (name == "col_length") return ColLength(catalog, std::move(args));
  if (name == "columnproperty") return ColumnProperty(catalog, std::move(args));
  if (name == "db_id") return DbId(catalog, std::move(args));
  if (name == "db_name") return DbName(catalog, std::move(args));
  if (name == "indexproperty") return IndexProperty(catalog, std::move(args));
  if (name == "suser_sname") return LoginName(catalog, std::move(args));
  if (name == "suser_sid") return LoginSid(catalog, std::move(args));
  if (name == "permissions") return Permissions(catalog, std::move(args));
  if (name == "formatmessage") return FormattedMessage(catalog, std::move(args));
  if (name == "user_id") return UserId(catalog, std::move(args));
  if (name == "file_id" || name == "file_name")
    return FileLookup(catalog, std::move(args), name == "file_id");
  if (name == "suser_id") return LoginId(std::move(args));
  if (name == "suser_name") return LoginNamed(catalog, std::move(args));
  if (name == "fileproperty") return FileProperty(catalog, std::move(args));
  if (name == "typeproperty") return TypeProperty(catalog, std::move(args));
  if (name == "indexkey_property") return IndexKeyProperty(catalog, std::move(args));
  // An unknown name, type or property gives NULL, whatever the arguments.
  if (name == "filegroup_id") return Direct(name, Typed(SqlType::kSmallInt), std::move(args));
  if (name == "filegroup_name") return Direct(name, Sysname(), std::move(args));
  if (name == "stats_date") return Direct(name, Typed(SqlType::kDateTime), std::move(args));
  if (name == "getansinull") return AnsiNullDefault(std::move(args));
  if (name == "filegroupproperty" || name == "fulltextcatalogproperty" ||
      name == "fulltextserviceproperty")
    return Direct(name, Typed(SqlType::kInt), std::move(args));
  if (name == "databaseproperty") return Direct(name, Typed(SqlType::kInt), std::move(args));
  if (name == "type_id") return Direct(name, Typed(SqlType::kInt), std::move(args));
  if (name == "type_name") return Direct(name, Sysname(), std::move(args));
  // databasepropertyex, serverproperty, collationproperty, sessionproperty
  return Direct(name, Typed(SqlType::kSqlVariant), std::move(args));
}

}  // namespace sqlengine::tsql::bind
