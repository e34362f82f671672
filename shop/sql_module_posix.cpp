// The database module on Linux: a shared module beside the program (lib/fieldkit/modules
// beside its bin folder, in the build tree as in an installation), opened the first time a
// database is named, so that no other command loads the PostgreSQL client library.

#include "shop/sql_session.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace fieldkit::shop {
namespace {

const char* chosenModule()
{
    const char* chosen = std::getenv("FIELDKIT_SHOP_MODULE");
    return chosen != nullptr && *chosen != '\0' ? chosen : nullptr;
}

std::filesystem::path moduleFile()
{
    if (const char* chosen = chosenModule())
        return chosen;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return program.parent_path().parent_path() / FIELDKIT_SQL_MODULE_FILE;
}

std::string lastError()
{
    const char* error = ::dlerror();
    return error != nullptr ? error : "unknown error";
}

struct Loaded {
    const SqlModule* module = nullptr;
    std::optional<Failure> failure;
};

Loaded load()
{
    const auto file = moduleFile();
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return {nullptr, Failure{FailureKind::ModuleMissing,
                                 "FieldKit's database module " + file.string() + " is missing: " +
                                     (chosenModule() != nullptr ? "FIELDKIT_SHOP_MODULE names it"
                                                                                      : "install FieldKit again")}};
    // The module needs the client library; said first, as it is the part a machine may lack.
    if (::dlopen(FIELDKIT_LIBPQ_SONAME, RTLD_NOW | RTLD_GLOBAL) == nullptr)
        return {nullptr, Failure{FailureKind::ModuleMissing,
                                 "the shop database needs PostgreSQL's client library " FIELDKIT_LIBPQ_SONAME
                                 " (Debian package libpq5), which cannot be loaded: " + lastError()}};
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return {nullptr, Failure{FailureKind::ModuleMissing,
                                 "FieldKit's database module cannot be loaded: " + lastError()}};
    const auto* module = static_cast<const SqlModule*>(::dlsym(handle, kSqlModuleSymbol));
    if (module == nullptr || module->interface != kSqlSessionInterface ||
        std::string_view(module->fieldkitVersion) != FIELDKIT_VERSION)
        return {nullptr, Failure{FailureKind::ModuleMissing, "FieldKit's database module " + file.string() +
                                                                 " belongs to another FieldKit version: install "
                                                                 "FieldKit again"}};
    return {module, std::nullopt};
}

} // namespace

const SqlModule* sqlModule(std::optional<Failure>* failure)
{
    // Loaded once; a module that is missing stays missing for this run.
    static const Loaded loaded = load();
    *failure = loaded.failure;
    return loaded.module;
}

} // namespace fieldkit::shop
