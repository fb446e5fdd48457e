#include "app/query.h"

#include "app/globals.h"
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

std::string BuildSearchCondition(const SearchRequest& request, const Dialect& dialect) {
    const std::string like = " " + std::string(dialect.like) + " '%";
    std::string condition = "(SysFILES > 0)";

    auto add_word = [&](std::string_view word) {
        const std::string w = SqlEscape(word);
        if (request.search_dir)
            condition += " and (name" + like + w + "%' or dir" + like + w + "%')";
        else
            condition += " and name" + like + w + "%'";
    };

    // The words: every blank ends a word and the last word runs to the last character.
    const std::string_view text = Clip(std::string_view(request.filter).substr(0, 40));
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            add_word(text.substr(start, i - start));
            start = i + 1;
        } else if (i + 1 == text.size()) {
            add_word(text.substr(start));
        }
    }

    const std::string_view extension = std::string_view(request.extension).substr(0, 10);
    if (!Clip(extension).empty()) condition += " and extension" + like + SqlEscape(extension) + "%'";
    if (request.size_from > 0) condition += " and Size > " + std::to_string(request.size_from);
    if (request.size_to > 0) condition += " and Size < " + std::to_string(request.size_to);
    if (request.computer > 0) condition += " and SysCOMPUTER = " + std::to_string(request.computer);
    return condition;
}

std::string BuildSearchStatement(const SearchRequest& request, const Dialect& dialect) {
    std::string condition = BuildSearchCondition(request, dialect);
    if (condition.size() < kSearchConditionSize) condition.resize(kSearchConditionSize, ' ');
    return "select * from FILES where " + condition + " order by Name";
}

}  // namespace dt
