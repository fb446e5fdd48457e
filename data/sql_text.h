// Statement texts of the SQL driver, built without a database: the column map of a
// FILE, key texts (ORDER BY lists, position conditions), SELECT, GET, INSERT, UPDATE,
// DELETE, CREATE TABLE/INDEX, literals and the pass-through classification.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/file.h"
#include "runtime/errors.h"

namespace dt {

// One column of the column map.
struct Column {
    int field = -1;    // index of the field in File::fields
    std::string name;  // column name
    FieldType type = FT_END;
    std::uint32_t offset = 0, size = 0;
    bool timestamp = false;  // a STRING(8) with a DATE+TIME group over it
    // Column options (external name after "|").
    bool binary = false;
    bool nowhere = false, nowhere_set = false;
    int mark = 0;  // 0 unset, 1 WRITABLE, 2 READONLY
    bool zeronotnull = false;
    // From the server's description.
    bool nullable = true;
    SQLSMALLINT sql_type = 0;
    bool character() const { return type == FT_STRING || type == FT_CSTRING || type == FT_PSTRING; }
    bool readonly() const { return mark == 2; }
};

// Builds the column map; false (error 38/47 material) when a field cannot be mapped.
std::vector<Column> BuildColumnMap(const File& f);
// Parses "|opt|opt" column options into c.
void ApplyColumnOptions(std::string_view options, Column& c);

// A value placed into a statement: a "?" marker bound to a column of a record, or text.
struct Piece {
    int column = -1;     // column whose value a "?" stands for
    bool saved = false;  // take the value from the saved copy rather than the record
};

// A statement text with the parameters its "?" markers stand for, in order.
struct Statement {
    std::string text;
    std::vector<Piece> params;
};

// How the driver writes values: bound markers or literals (BINDCONSTANTS off).
struct ValueSource {
    bool literals = false;
    const char* record = nullptr;  // current record
    const char* saved = nullptr;   // saved copy
    const std::vector<std::int32_t>* nulls = nullptr;
    const std::vector<std::int32_t>* saved_nulls = nullptr;
};

// Literal text of a column's value in a record: strings quoted with quotes doubled, numbers
// in decimal, "{d '...'}", "{t '...'}", "{ts '...'}", and "NULL" for a zero date or time or
// a NULL field.
std::string Literal(const Column& c, const char* record, bool is_null);

// True when the column's value differs between two records (a CSTRING up to its NUL).
bool ColumnChanged(const Column& c, const char* a, const char* b);

// Plain decimal text of a DECIMAL/PDECIMAL column ("-123.45").
std::string DecimalToText(const Column& c, const char* record, int digits, int places);
// Packs decimal text into a DECIMAL/PDECIMAL column; false when it does not fit.
bool TextToDecimal(const Column& c, char* record, std::string_view text, int places);

// Prepared texts of one key.
struct KeyTexts {
    std::vector<int> columns;  // column index per component
    std::vector<bool> descending;
    std::vector<std::string> terms;             // the component as written (UPPER(col) for NOCASE text)
    std::string order_forward, order_backward;  // ORDER BY lists
    std::string position_template;              // with "%s" operator slots and "?" values
    std::vector<const char*> ops_forward, ops_backward;
    bool usable = true;  // false when a component is a GROUP or not in the column map
};

// Builds the key texts; `upper_nocase`: write NOCASE character components as UPPER(col).
KeyTexts BuildKeyTexts(const File& f, const Key& k, const std::vector<Column>& cols, bool upper_nocase);

// The position condition with the forward or backward operators and values.
Statement PositionCondition(const KeyTexts& kt, bool forward, const std::vector<Column>& cols,
                            const ValueSource& v);

// The comma-separated column list.
std::string ColumnList(const std::vector<Column>& cols);

struct SelectPlan {
    std::string table;
    std::string hint;  // HINT text: "SELECT /*+ hint */ "
    const KeyTexts* key = nullptr;
    bool position = false;  // start from the record's key values
    bool forward = true;
    std::string filter;  // condition of the current sequence
    std::string where;   // the file's WHERE option
    std::string limit;   // kind-specific row limit suffix (" LIMIT 1"), "" for none
};
Statement BuildSelect(const std::vector<Column>& cols, const SelectPlan& s, const ValueSource& v);

// "SELECT cols FROM t WHERE k1 = ? AND k2 IS NULL ..." for GET by key.
Statement BuildGetByKey(const std::vector<Column>& cols, const std::string& table, const KeyTexts& kt,
                        const ValueSource& v, const std::string& where, const std::string& limit);

// INSERT of the writable columns; `markers_only` gives the bulk form with "?" only.
Statement BuildInsert(const std::vector<Column>& cols, const std::string& table, const ValueSource& v);

// UPDATE of the changed columns; empty text when nothing changed.
Statement BuildUpdate(const std::vector<Column>& cols, const std::string& table, const KeyTexts& id,
                      const ValueSource& v, const std::string& where, std::size_t record_length);

// DELETE by the identifying key from the saved copy.
Statement BuildDelete(const std::vector<Column>& cols, const std::string& table, const KeyTexts& id,
                      const ValueSource& v, const std::string& where);

// One type the server offers (SQLGetTypeInfo).
struct TypeInfo {
    std::string name;
    SQLSMALLINT data_type = 0;
    std::string create_params;
};

// Kind-specific rules of CREATE TABLE.
struct CreateRules {
    bool not_null = true;        // false for the kind that takes no NOT NULL
    bool skip_tz_types = false;  // PostgreSQL: never "timestamptz" for a timestamp
};

// CREATE TABLE text, or ErrInvalidFieldType (75) with the field label in `bad_field`.
[[nodiscard]] ErrCode BuildCreateTable(const File& f, const std::vector<Column>& cols,
                                       const std::vector<TypeInfo>& types, const CreateRules& rules,
                                       std::string& out, std::string& bad_field);

// CREATE [UNIQUE] INDEX name ON table (components).
std::string BuildCreateIndex(const File& f, const Key& k, const std::vector<Column>& cols, bool upper_nocase);

// Pass-through classification after leading blanks and tabs.
enum class PassKind { Select, Call, NoResultCall, Other };
PassKind ClassifyPassThrough(std::string_view text, std::string_view* rest);

// The value of an ODBC connection string attribute quoted when it holds ';', '{' or '}'.
std::string QuoteAttribute(std::string_view value);

}  // namespace dt
