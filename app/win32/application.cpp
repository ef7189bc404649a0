#include "app/win32/application.h"

#include <commctrl.h>

namespace ui {
namespace {
Application* g_instance = nullptr;
}  // namespace

Application::Application() {
  g_instance = this;
}

Application::~Application() {
  if (g_instance == this)
    g_instance = nullptr;
}

Application* Application::Instance() {
  return g_instance;
}

bool Application::OnCommand(unsigned id) {
  if (id != kHelpCommand)
    return false;
  ShowHelp();
  return true;
}

// The product ships no help file, and every text the user sees comes from the resource library,
// which has no help text: the help command answers with the system's information sound only.
void Application::ShowHelp() {
  MessageBeep(MB_ICONASTERISK);
}

int Application::Run() {
  if (Start() != 0) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return Finish();
}

void EnableControlHosting() {
  InitCommonControls();
}

void Enable3dControls() {}

}  // namespace ui

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ui::Application* app = ui::Application::Instance();
  return app != nullptr ? app->Run() : 1;
}
