#pragma once

#include <string>

// Folders that configuration files of other programs' libraries are read
// from. Each is empty when the system has no such folder or cannot say.
// Any thread.
namespace platform {

// The documents folder shared by every user: "Public Documents" on
// Windows (CSIDL_COMMON_DOCUMENTS). Linux has none: always empty.
std::string publicDocumentsDir();

// The user's documents folder: "Documents" on Windows (CSIDL_PERSONAL),
// $HOME/Documents on Linux.
std::string userDocumentsDir();

// The process's current folder.
std::string currentDir();

}  // namespace platform
