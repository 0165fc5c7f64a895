#include "engine/catalog/instance_home.h"

#include <stdexcept>
#include <string>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"

namespace sqlengine::catalog {

InstanceHome::InstanceHome(std::filesystem::path home)
    : root_(std::filesystem::absolute(std::move(home)).lexically_normal()) {}

std::filesystem::path InstanceHome::Resolve(std::string_view file_name) const {
  std::filesystem::path path(file_name);
  return path.is_absolute() ? path : DataFolder() / path;
}

void InstanceHome::Prepare(Log& log) {
  RegisterLogNameVfs();
  std::error_code error;
  std::filesystem::create_directories(DataFolder(), error);
  if (error) {
    throw std::runtime_error("cannot create the data folder " + DataFolder().string() + ": " +
                             error.message());
  }
  for (const char* name : {"master", "model", "msdb"}) {
    std::filesystem::path file = DataFolder() / (std::string(name) + ".mdf");
    if (!std::filesystem::exists(file)) {
      CreateDataFile(file);
      log.Info("created " + file.string());
    }
    EnsureLogFile(file);
  }
  std::filesystem::path tempdb = DataFolder() / "tempdb.mdf";
  RemoveDataFiles(tempdb);
  CreateDataFile(tempdb);
}

}  // namespace sqlengine::catalog
