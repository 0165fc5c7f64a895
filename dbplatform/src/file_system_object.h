#pragma once
// The local file system behind "Scripting.FileSystemObject".
//
// Names: the last component of every path is looked up ignoring ASCII letter
// case (see path_lookup.h); a name that several files match only that way
// names none of them. Errors: 53 "File not found", 58 "File already exists",
// 70 "Permission denied", 76 "Path not found" (missing destination folder),
// 61 "Disk full", 57 "Device I/O error".

#include <memory>

#include "dbplatform/administration.h"

namespace dbplatform {

std::unique_ptr<FileSystemObject> MakeLocalFileSystemObject();

}  // namespace dbplatform
