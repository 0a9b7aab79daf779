#pragma once
// Symbolic links of another user, as someone else on the machine would plant
// them in a folder that everybody may write to. Making one needs root (the
// link is made by a child process that takes nobody's file system identity);
// tests skip, saying why, where that is not to be had.

#include <string>

namespace korvotest {

// The user that owns planted links.
constexpr unsigned ForeignUser = 65534;  // nobody

// True when links of another user can be made here (the process runs as root).
bool CanPlantForeignLinks();

// Makes link (pointing to target) owned by ForeignUser; false when that
// cannot be done. Every folder on the way to link must be open to that user.
bool PlantForeignLink(const std::string& target, const std::string& link);

}  // namespace korvotest
