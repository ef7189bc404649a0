// The process's start and end on Windows, for the entry points and the C++ support of the
// runtime. Windows only.
#pragma once

namespace zynrt {

// Constructs the global objects (the linker's constructor list). Runs once; later calls do
// nothing, so that both an entry point and the compiler's call at the top of main may ask.
void ConstructGlobals();

// Ends the process with `status` as its exit code, after the atexit handlers (the global objects'
// destructors among them) and the destructor list have run: what the C runtime's exit does.
[[noreturn]] void ExitProgram(int status);

// Ends the process at once, as abort does (exit code 3, no handlers), after writing
// "fatal: <what>" to the debugger. For faults the program has no way to go on from: no memory
// for an object, a call of a pure virtual function, a standard container asked for the
// impossible.
[[noreturn]] void Fatal(const char* what, const char* detail = nullptr);

}  // namespace zynrt
