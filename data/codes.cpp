#include "data/codes.h"

namespace dt {
namespace {

constexpr const char* kOpNames[kLastOp + 1] = {
    "(0)",
    "ADD",
    "BOF",
    "BUILDfile",
    "APPEND",
    "BUILDdyn",
    "BUILDkey",
    "CLOSE",
    "COMMIT",
    "COPY",
    "CREATE",
    "DELETE",
    "DUPLICATE",
    "EMPTY",
    "EOF",
    "GETfilekey",
    "GETfileptr",
    "GETkeyptr",
    "HOLDfile",
    "HOLDfilesec",
    "LOCKfile",
    "LOCKfilesec",
    "LOGOUT",
    "NAME",
    "NEXT",
    "OPEN",
    "PACK",
    "POINTERfile",
    "POINTERkey",
    "FLUSH",
    "PUT",
    "PREVIOUS",
    "RECORDSfile",
    "RECORDSkey",
    "BUILDdynfilter",
    "(35)",
    "RELEASE",
    "REMOVE",
    "RENAME",
    "(39)",
    "ROLLBACK",
    "SETfile",
    "SETfilekey",
    "SETfileptr",
    "SETkey",
    "SETkeykey",
    "SETkeyptr",
    "SETkeykeyptr",
    "SHARE",
    "SKIP",
    "UNLOCK",
    "ADDfilelen",
    "BYTES",
    "GETfileptrlen",
    "PUTfileptr",
    "PUTfileptrlen",
    "STREAM",
    "DUPLICATEkey",
    "WATCH",
    "APPENDlen",
    "SEND",
    "POSITIONfile",
    "POSITIONkey",
    "RESETfile",
    "RESETkey",
    "NOMEMO",
    "REGETfile",
    "REGETkey",
    "NULL",
    "SETNULL",
    "SETNONULL",
    "SET_PROPERTY",
    "GET_PROPERTY",
    "QUERY_KEY",
    "QUERY_VIEW",
    "BLOB_YIELD",
    "BLOB_TAKE",
    "BLOB_SIZE",
    "BLOB_GET_PROP",
    "BLOB_SET_PROP",
    "BUFFER",
    "SETview",
    "CLEAR",
    "RESETviewfile",
    "BUILDevent",
    "SETPROPERTYkey",
    "GETPROPERTYkey",
    "Internal87",
    "DO_PROPERTY",
    "DOPROPERTYkey",
    "DOPROPERTYblob",
    "Internal91",
    "INVIEW",
    "ENDVIEW",
    "Internal94",
    "COUNTRECORDS",
    "GETNULLS",
    "SETNULLS",
    "GETSTATE",
    "RESTORESTATE",
    "Internal100",
    "Internal101",
    "FREESTATE",
    "SQLCALLBACK",
    "DESTROY",
};

constexpr const char* kTypeNames[32] = {
    "END",     "BYTE",  "SHORT",   "USHORT",   "DATE",     "TIME",    "LONG",    "ULONG",
    "SREAL",   "REAL",  "DECIMAL", "PDECIMAL", "DUM1",     "BFLOAT4", "BFLOAT8", "ANY",
    "TEMPUFO", "(17)",  "STRING",  "CSTRING",  "PSTRING",  "MEMO",    "GROUP",   "CLASS",
    "ARRAY",   "FIELD", "QUEUE",   "BLOB",     "STACKSTR", "PICTURE", "STDNUM",  "INT64",
};

}  // namespace

const char* OperationName(int op) {
    return op >= 0 && op <= kLastOp ? kOpNames[op] : "";
}

const char* FieldTypeName(int type) {
    return type >= 0 && type <= 31 ? kTypeNames[type] : "UNKNOWN";
}

bool TakesKey(int op) {
    switch (op) {
        case OP_BUILDdyn:
        case OP_BUILDdynfilter:
        case OP_BUILDkey:
        case OP_DUPLICATEkey:
        case OP_GETfilekey:
        case OP_GETkeyptr:
        case OP_POINTERkey:
        case OP_POSITIONkey:
        case OP_RECORDSkey:
        case OP_REGETkey:
        case OP_RESETkey:
        case OP_SETfilekey:
        case OP_SETkey:
        case OP_SETkeykey:
        case OP_SETkeyptr:
        case OP_SETkeykeyptr:
        case OP_SETPROPERTYkey:
        case OP_GETPROPERTYkey:
        case OP_DOPROPERTYkey:
            return true;
        default:
            return false;
    }
}

}  // namespace dt
