// The one way this library opens a named file for reading: only a regular file (after following links) is
// read, so that a directory, a FIFO or a device is treated as a file that does not open, and a name holding
// a NUL byte is refused before the file system sees it (it would take the name as ending there and could
// open another file).
#pragma once

#include <string>

namespace tarq {

// The whole text of the regular file `path` names. False, with `text` untouched, when the path holds a
// NUL, does not open, names anything but a regular file, or fails to read to its end. A long read polls
// for interrupts.
bool read_regular_file(const std::string& path, std::string& text);

// True when `path` names a regular file that opens for reading; nothing is read.
bool opens_as_regular_file(const std::string& path);

}  // namespace tarq
