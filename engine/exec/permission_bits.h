#pragma once
// The bitmaps PERMISSIONS([objectid [, 'column']]) answers, read from what a
// DatabaseRights decides (its Check and CanGrant), never from the rows
// behind it: the low 16 bits are what the user may do, the same bits moved
// up 16 what the user may GRANT.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/exec/access_rights.h"

namespace sqlengine::exec {

// The statement bits: 0x1 CREATE DATABASE (`create_database`, which the
// caller decides in master only), 0x2 CREATE TABLE, 0x4 CREATE PROCEDURE,
// 0x8 CREATE VIEW, 0x10 CREATE RULE, 0x20 CREATE DEFAULT, 0x40 BACKUP
// DATABASE. 0x80 (BACKUP LOG) stays clear: the engine keeps no log to back up.
int StatementPermissionBits(const DatabaseRights& rights, bool create_database,
                            bool grant_create_database);

// The bits of object `object` of sysobjects type `xtype` with columns
// `columns`: for a table or view 0x1 / 0x2 / 0x4 SELECT / UPDATE /
// REFERENCES on every column, 0x1000 / 0x2000 / 0x4000 on at least one,
// 0x8 INSERT, 0x10 DELETE; for a procedure or scalar function 0x20 EXECUTE.
// With `column`, that column's 0x1 SELECT, 0x2 UPDATE, 0x4 REFERENCES;
// nullopt when the object has no such column.
std::optional<int> ObjectPermissionBits(const DatabaseRights& rights, std::string_view object,
                                        std::string_view xtype,
                                        const std::vector<std::string>& columns,
                                        std::optional<std::string_view> column);

}  // namespace sqlengine::exec
