#include <windows.h>

#include "agent/ui/pellarin_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return edms::RunPellarin(instance); }
