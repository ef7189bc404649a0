// What a program's start and end need besides the platform calls: the arguments WinMain gets
// from the command line, the order in which the linker's constructor and destructor lists run,
// and the handlers that atexit registers. Portable, so that the native unit tests drive it;
// process.cpp and the entry points apply it on Windows.
#pragma once

#include <cstddef>

namespace zynrt {

using Function = void (*)();

// What WinMain receives as its command line: the process's whole command line without the
// program name and the white space after it. The name ends at the first space, tab or other
// control character outside double quotes; a quote inside it only switches quoting on or off, so
// `"C:\Program Files\x.exe" /a` answers "/a". Bytes 0x80 and above are ordinary name characters
// (no double-byte code page has a space, tab or quote as a trail byte). Never null.
const char* SkipProgramName(const char* command_line);

// Runs a constructor list as the linker lays it out: a first word that is either the count of
// entries or -1 (then the entries run up to a null one), then the entries. They run last to
// first, the order in which the compiler expects them.
void RunConstructorList(const Function* list);

// Runs a destructor list of the same layout, first to last, up to its null entry.
void RunDestructorList(const Function* list);

// The handlers atexit registers (the compiler registers the destructor of each global object
// there), run last registered first when the program ends.
class ExitHandlers {
 public:
  // A program with more objects to destroy than this is not one of ours: the few globals we have
  // fit many times over.
  static constexpr std::size_t kCapacity = 32;

  // False, and nothing registered, when the handler is null or the table is full.
  bool Add(Function handler);
  // Runs and forgets every handler, last registered first. A handler that registers another
  // while they run gets it run too, before the ones registered earlier.
  void RunAll();
  std::size_t count() const { return count_; }

 private:
  Function handlers_[kCapacity] = {};
  std::size_t count_ = 0;
};

}  // namespace zynrt
