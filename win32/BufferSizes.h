// The sizes of the fixed character buffers the updater's texts live in, in
// bytes with the terminating zero, named once. The behaviour is defined with
// these numbers: a text that does not fit is refused, never cut, unless a
// comment at the use says it may be (a title that is only shown).
#pragma once

#include <stddef.h>

namespace win32 {

// A path: the Windows path length (MAX_PATH).
inline constexpr size_t kPathSize = 260;
// The longest path, in characters without the zero.
inline constexpr size_t kPathLength = kPathSize - 1;
// A long text: a folder of kPathLength characters with its final backslash
// and a short subfolder (the program folder, the product's shared folders),
// the key path and key file of the list, a value of the Uninstall entry.
inline constexpr size_t kLongTextSize = 270;
// A short text: a version, a group's name or "OS" value, a string-table
// format or message line.
inline constexpr size_t kTextSize = 256;
// A short text as read from the update list (names, versions, "OS").
inline constexpr size_t kTextReadSize = kTextSize - 1;
// The dialog's title, as read back from its window and as the caption of
// every message box.
inline constexpr size_t kTitleSize = 255;

}  // namespace win32
