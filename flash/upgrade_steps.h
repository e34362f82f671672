#pragma once

// Pieces of an upgrade that are worth testing on their own.

#include "image/parameter_trailer.h"
#include "link/board_connection.h"

#include <cstdint>
#include <string>

namespace fieldkit::flash {

// A board version of the form ?0n. with n from 1 to 6 comes from firmware that this upgrade
// does not fit.
bool isIncompatibleVersion(const std::string& text);

// "Ready - Took m minutes and s seconds" after a success (elapsedSeconds not 0), else "Ready".
std::string finalText(std::uint32_t elapsedSeconds);

// Whole seconds between two readings of a tick counter that may have wrapped in between.
std::uint32_t elapsedSecondsBetween(std::uint32_t startTick, std::uint32_t nowTick);

// Reads the board's parameter block over the open connection into the trailer.
bool readParameterBlock(link::BoardConnection& connection, image::BoardParameterTrailer& trailer);

} // namespace fieldkit::flash
