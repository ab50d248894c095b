#pragma once

#include <QtGlobal>

// Whole reads and writes on a file descriptor: the loops around pread and write that go on
// after a short count or an interrupted call.
namespace FileIo {

// False when the file ends before `size` bytes or the read fails.
bool ReadFully(int fd, char* data, qint64 size, qint64 offset);
bool WriteFully(int fd, const char* data, qint64 size);

} // namespace FileIo
