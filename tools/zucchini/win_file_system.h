// Win32 implementation of the patcher's file layer (wide paths, 64-bit offsets).
#pragma once

#include "tools/zucchini/portable/file_system.h"

namespace oku::zucchini {

FileSystem& Win32FileSystem();

}  // namespace oku::zucchini
