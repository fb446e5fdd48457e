// The search page, compiled into the program from web/page/ (see web/CMakeLists.txt).
#pragma once

namespace dt::web {
extern const char* const kIndexHtml;
extern const char* const kAppJs;
extern const char* const kAppCss;
}  // namespace dt::web
