#pragma once
// The DBCC SHRINKDATABASE text sent for one database.

#include <string>

namespace brellow {

// A name that is a plain identifier (an ASCII letter or "_", then letters,
// digits, "_", "@", "$" or "#") is returned unchanged; any other name is
// enclosed in brackets with each "]" doubled, so that it names the database
// instead of breaking the command.
std::string DelimitDatabaseName(const std::string& name);

// "DBCC SHRINKDATABASE (<name>,5,TRUNCATEONLY)" when `truncate_only`, else
// "DBCC SHRINKDATABASE (<name>,5)": compact, leaving 5 percent free space.
std::string ShrinkCommand(const std::string& database_name, bool truncate_only);

}  // namespace brellow
