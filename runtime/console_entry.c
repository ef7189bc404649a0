/* The entry point of a console program whose code starts in main. Windows only.
 *
 * C, not C++: C++ does not let a program call its own main. The programs on this runtime take no
 * arguments: main is `int main()`, called without any. */
#include <windows.h>

int main(void);

/* Defined in process.cpp. */
void zynrt_ConstructGlobals(void);
__attribute__((noreturn)) void zynrt_ExitProgram(int status);

/* Global objects constructed, then main; its answer is the exit code, after they are destroyed.
 * Windows does not promise the 16-byte stack alignment the compiler keeps, so the entry makes it.
 */
__attribute__((force_align_arg_pointer)) void mainCRTStartup(void) {
  zynrt_ConstructGlobals();
  zynrt_ExitProgram(main());
}
