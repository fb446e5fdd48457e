// The desktop around the program: the clipboard, and showing files in the desktop's file
// manager. Usable from any runtime thread while the application runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dt::ui {

// Puts `text` (UTF-8) on the clipboard as plain text. False when the application does not run.
bool SetClipboardText(std::string_view text);
// The clipboard's plain text ("" when empty or not running).
std::string ClipboardText();

// "file://" followed by the absolute path with every byte other than letters, digits,
// "-", ".", "_", "~" and "/" percent-encoded ("%20" for a blank), so that any name,
// whatever its bytes, makes one valid URI.
std::string FileUri(std::string_view absolute_path);

// How ShowInFileManager went.
enum class ShowItemsResult {
    Shown,          // a file manager took the request
    NoFileManager,  // the session bus answered, but no file manager took the request
    NoBus,          // no session bus could be reached
};

// Asks the desktop's file manager to open the folders of `paths` with those files selected
// (the freedesktop FileManager1 ShowItems call on the session bus, the files as FileUri
// texts, an empty start-up id). Waits at most `timeout_ms` for the answer. The caller falls
// back to opening the folder itself when this is not Shown.
ShowItemsResult ShowInFileManager(const std::vector<std::string>& paths, int timeout_ms = 5000);

}  // namespace dt::ui
