// The SQL driver "MSSQL": its registration record and entry routine. Tables declared
// with it reach their server through ODBC (see sql_connection.h for connections and
// CONNECTION.md for the connection strings).
#pragma once

#include <string>

#include "data/file.h"

namespace dt {

// The registration record of the SQL driver (name "MSSQL", 60 operations, 14 types).
const DriverRegistration& SqlDriver();

// The driver's entry routine.
int SqlDriverEntry(int op, File& file, DriverArgs& args);

// CREATE that treats "table exists" as success and never drops a table (the file
// manager's create-when-missing). 54 without the CREATE attribute.
int CreateIfMissing(File& f);

// Driver-specific properties (GET_PROPERTY) of an open file.
enum SqlProperty : long {
    PROP_ServerKind = 0x7280,     // the recognised server kind number, as text
    PROP_DbmsName = 0x7281,       // the DBMS name the ODBC driver reports
    PROP_DriverName = 0x7282,     // the ODBC driver name that connected (e.g. "SQLite3")
    PROP_ResultColumns = 0x7283,  // columns of the open pass-through result, as text
};

}  // namespace dt
