// Unattended runs ("/S"): nobody is there to answer, so nothing may wait for an answer.
// Questions and fatal errors end the program with their text on standard error and a
// non-zero exit status; notices go to standard error and the run goes on.
#pragma once

#include <string>
#include <string_view>

#include "framework/error_history.h"

namespace dt {

// Exit status of an unattended run that ended on a question or a fatal error.
constexpr int kUnattendedFailure = 1;

// True during an unattended run (set once by the program frame).
bool Unattended();
void SetUnattended(bool on);

// A message box's text as lines for standard error: "caption: text", each "|" a new line.
std::string StderrText(std::string_view caption, std::string_view text);
// Writes StderrText(caption, text) and a line break to standard error and flushes it.
void WriteStderr(std::string_view caption, std::string_view text);

// Ends the process at once with `status` after flushing standard output and error.
// Static destructors do not run: the window layer's threads may still be working, and a
// half-torn-down process must not turn a clean status into a crash.
[[noreturn]] void EndProcess(int status);

// The halt handler of the program's error manager: the fatal text on standard error when
// nobody saw it (SILENT), then EndProcess with the request's status.
void HaltProgram(const HaltRequest& request);

// The program's error manager. Interactive runs behave as the base; with SILENT set (an
// unattended run) a notice is written to standard error instead of being swallowed, and a
// question ends the program (its text on standard error, status kUnattendedFailure)
// rather than taking its default answer unseen.
class ProgramErrorManager final : public WindowErrorManager {
  public:
    int Prompt(USHORT id, int buttons, int default_button) override;
    int OnNotify() override;
    Severity OnAskUser() override;
};

}  // namespace dt
