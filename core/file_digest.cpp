#include "core/file_digest.h"

#include <gcrypt.h>

#include <array>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace fieldkit {
namespace {

// The library must be told once per process that its set-up is complete before any digest;
// a program that set it up itself already is left as it is.
void initialiseGcrypt()
{
    static const bool initialised = [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0)
            return true;
        if (gcry_check_version(GCRYPT_VERSION) == nullptr)
            throw std::runtime_error("libgcrypt is older than the version FieldKit was built with");
        // Only public data is hashed: no secure memory is needed.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
}

struct DigestCloser {
    void operator()(gcry_md_hd_t handle) const { gcry_md_close(handle); }
};

} // namespace

std::optional<FileDigest> digestOfFile(const std::filesystem::path& file)
{
    initialiseGcrypt();
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    gcry_md_hd_t opened = nullptr;
    if (gcry_md_open(&opened, GCRY_MD_SHA256, 0) != 0)
        return std::nullopt;
    const std::unique_ptr<gcry_md_handle, DigestCloser> digest(opened);

    FileDigest result;
    std::array<char, 64 * 1024> buffer{};
    while (in) {
        in.read(buffer.data(), buffer.size());
        const auto got = static_cast<std::size_t>(in.gcount());
        gcry_md_write(digest.get(), buffer.data(), got);
        result.size += got;
    }
    if (in.bad())
        return std::nullopt;

    const unsigned char* bytes = gcry_md_read(digest.get(), GCRY_MD_SHA256);
    constexpr char kHex[] = "0123456789abcdef";
    for (unsigned i = 0; i < gcry_md_get_algo_dlen(GCRY_MD_SHA256); ++i) {
        result.sha256 += kHex[bytes[i] >> 4];
        result.sha256 += kHex[bytes[i] & 0x0F];
    }
    return result;
}

std::array<std::uint8_t, 32> sha256Of(std::string_view bytes)
{
    initialiseGcrypt();
    std::array<std::uint8_t, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
    return digest;
}

void fillUnique(std::span<std::uint8_t> bytes)
{
    initialiseGcrypt();
    gcry_create_nonce(bytes.data(), bytes.size());
}

} // namespace fieldkit
