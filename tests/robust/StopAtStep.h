#pragma once

#include <string>

// Stops the process dead at a chosen file-system step, for tests of what a program that
// dies at any moment leaves behind. Linked into a program (with ENABLE_EXPORTS), it takes
// the place of the C library's calls that change a file for the whole process, Qt's and
// SQLite's included: open for writing, write, sync, truncate, link, rename, unlink. Each is
// a step once armed; at step `stopAt` the process ends with _exit(kStoppedExit), before the
// call, or for a write once half of its bytes are in the file when `halfway` is set.
// Step 0 stops nowhere.
namespace stopatstep {

constexpr int kStoppedExit = 75;

void Arm(int stopAt, bool halfway);
void Disarm();
// The steps taken while armed, one word each, separated by spaces.
std::string Taken();

} // namespace stopatstep
