#include "app/work_folder.h"

#include "app/windows_shell.h"

#include <QDir>

#include <system_error>

namespace fieldkit::app {
namespace fs = std::filesystem;

fs::path standardWorkFolder(const fs::path& home, const fs::path& documents)
{
    std::error_code error;
    const bool documentsNamed = !documents.empty() && fs::is_directory(documents, error) &&
                                !fs::equivalent(documents, home, error);
    return (documentsNamed ? documents : home) / kWorkFolderName;
}

fs::path desktopWorkFolder()
{
    return standardWorkFolder(QDir::homePath().toStdU16String(), documentsFolder());
}

fs::path installedStarterFolder(const fs::path& programFolder)
{
#ifdef _WIN32
    // The zip and the installer keep them in the examples folder beside the program.
    return programFolder / "examples";
#else
    return programFolder.parent_path() / "share" / "fieldkit";
#endif
}

std::string enterWorkFolder(const fs::path& givenFolder, const fs::path& givenStarterFolder)
{
    // Both made absolute before the current directory changes under them.
    std::error_code error;
    const fs::path folder = fs::absolute(givenFolder, error);
    const fs::path starterFolder = fs::absolute(givenStarterFolder, error);
    fs::create_directories(folder, error);
    if (!error)
        fs::current_path(folder, error);
    if (error) {
        std::error_code ignored;
        return "The working folder " + folder.string() + " cannot be used (" + error.message() +
               ").\nFieldKit works in " + fs::current_path(ignored).string() +
               " instead and reads Info.txt, AppConfig.ini and the firmware files from there.";
    }

    // skip_existing: a technician's own Info.txt or settings are never replaced.
    std::string notCopied;
    for (const char* name : kStarterFiles) {
        fs::copy_file(starterFolder / name, folder / name, fs::copy_options::skip_existing, error);
        if (error)
            notCopied += (notCopied.empty() ? "" : ", ") + std::string(name) + " (" + error.message() + ")";
    }
    if (!notCopied.empty())
        return "FieldKit works in " + folder.string() + " but could not copy its starter files there from " +
               starterFolder.string() + ": " + notCopied + ".";
    return {};
}

} // namespace fieldkit::app
