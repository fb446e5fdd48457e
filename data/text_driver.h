// The ASCII text-file driver "ASCII": a FILE whose NAME is a path and whose record is one
// line of text (the first field, or the whole record). Supports CREATE, OPEN, SHARE,
// CLOSE, ADD/APPEND (a line at the end), SET + NEXT (lines in order), RECORDS, EMPTY,
// REMOVE and NAME; other operations return 80.
#pragma once

#include "data/file.h"

namespace dt {

// The registration record of the text driver.
const DriverRegistration& TextDriver();

// The text driver's entry routine.
int TextDriverEntry(int op, File& file, DriverArgs& args);

}  // namespace dt
