// Stand-in for a product's setup program: a console program that records how it was started and
// ends at once. Tests install it as "setup.exe" and read the record back.
//
// The record goes to the file named by ZYN_STANDIN_RECORD (inherited from whoever started the
// launcher), else to "standin-record.txt" in the current directory. One "key=value" line each:
//   cwd               the current directory it was started in
//   cmdline           its command line, exactly as GetCommandLineA returns it
//   console           1 when it is attached to a console
//   console_window    1 when that console has a window
//   console_processes how many processes share that console (1: a console of its own)
//   platform          GetVersionExA's platform id (1: the 9x family, 2: NT)
//   system_lcid       the system default locale, hex
#include <windows.h>

#include <cstdio>

int main() {
  char cwd[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  DWORD consoleProcesses[16];
  DWORD sharing = GetConsoleProcessList(consoleProcesses, 16);
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);

  char path[MAX_PATH + 1] = {};
  DWORD n = GetEnvironmentVariableA("ZYN_STANDIN_RECORD", path, sizeof path);
  const char* target = (n > 0 && n < sizeof path) ? path : "standin-record.txt";
  FILE* f = std::fopen(target, "w");
  if (!f)
    return 2;
  std::fprintf(
      f, "cwd=%s\ncmdline=%s\nconsole=%d\nconsole_window=%d\nconsole_processes=%lu\nplatform=%lu\n",
      cwd, GetCommandLineA(), sharing > 0 ? 1 : 0, GetConsoleWindow() != nullptr ? 1 : 0,
      static_cast<unsigned long>(sharing), static_cast<unsigned long>(version.dwPlatformId));
  std::fprintf(f, "system_lcid=%04lx\nuser_lcid=%04lx\n",
               static_cast<unsigned long>(GetSystemDefaultLCID()),
               static_cast<unsigned long>(GetUserDefaultLCID()));
  return std::fclose(f) == 0 ? 0 : 3;
}
