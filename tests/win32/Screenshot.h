#pragma once

#include <windows.h>

#include <string>

namespace vxa::test {

// Writes what the screen shows inside `area` (screen coordinates) to a PNG file; false when it
// could not. Under Wine the screen is its virtual desktop, frames and captions drawn by Wine.
bool SaveScreenArea(const RECT& area, const std::wstring& path);
// The window's frame, and the box over it when one is up.
RECT WindowArea(HWND window, HWND box = nullptr);

}  // namespace vxa::test
