// Where this installation keeps its browser profile. Other modules of the
// process keep their per-installation state there too (the core module hands
// it to the voice module through that module's interface), so the folder has
// one owner.
#pragma once

#include <cstddef>

#include "kxcef/export.h"

// Copies the profile folder (UTF-8, zero-terminated, cut to `size`) into
// `buffer`; returns the length of the whole path.
extern "C" KXCEF2_API size_t KXCEF2_ProfileDirectory(char* buffer, size_t size);
