// The entry point of a Windows program whose code starts in WinMain. Windows only.
#include <windows.h>

#include "runtime/process.h"
#include "runtime/start_and_exit.h"

// What the C runtime's start-up did for WinMain: global objects constructed first, then WinMain
// with the module, the command line after the program name and the show state the starter
// asked for; its answer is the exit code, after the global objects are destroyed.
// Windows does not promise the 16-byte stack alignment the compiler keeps, so the entry makes it.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  zynrt::ConstructGlobals();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show =
      (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
  char* arguments = const_cast<char*>(zynrt::SkipProgramName(GetCommandLineA()));
  zynrt::ExitProgram(WinMain(GetModuleHandleA(nullptr), nullptr, arguments, show));
}
