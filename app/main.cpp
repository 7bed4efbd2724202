// Pelloran: start-up.
#include <windows.h>

#include <cstdlib>

#include "app/main_form.h"
#include "app/start_up.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return pelloran::RunPelloran<pelloran::TMainForm>(); }
