#pragma once
// Where a program keeps its data and backup files: the decision behind
// ProgramFolder(), with the folders it looks at passed in.

#include <filesystem>
#include <string>

namespace dbplatform {

struct ProgramFolderLayout {
  std::filesystem::path executable_folder;
  // Where an installation keeps the shipped data files (<prefix>/share/velmora);
  // its existence marks an installed layout.
  std::filesystem::path installed_data_folder;
  // The per-user folder used when the executable's folder is not ours to write.
  std::filesystem::path user_folder;
};

struct ProgramFolderChoice {
  std::filesystem::path folder;
  // Empty, or why the per-user folder could not be made or filled; the
  // choice stands either way.
  std::string problem;
};

// See ProgramFolder() for the rule. Creates and seeds the per-user folder
// when that is the choice. Never throws.
ProgramFolderChoice ChooseProgramFolder(const ProgramFolderLayout& layout);

// True when a file can be created in `folder` by this process (tried, not
// guessed from permission bits: root, read-only mounts and ACLs all count).
bool CanCreateFilesIn(const std::filesystem::path& folder);

// $XDG_DATA_HOME/velmora when that variable holds an absolute path, else
// ~/.local/share/velmora.
std::filesystem::path UserDataFolder();

}  // namespace dbplatform
