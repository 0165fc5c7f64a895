#include "engine/exec/permission_bits.h"

#include <algorithm>

#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

constexpr int kGrantShift = 16;

// `bit` when `allowed`, and its GRANT bit when `grantable`.
int Bits(int bit, bool allowed, bool grantable) {
  return (allowed ? bit : 0) | (grantable ? bit << kGrantShift : 0);
}

bool Allowed(const DatabaseRights& rights, std::string_view object, Access access,
             std::string_view column = {}) {
  return !rights.Check(object, access, column).has_value();
}

bool IsTableLike(std::string_view xtype) {
  return xtype == "U" || xtype == "V" || xtype == "S" || xtype == "TF" || xtype == "IF";
}

bool IsExecutable(std::string_view xtype) {
  return xtype == "P" || xtype == "X" || xtype == "FN" || xtype == "RF";
}

}  // namespace

int StatementPermissionBits(const DatabaseRights& rights, bool create_database,
                            bool grant_create_database) {
  if (!rights.HasAccess()) return 0;
  int bits = Bits(0x1, create_database, grant_create_database);
  struct Statement {
    int bit;
    Access access;
  };
  for (Statement statement : {Statement{0x2, Access::kCreateTable},
                              Statement{0x4, Access::kCreateProcedure},
                              Statement{0x8, Access::kCreateView},
                              Statement{0x10, Access::kCreateRule},
                              Statement{0x20, Access::kCreateDefault},
                              Statement{0x40, Access::kBackupDatabase},
                              Statement{0x80, Access::kBackupLog}}) {
    bits |= Bits(statement.bit, Allowed(rights, {}, statement.access),
                 rights.CanGrant({}, statement.access));
  }
  return bits;
}

std::optional<int> ObjectPermissionBits(const DatabaseRights& rights, std::string_view object,
                                        std::string_view xtype,
                                        const std::vector<std::string>& columns,
                                        std::optional<std::string_view> column) {
  constexpr Access kColumnAccess[] = {Access::kSelect, Access::kUpdate, Access::kReferences};
  if (column) {
    auto found = std::find_if(columns.begin(), columns.end(), [&](const std::string& name) {
      return tsql::EqualsIgnoreCase(name, *column);
    });
    if (found == columns.end()) return std::nullopt;
    if (!rights.HasAccess() || !IsTableLike(xtype)) return 0;
    int bits = 0;
    for (size_t k = 0; k < 3; ++k) {
      bits |= Bits(1 << k, Allowed(rights, object, kColumnAccess[k], *found),
                   rights.CanGrant(object, kColumnAccess[k]));
    }
    return bits;
  }
  if (!rights.HasAccess()) return 0;
  int bits = 0;
  if (IsTableLike(xtype)) {
    for (size_t k = 0; k < 3; ++k) {
      Access access = kColumnAccess[k];
      size_t allowed = 0;
      for (const std::string& name : columns) allowed += Allowed(rights, object, access, name);
      bool every = columns.empty() ? Allowed(rights, object, access) : allowed == columns.size();
      bool some = columns.empty() ? every : allowed > 0;
      bool grantable = rights.CanGrant(object, access);
      bits |= Bits(1 << k, every, grantable) | Bits(0x1000 << k, some, grantable);
    }
    bits |= Bits(0x8, Allowed(rights, object, Access::kInsert),
                 rights.CanGrant(object, Access::kInsert));
    bits |= Bits(0x10, Allowed(rights, object, Access::kDelete),
                 rights.CanGrant(object, Access::kDelete));
  } else if (IsExecutable(xtype)) {
    bits |= Bits(0x20, Allowed(rights, object, Access::kExecute),
                 rights.CanGrant(object, Access::kExecute));
  }
  return bits;
}

}  // namespace sqlengine::exec
