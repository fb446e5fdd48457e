// The ODBC drivers' own log files. psqlODBC as Debian registers it (CommLog=1 in its
// section of odbcinst.ini) writes a communication log to /tmp for every process that uses
// it: the driver takes the switch from its registration, not from the connection string,
// and turns it back on as soon as the last connection with "CommLog=0" has closed, so the
// disconnection itself is logged. The driver manager and the driver both read the
// registrations from $ODBCSYSINI/$ODBCINSTINI (default /etc/odbcinst.ini): the process
// points them at an in-memory copy with the logging switches off, so nothing is written
// and no system file is touched.
#pragma once

#include <string>
#include <string_view>

namespace dt {

// The registrations `ini` with every "CommLog" and "Debug" value set to 0 (any case,
// blanks around "=" allowed); every other line kept as it is.
std::string WithoutDriverLogs(std::string_view ini);

// Once per process, before the driver manager is loaded: reads the registrations the
// driver manager would read, and when they switch a log on, sets ODBCSYSINI and ODBCINSTINI
// to an in-memory copy without the logs (a memory file named /proc/self/fd/N, inherited
// by child processes together with the variables). Returns true when the copy is in use.
// Any failure leaves the environment as it was.
bool QuietDriverLogs();

}  // namespace dt
