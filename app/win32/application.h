// The application object of the UI layer: one per program, created statically.
//
// WinMain (in application.cpp) hands control to it: the start-up operation runs first; when it
// answers 0 the program ends at once without a message loop, otherwise a plain message loop
// runs until WM_QUIT. Commands that no dialog handles are offered to it last.
#pragma once

#include <windows.h>

namespace ui {

class Dialog;

// The standard help command.
inline constexpr unsigned kHelpCommand = 57670;

class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The one application object, or null before it is constructed.
  static Application* Instance();

  // Start-up operation. 0: end the program without entering the message loop.
  virtual int Start() = 0;
  // End-of-run operation; its answer is the process exit status.
  virtual int Finish() { return 0; }

  // Commands that reached the application; answers whether one was handled. The default
  // handles the standard help command.
  virtual bool OnCommand(unsigned id);
  // What the standard help command shows.
  virtual void ShowHelp();

  // The main-window reference: the dialog that owns dialogs built without an owner.
  Dialog* main_window() const { return main_window_; }
  void set_main_window(Dialog* window) { main_window_ = window; }

  // Start, then the message loop when start-up asked for one, then Finish.
  int Run();

 private:
  Dialog* main_window_ = nullptr;
};

// The two start-up switches that dialog-based programs make.
//
// Hosting of embedded controls: our dialogs host no embedded component objects, only window
// controls, so what the switch means here is that every control class a template may name is
// registered; the common control classes are, by InitCommonControls.
void EnableControlHosting();
// The three-dimensional look of dialog controls: every family we run on (Windows 95 and NT 4
// onwards, and Wine) draws dialog controls three-dimensionally by itself, so there is nothing to
// switch on; the call stays so that the start-up reads as the step it is.
void Enable3dControls();

}  // namespace ui
