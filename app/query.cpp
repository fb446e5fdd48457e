#include "app/query.h"

#include <algorithm>

#include "app/globals.h"
#include "app/search_index.h"
#include "runtime/types.h"

namespace dt {

SearchRequest SearchRequestFromGlobals() {
    SearchRequest r;
    r.filter = std::string(G::FILTER1.View());
    r.extension = std::string(G::EXTENSION.View());
    r.search_dir = G::SEARCHDIR == 1;
    r.size_from = G::SIZE_FROM;
    r.size_to = G::SIZE_TO;
    r.computer = G::SEARCHSYSCOMPUTER;
    return r;
}

bool IsEmptyRequest(std::string_view filter, std::string_view extension, long kb_from, long kb_to) {
    return Clip(filter).empty() && kb_from == 0 && kb_to == 0 && Clip(extension).empty();
}

std::int64_t KilobytesToBytes(long kilobytes) {
    return static_cast<std::int64_t>(kilobytes) * 1024;
}

namespace {

// The number of characters of valid UTF-8 text; -1 when it is not valid UTF-8.
long Utf8Characters(std::string_view text) {
    long count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > text.size()) return -1;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
        i += len;
        ++count;
    }
    return count;
}

}  // namespace

std::vector<std::string_view> SearchWords(std::string_view filter, std::size_t limit) {
    std::vector<std::string_view> words;
    const std::string_view text = Clip(filter.substr(0, limit));
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            words.push_back(text.substr(start, i - start));
            start = i + 1;
        } else if (i + 1 == text.size()) {
            words.push_back(text.substr(start));
        }
    }
    return words;
}

std::string FtsQuery(const std::vector<std::string_view>& words) {
    std::string query;
    std::vector<std::string_view> seen;
    for (std::string_view word : words) {
        // The index folds case beyond ASCII and LIKE does not: the index only narrows,
        // LIKE decides. A word that is not UTF-8 could be cut differently by the index.
        if (Utf8Characters(word) < 0) continue;
        std::size_t start = 0;
        while (start <= word.size()) {
            std::size_t end = word.find_first_of("%_", start);
            if (end == std::string_view::npos) end = word.size();
            const std::string_view run = word.substr(start, end - start);
            // The byte offset where each character of the run begins, and its end.
            std::vector<std::size_t> at;
            for (std::size_t i = 0; i < run.size(); ++i)
                if ((static_cast<unsigned char>(run[i]) & 0xC0) != 0x80) at.push_back(i);
            at.push_back(run.size());
            // The trigram index answers only for 3 characters or more.
            for (std::size_t c = 0; c + 3 < at.size(); ++c) {
                const std::string_view trigram = run.substr(at[c], at[c + 3] - at[c]);
                if (std::find(seen.begin(), seen.end(), trigram) != seen.end()) continue;
                seen.push_back(trigram);
                if (!query.empty()) query += " AND ";
                query += '"';
                for (char ch : trigram) {
                    query += ch;
                    if (ch == '"') query += '"';
                }
                query += '"';
            }
            start = end + 1;
        }
    }
    return query;
}

std::string FtsCandidateTerm(const std::vector<std::string_view>& words, bool with_dir) {
    const std::string names = std::string(" and SysFILES in (select rowid from ") + kFtsNameTable +
                              " where " + kFtsNameTable + " match ";
    if (!with_dir) {
        const std::string query = FtsQuery(words);
        return query.empty() ? std::string() : names + SqlLiteral(query) + ")";
    }
    // A word may match in the name or in the directory: each word's candidates are the
    // rows whose name holds its runs and the rows of the directories that hold them. A
    // word without runs leaves the others to narrow the search.
    std::string term;
    for (std::string_view word : words) {
        const std::string query = FtsQuery({word});
        if (query.empty()) continue;
        const std::string literal = SqlLiteral(query);
        term += " and (SysFILES in (select rowid from " + std::string(kFtsNameTable) + " where " +
                kFtsNameTable + " match " + literal + ") or DIR in (select DIR from " + kFtsDirTable +
                " where " + kFtsDirTable + " match " + literal + "))";
    }
    return term;
}

std::string BuildSearchCondition(const SearchRequest& request, const Dialect& dialect, bool fts) {
    const std::string like = " " + std::string(dialect.like) + " '%";
    std::string condition = "(SysFILES > 0)";

    const std::vector<std::string_view> words = SearchWords(request.filter);
    for (std::string_view word : words) {
        const std::string w = dialect.LikePattern(word);
        if (request.search_dir)
            condition += " and (name" + like + w + "%' or dir" + like + w + "%')";
        else
            condition += " and name" + like + w + "%'";
    }

    const std::string_view extension = std::string_view(request.extension).substr(0, 10);
    if (!Clip(extension).empty())
        condition += " and extension" + like + dialect.LikePattern(extension) + "%'";
    if (request.size_from > 0) condition += " and Size > " + std::to_string(request.size_from);
    if (request.size_to > 0) condition += " and Size < " + std::to_string(request.size_to);
    if (request.computer > 0) condition += " and SysCOMPUTER = " + std::to_string(request.computer);
    if (fts && dialect.kind == ServerKind::Embedded) condition += FtsCandidateTerm(words, request.search_dir);
    return condition;
}

std::string BuildSearchStatement(const SearchRequest& request, const Dialect& dialect, bool fts) {
    std::string condition = BuildSearchCondition(request, dialect, fts);
    if (condition.size() < kSearchConditionSize) condition.resize(kSearchConditionSize, ' ');
    return "select * from FILES where " + condition + " order by Name";
}

}  // namespace dt
