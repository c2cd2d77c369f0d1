#pragma once

#include <string>

// File-system questions the checks of --check ask. Read only; any thread.

// The path as it names a file from here: absolute, without "." or "..".
std::string fullPath(const std::string& path);

bool pathExists(const std::string& path);
bool isFile(const std::string& path);
bool isFolder(const std::string& path);

// Whether both name one file: for two existing files asked of the system
// (links, and on Windows letter case and short names, count), else whether
// their full paths are equal.
bool sameFile(const std::string& a, const std::string& b);
