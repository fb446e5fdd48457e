// Variables shared by the application's procedures, with static lifetime.
// GLO:: holds the settings and the two connection strings, G:: the search and scan state.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/schema.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

namespace GLO {
inline STRING<32> SQLSERVER;        // server name
inline STRING<20> SQLDATABASE;      // database name
inline STRING<20> SQLUSER;          // login name
inline STRING<20> SQLPASSWD;        // password
inline STRING<256> SQLOWNER;        // connection text of COMPUTER, FILES and SQLF
inline STRING<256> SQLMASTEROWNER;  // connection text of SQLM (the server's master database)
// This computer's network name: 40 bytes (32 would cut two names that share their first
// 32 bytes into one computer's name), all that COMPUTER.NAME holds.
inline STRING<40> COMPUTERNAME;
inline STRING<20> VERSION;    // version text
inline CSTRING<128> INIFILE;  // settings file path
}  // namespace GLO

namespace G {
inline CSTRING<41> FILTER1;         // words to search for
inline CSTRING<11> EXTENSION;       // extension to search for
inline BYTE SEARCHDIR = 0;          // 1: the words may also match the directory
inline CSTRING<33> SEARCHCOMPUTER;  // computer chosen in the computer list
inline LONG SEARCHSYSCOMPUTER = 0;  // its row number; 0 for all computers
// Size bounds in bytes. Kilobyte bounds up to 2^31 - 1 times 1024 need more than the
// 32 bits of a LONG, so the bounds are kept in 64 bits and never wrap into a wrong bound.
inline std::int64_t SIZE_FROM = 0;
inline std::int64_t SIZE_TO = 0;
inline LONG STARTCLOCK = 0;  // clock value when the search started
inline ULONG FILECOUNT = 0;  // files stored by the running scan
inline TIME ELAPSED;         // duration of the last scan
// This computer's row number (COMPUTER:SYSCOMPUTER), for procedures on other threads: the
// COMPUTER record buffer is each thread's own. 0 until the start-up has found the row.
inline std::atomic<ULONG> THISSYSCOMPUTER{0};
}  // namespace G

// The computer list of the main window and the search results.
inline Queue<QCOMPUTER_RECORD> QCOMPUTER;
inline Queue<QFILES_RECORD> QFILES;

}  // namespace dt
