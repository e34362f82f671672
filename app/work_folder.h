#pragma once

// The folder the desktop program works in when started from the desktop's menu. A technician
// who clicks the menu icon lands in no particular directory, so the program makes a folder of
// its own that holds Info.txt, AppConfig.ini and the firmware files, as the current directory
// does for a program started on a terminal.

#include <array>
#include <filesystem>
#include <string>

namespace fieldkit::app {

inline constexpr const char* kWorkFolderName = "FieldKit";
// Copied into the working folder where it lacks them: the text the window shows and the
// settings file, both from the package's examples.
inline constexpr std::array<const char*, 2> kStarterFiles{"Info.txt", "AppConfig.ini"};

// FieldKit in `documents` when that folder exists and is not the home folder itself (the
// desktop names one), else FieldKit in `home`.
std::filesystem::path standardWorkFolder(const std::filesystem::path& home, const std::filesystem::path& documents);

// standardWorkFolder() of this user's home and documents folders as the desktop names them.
std::filesystem::path desktopWorkFolder();

// Where the installed program finds its starter files: share/fieldkit beside its bin folder,
// on Windows the examples folder beside the program.
std::filesystem::path installedStarterFolder(const std::filesystem::path& programFolder);

// Creates `folder` when it is missing, copies each starter file from `starterFolder` that it
// lacks (an existing file is never touched) and makes it the current directory. Returns what
// the technician must be told, empty when all went well. When the folder cannot be made or
// entered, the current directory stays as it was and the text says so.
std::string enterWorkFolder(const std::filesystem::path& folder, const std::filesystem::path& starterFolder);

} // namespace fieldkit::app
