// The one application object, created before anything else runs; WinMain (app/ui) starts it.
#include "app/id_utility_app.h"

IdUtilityApp theApp;
