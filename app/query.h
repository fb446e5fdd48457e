// Turns a search request into the one statement that reads the matching FILES rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialect.h"

namespace dt {

// What the user asked for. Sizes are bytes; a bound of 0 or less adds no condition.
struct SearchRequest {
    std::string filter;     // words separated by blanks (at most 40 characters are used)
    std::string extension;  // extension pattern, as held (at most 10 characters)
    bool search_dir = false;
    std::int64_t size_from = 0;
    std::int64_t size_to = 0;
    std::int64_t computer = 0;  // row number of the computer, 0 for all computers
};

// The request the main window left in the G:: globals.
SearchRequest SearchRequestFromGlobals();

// True when the request has no criterion at all (no word, no extension, no size bound),
// which the main window refuses before any search.
bool IsEmptyRequest(std::string_view filter, std::string_view extension, long kb_from, long kb_to);

// Size bound in bytes for a bound in kilobytes. Computed in 64 bits, so large bounds
// never wrap into a wrong (or negative) bound.
std::int64_t KilobytesToBytes(long kilobytes);

// The words of a filter as the search splits them: every blank ends a word, two blanks
// in a row give an empty word, trailing blanks give none; at most `limit` characters of
// the filter are used.
std::vector<std::string_view> SearchWords(std::string_view filter, std::size_t limit = 40);

// The full-text query of the embedded database's trigram index that selects the rows
// holding every trigram of every literal run of 3 or more characters of the words (a run
// ends at "%" and "_", which keep their LIKE meaning): each trigram (3 characters) once,
// quoted, joined by " AND "; "" when no word has such a run (the index then cannot narrow
// the search). The index keeps no positions, so a run is asked for as its trigrams, not
// as a phrase: the rows found hold them all, LIKE then decides. A word that is not valid
// UTF-8 adds no run.
std::string FtsQuery(const std::vector<std::string_view>& words);

// The candidate term the embedded database's index adds to a condition for `words`
// (" and SysFILES in (select rowid from FILES_NAME_FTS where ... match '...')"; with the
// directory, one term per word that also takes the rows of the directories that match),
// "" when the index cannot narrow the search. The LIKE terms stay in the condition and
// decide the hits, so the hits are those of the condition without this term.
std::string FtsCandidateTerm(const std::vector<std::string_view>& words, bool with_dir);

// The WHERE condition: "(SysFILES > 0)", then per word " and name like '%w%'" (or, with
// the directory box, " and (name like '%w%' or dir like '%w%')"), the extension, the
// strict size bounds and the computer. Every blank of the filter ends a word, so two
// blanks give an empty word and its term. Typed text goes through Dialect::LikePattern.
// On PostgreSQL "like" is "ilike", so every server matches without regard to case. With
// `fts` (the embedded database's trigram index is in place) FtsCandidateTerm follows.
std::string BuildSearchCondition(const SearchRequest& request, const Dialect& dialect, bool fts = false);

// Width of the condition field: a shorter condition is padded with blanks to it.
constexpr std::size_t kSearchConditionSize = 1024;

// "select * from FILES where " + condition + " order by Name". A condition shorter than
// 1,024 characters is padded with blanks to 1,024, as the condition field holds it; a
// longer one (possible only with a filter of many blanks) is sent whole rather than cut,
// since a cut condition could lose its computer or size terms and find the wrong files.
std::string BuildSearchStatement(const SearchRequest& request, const Dialect& dialect, bool fts = false);

}  // namespace dt
