// Showing a typed value through a display picture and reading it back: the bridge
// between use variables / queue fields and the text a control shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "ui/definition.h"

namespace dt::ui::detail {

// The value at p (of the given type and size) as a control shows it under picture. An
// empty picture shows text fields without trailing blanks and numbers in plain decimal.
std::string FormatValue(UseType type, const void* p, std::size_t size, std::string_view picture);

// Reads text back through picture into the value at p. False (and the value unchanged)
// when the text does not fit the picture or the type's range.
bool ParseValue(std::string_view text, std::string_view picture, UseType type, void* p, std::size_t size);

// The value at p as a plain number (0 for text that is not a number).
double NumberOf(UseType type, const void* p, std::size_t size);

}  // namespace dt::ui::detail
