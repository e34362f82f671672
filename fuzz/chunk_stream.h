#pragma once

// The input format of the link and board harnesses: a stream of chunks, each one length byte
// followed by that many bytes. A chunk of length 0 stands for a silent line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fieldkit::fuzz {

inline constexpr std::size_t kLongestChunk = 255;

class ChunkReader {
public:
    explicit ChunkReader(std::span<const std::uint8_t> input) : input_(input) {}

    bool done() const { return pending_.empty() && input_.empty(); }

    // The next chunk, or its first `limit` bytes when it is longer (the rest comes next);
    // empty for a silence and once the input is used up. A length byte that promises more
    // than the input holds gives what is left.
    std::span<const std::uint8_t> next(std::size_t limit)
    {
        if (pending_.empty()) {
            if (input_.empty())
                return {};
            const std::size_t length = std::min<std::size_t>(input_[0], input_.size() - 1);
            pending_ = input_.subspan(1, length);
            input_ = input_.subspan(1 + length);
        }
        const auto chunk = pending_.first(std::min(limit, pending_.size()));
        pending_ = pending_.subspan(chunk.size());
        return chunk;
    }

private:
    std::span<const std::uint8_t> input_;
    std::span<const std::uint8_t> pending_;
};

// Appends `bytes` to a chunk stream: a silence when empty, else as many chunks as it takes.
inline void appendChunk(std::vector<std::uint8_t>& stream, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        stream.push_back(0);
        return;
    }
    while (!bytes.empty()) {
        const std::size_t length = std::min(kLongestChunk, bytes.size());
        stream.push_back(static_cast<std::uint8_t>(length));
        stream.insert(stream.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        bytes = bytes.subspan(length);
    }
}

} // namespace fieldkit::fuzz
