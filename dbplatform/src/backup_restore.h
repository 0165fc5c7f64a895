#pragma once
// The backup and restore objects behind "SQLDMO.Backup" and "SQLDMO.restore":
// each composes one BACKUP DATABASE / RESTORE DATABASE statement from its
// settings; GenerateSQL returns exactly the text that SQLBackup / SQLRestore
// then run on the server object they are given.

#include <memory>

#include "dbplatform/administration.h"

namespace dbplatform {

std::unique_ptr<Backup> MakeBackup();
std::unique_ptr<Restore> MakeRestore();

}  // namespace dbplatform
