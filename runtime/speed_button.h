#pragma once
// A push button that never takes the keyboard focus (like a toolbar's speed button): a click
// presses and releases it without moving the focus away from where the user was typing.

#include <windows.h>

namespace pelloran {

// Makes an existing push button focusless; its clicks still arrive as BN_CLICKED.
void MakeSpeedButton(HWND button);

}  // namespace pelloran
