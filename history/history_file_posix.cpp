// The history's system calls on Linux and other POSIX systems.

#include "history/history_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fieldkit::history::platform {
namespace {

std::string systemError(const std::filesystem::path& file)
{
    return file.string() + ": " + std::strerror(errno);
}

// Closes the descriptor, which also drops its lock.
class OpenFile {
public:
    explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
    ~OpenFile()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

// Whether the file is empty or ends in a newline.
bool endsWithNewline(int descriptor, off_t size)
{
    if (size == 0)
        return true;
    char last = 0;
    return ::pread(descriptor, &last, 1, size - 1) == 1 && last == '\n';
}

struct Account {
    std::string name;
    std::string home;
};

// The re-entrant form of the account lookup: a bench's runs record from threads of their own,
// at the same time.
std::optional<Account> accountOf(uid_t user)
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return Account{entry.pw_name != nullptr ? entry.pw_name : "", entry.pw_dir != nullptr ? entry.pw_dir : ""};
}

} // namespace

std::filesystem::path defaultHistoryFile()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
        return std::filesystem::path(data) / "fieldkit" / "history.jsonl";
    std::string home;
    if (const char* fromEnvironment = std::getenv("HOME"); fromEnvironment != nullptr)
        home = fromEnvironment;
    if (const auto account = home.empty() ? accountOf(::getuid()) : std::nullopt; account)
        home = account->home;
    if (home.empty())
        return {};
    return std::filesystem::path(home) / ".local" / "share" / "fieldkit" / "history.jsonl";
}

std::optional<std::string> appendLine(const std::filesystem::path& file, const std::string& line)
{
    const OpenFile out(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (out.get() < 0)
        return systemError(file);
    // Every writer holds the lock from looking at the last byte until its line is written.
    while (::flock(out.get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return systemError(file);
    const off_t size = ::lseek(out.get(), 0, SEEK_END);
    if (size < 0)
        return systemError(file);
    const std::string whole = endsWithNewline(out.get(), size) ? line : '\n' + line;

    std::size_t written = 0;
    while (written < whole.size()) {
        const ssize_t count = ::write(out.get(), whole.data() + written, whole.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;
            return systemError(file);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(out.get()) != 0)
        return systemError(file);
    return std::nullopt;
}

std::optional<std::string> readInPieces(const std::filesystem::path& file,
                                        const std::function<void(std::string_view)>& take)
{
    // Not blocking: opening a pipe without a writer would wait for one.
    const OpenFile in(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0)
        return systemError(file);
    struct stat status {};
    if (::fstat(in.get(), &status) != 0)
        return systemError(file);
    if (S_ISDIR(status.st_mode))
        return file.string() + ": is a folder, not a file";
    if (!S_ISREG(status.st_mode))
        return file.string() + ": is not a regular file";
    std::uintmax_t total = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(in.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return systemError(file);
        if (count == 0)
            return std::nullopt;
        total += static_cast<std::size_t>(count);
        if (total > kLargestHistory)
            return file.string() + ": is larger than " + std::to_string(kLargestHistory >> 20) + " MiB";
        take({buffer, static_cast<std::size_t>(count)});
    }
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string userName()
{
    if (const auto account = accountOf(::geteuid()); account && !account->name.empty())
        return account->name;
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

} // namespace fieldkit::history::platform
