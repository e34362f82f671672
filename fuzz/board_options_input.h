#pragma once

// The emulator's option parser, which reads what a user types after --sim-option, against
// arbitrary words.
//
// The input is the option words, one a line. What the parser promises, and the harness
// checks: it either gives a board or throws std::invalid_argument with a reason (any other
// exception escapes and counts as a finding), and a board it gives has a parameter block
// of exactly 52 bytes and an answer for every read it offers.

#include "fuzz/finding.h"
#include "sim/board_map.h"
#include "sim/board_options.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::fuzz {

inline void replayBoardOptions(std::span<const std::uint8_t> input)
{
    std::vector<std::string> words;
    std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        words.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    sim::BoardOptions options;
    try {
        options = sim::parseBoardOptions(words);
    } catch (const std::invalid_argument& refusal) {
        require(std::string_view(refusal.what()).size() > 0, "a refused option comes with a reason");
        return;
    }
    require(options.parameterBlock().size() == sim::kParameterBlockSize, "the parameter block has 52 bytes");
    require(options.versionAnswer().size() == sim::kVersionAnswerSize &&
                options.identityBlock().size() == sim::kIdentityBlockSize,
            "every read the board offers has its answer");
}

} // namespace fieldkit::fuzz
