// The one application object, created before anything else runs; WinMain starts it.
#include "app/win32/id_utility_app.h"

IdUtilityApp theApp;
