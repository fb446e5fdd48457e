#include "app/unattended.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace dt {
namespace {

std::atomic<bool> g_unattended{false};

// The located message's title and text with its placeholders filled in.
void WriteCurrentMessage(ErrorManager& errors) {
    WriteStderr(errors.State().message.TITLE, errors.SubstitutedText());
}

}  // namespace

bool Unattended() {
    return g_unattended.load();
}

void SetUnattended(bool on) {
    g_unattended = on;
}

std::string StderrText(std::string_view caption, std::string_view text) {
    std::string out;
    if (!caption.empty()) out.append(caption).append(": ");
    for (char c : text) out += c == '|' ? '\n' : c;
    return out;
}

void WriteStderr(std::string_view caption, std::string_view text) {
    const std::string s = StderrText(caption, text);
    std::fprintf(stderr, "%s\n", s.c_str());
    std::fflush(stderr);
}

void EndProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

void HaltProgram(const HaltRequest& request) {
    if (request.silent) WriteStderr(request.halt_text, request.text);
    EndProcess(request.exit_code);
}

int ProgramErrorManager::Prompt(USHORT id, int buttons, int default_button) {
    if (!SILENT) return WindowErrorManager::Prompt(id, buttons, default_button);
    // The message goes out through its severity's handler, which writes it to standard
    // error (and ends the program for a question or a fatal error); a question asked
    // this way ends the program in any case.
    CaptureErrorState();
    (void)Dispatch(id);  // for a question or a fatal message this does not return
    WriteStderr("", "unattended run: the question cannot be answered, the program ends");
    EndProcess(kUnattendedFailure);
}

int ProgramErrorManager::OnNotify() {
    if (!SILENT) return WindowErrorManager::OnNotify();
    WriteCurrentMessage(*this);
    return Button::Ok;
}

Severity ProgramErrorManager::OnAskUser() {
    if (!SILENT) return WindowErrorManager::OnAskUser();
    WriteCurrentMessage(*this);
    WriteStderr("", "unattended run: the question cannot be answered, the program ends");
    EndProcess(kUnattendedFailure);
}

}  // namespace dt
