#include "runtime/start_and_exit.h"

#include <cstdint>

namespace zynrt {

const char* SkipProgramName(const char* command_line) {
  const auto* p = reinterpret_cast<const unsigned char*>(command_line);
  bool quoted = false;
  for (; *p != '\0' && (*p > ' ' || quoted); ++p) {
    if (*p == '"')
      quoted = !quoted;
  }
  while (*p != '\0' && *p <= ' ')
    ++p;
  return reinterpret_cast<const char*>(p);
}

void RunConstructorList(const Function* list) {
  std::size_t count = static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(list[0]));
  if (reinterpret_cast<std::intptr_t>(list[0]) == -1) {
    count = 0;
    while (list[count + 1] != nullptr)
      ++count;
  }
  for (std::size_t i = count; i >= 1; --i)
    list[i]();
}

void RunDestructorList(const Function* list) {
  for (const Function* p = list + 1; *p != nullptr; ++p)
    (*p)();
}

bool ExitHandlers::Add(Function handler) {
  if (handler == nullptr || count_ == kCapacity)
    return false;
  handlers_[count_++] = handler;
  return true;
}

void ExitHandlers::RunAll() {
  // Taken off the table before it runs, so that each runs once and additions land on top.
  while (count_ > 0) {
    const Function handler = handlers_[--count_];
    handler();
  }
}

}  // namespace zynrt
