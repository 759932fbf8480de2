// The boxes and dialogs the Windows window shows besides itself: message boxes
// centred on their owner, the fixed-width text box (template 103), the system's Open
// dialog, and the settings kept under HKCU\Software\Tunlet.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tunlet {

// Puts window in the middle of area, kept inside the work area of its monitor.
void CentreIn(HWND window, const RECT& area);

// Puts window in the middle of its owner, or of its monitor's work area without one.
void CentreOnOwnerOrScreen(HWND window);

// A message box owned by owner and centred on it (on the owner's place even before
// it shows). flags: MB_ICONERROR and the like; MB_OK is added.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// Template 103: text in a fixed-width font, selectable and copyable, with OK. The
// box is centred on owner, or on the screen without one.
// text is UTF-8.
void ShowTextBox(HINSTANCE instance, HWND owner, const std::wstring& caption, std::string text);

// Template 104: the prompt, the entries with `current` selected, OK and Cancel,
// centred on owner. The entry taken with OK (or a double click), -1 for Cancel.
int ShowChoiceBox(HINSTANCE instance, HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  const std::vector<std::wstring>& entries, int current);

// The system's Open dialog: tunes, ROMs and playlists, and all files, from folder
// ("" for its own choice). False when nothing was chosen.
bool ChooseOpenFile(HWND owner, const std::wstring& folder, std::wstring& path);

// HKCU\Software\Tunlet: "" when the value is missing or cannot be read; a write that
// fails is dropped.
std::wstring ReadRegistrySetting(const std::wstring& name);
void WriteRegistrySetting(const std::wstring& name, const std::wstring& value);
inline constexpr wchar_t kSettingsKey[] = L"Software\\Tunlet";

}  // namespace tunlet
