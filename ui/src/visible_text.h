// Text as a control shows it: characters that would act as layout or reorder the line
// (control characters, line and paragraph separators, direction overrides) become visible
// symbols, so that a file name holding them shows what it holds and cannot disguise
// itself or break the list it stands in.
#pragma once

#include <string>
#include <string_view>

namespace dt::ui::detail {

// `utf8` with each C0 control character U+00xx (below U+0020) shown as its control
// picture U+24xx ("\t" as U+2409, "\n" as U+240A), DEL as U+2421, and each C1 control
// (U+0080..U+009F), line or paragraph separator, and direction mark, embedding, override
// or isolate as U+FFFD. With `keep_line_breaks`, "\n" (and "\r\n") stay line breaks (for
// multi-line text controls); a lone "\r" is still shown. Bytes that are no UTF-8 are
// left alone (the window layer shows them as U+FFFD).
std::string VisibleText(std::string_view utf8, bool keep_line_breaks = false);

}  // namespace dt::ui::detail
