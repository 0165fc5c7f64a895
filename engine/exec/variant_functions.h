#pragma once
// The SQLite functions behind sql_variant in generated SQL. Values of a
// sql_variant column, variable or expression are in the stored form of
// values/variant_value.h; plain SQLite values passed where a variant is
// expected count as variants of their natural type.
//
// sqlengine_variant(x, 'declared type'): x, of that type, as a variant.
// sqlengine_variant_value(v, 'declared type'): CAST / CONVERT of a variant
//   to a type, by the conversion rules of its base type (245, 8114, 8115 ...).
// sqlengine_variant_compare(a, b): -1, 0 or 1 by SQL Server's sql_variant
//   order: a family higher in date and time > float > exact numeric >
//   character > binary > uniqueidentifier is greater; within a family the
//   values compare (character data without case); NULL when either is NULL.
// sqlengine_variant_between(v, low, high), sqlengine_variant_in(v, x, ...):
//   BETWEEN and IN in that order: 1, 0, or NULL as AND / OR answer when a
//   comparison with NULL decides.
// sqlengine_variant_key(v): a blob that sorts in that order, for ORDER BY.
// sql_variant_property(v, property): BaseType, Precision, Scale,
//   TotalBytes, Collation, MaxLength; NULL for an unknown property.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterVariantFunctions(sqlite3* db);

}  // namespace sqlengine::exec
