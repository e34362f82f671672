#pragma once

#include <filesystem>
#include <string>

namespace fieldkit::app {

// The bytes of the information file as the form shows them: read in binary mode, so line
// ends arrive unchanged, in pieces of at most 99 bytes that each end at a line end or
// earlier. Each piece counts as a NUL-terminated text: a NUL byte drops the rest of its
// piece, and reading goes on with the next one. A missing or unreadable file gives an
// empty text and no complaint.
std::string loadInfoText(const std::filesystem::path& file);

} // namespace fieldkit::app
