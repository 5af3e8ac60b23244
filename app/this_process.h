// The running process itself: its id, whether it runs with the administrator's rights, its
// arguments, its threads' priority and replacing it by another program.
//
// Linux: this_process_linux.cpp. "Elevated" is the effective user root; the arguments come from
// /proc/self/cmdline; a thread's nice value is its own.
#pragma once

#include <cstdint>
#include <string>

namespace krevol {

std::uint64_t thisProcessId();

// True when the program runs with the administrator's rights.
bool processRunsElevated();

// This process's arguments as NUL-separated text (argv[0] first); empty when unknown.
std::string thisProcessArguments();

// Gives the calling thread (and the threads it starts afterwards) the lowest scheduling priority.
void lowestPriorityForThisThread();

// Replaces the running program by `path` with the arguments `argv` (argv[0] first, a null pointer
// last), in this process, as the last act of a run that is ending. The process's open files are
// not passed on (standard input, output and error are) and buffered standard output is written
// out first. Returns only when the replacement failed.
void replaceThisProgram(const char* path, char* const* argv);

}  // namespace krevol
