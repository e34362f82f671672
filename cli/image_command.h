#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli image`: builds from corvo_boot.s19 and corvo_fwapp.s19 in the current
// directory the whole image an upgrade would write to a board of the given identity, and
// saves its 0x60000 bytes. The command's exit status lands in `exitStatus`.
void addImageCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
