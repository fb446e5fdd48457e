// Operation codes and field type codes of the file-driver interface, with the names the
// runtime prints for them in traces.
#pragma once

#include <cstdint>

#include "runtime/packed_field.h"

namespace dt {

// Driver operation codes. The order is fixed: drivers and traces index by them.
enum Op : int {
    OP_ADD = 1,
    OP_BOF = 2,
    OP_BUILDfile = 3,
    OP_APPEND = 4,
    OP_BUILDdyn = 5,
    OP_BUILDkey = 6,
    OP_CLOSE = 7,
    OP_COMMIT = 8,
    OP_COPY = 9,
    OP_CREATE = 10,
    OP_DELETE = 11,
    OP_DUPLICATE = 12,
    OP_EMPTY = 13,
    OP_EOF = 14,
    OP_GETfilekey = 15,
    OP_GETfileptr = 16,
    OP_GETkeyptr = 17,
    OP_HOLDfile = 18,
    OP_HOLDfilesec = 19,
    OP_LOCKfile = 20,
    OP_LOCKfilesec = 21,
    OP_LOGOUT = 22,
    OP_NAME = 23,
    OP_NEXT = 24,
    OP_OPEN = 25,
    OP_PACK = 26,
    OP_POINTERfile = 27,
    OP_POINTERkey = 28,
    OP_FLUSH = 29,
    OP_PUT = 30,
    OP_PREVIOUS = 31,
    OP_RECORDSfile = 32,
    OP_RECORDSkey = 33,
    OP_BUILDdynfilter = 34,
    OP_RELEASE = 36,
    OP_REMOVE = 37,
    OP_RENAME = 38,
    OP_ROLLBACK = 40,
    OP_SETfile = 41,
    OP_SETfilekey = 42,
    OP_SETfileptr = 43,
    OP_SETkey = 44,
    OP_SETkeykey = 45,
    OP_SETkeyptr = 46,
    OP_SETkeykeyptr = 47,
    OP_SHARE = 48,
    OP_SKIP = 49,
    OP_UNLOCK = 50,
    OP_ADDfilelen = 51,
    OP_BYTES = 52,
    OP_GETfileptrlen = 53,
    OP_PUTfileptr = 54,
    OP_PUTfileptrlen = 55,
    OP_STREAM = 56,
    OP_DUPLICATEkey = 57,
    OP_WATCH = 58,
    OP_APPENDlen = 59,
    OP_SEND = 60,
    OP_POSITIONfile = 61,
    OP_POSITIONkey = 62,
    OP_RESETfile = 63,
    OP_RESETkey = 64,
    OP_NOMEMO = 65,
    OP_REGETfile = 66,
    OP_REGETkey = 67,
    OP_NULL = 68,
    OP_SETNULL = 69,
    OP_SETNONULL = 70,
    OP_SET_PROPERTY = 71,
    OP_GET_PROPERTY = 72,
    OP_QUERY_KEY = 73,
    OP_QUERY_VIEW = 74,
    OP_BLOB_YIELD = 75,
    OP_BLOB_TAKE = 76,
    OP_BLOB_SIZE = 77,
    OP_BLOB_GET_PROP = 78,
    OP_BLOB_SET_PROP = 79,
    OP_BUFFER = 80,
    OP_SETview = 81,
    OP_CLEAR = 82,
    OP_RESETviewfile = 83,
    OP_BUILDevent = 84,
    OP_SETPROPERTYkey = 85,
    OP_GETPROPERTYkey = 86,
    OP_Internal87 = 87,
    OP_DO_PROPERTY = 88,
    OP_DOPROPERTYkey = 89,
    OP_DOPROPERTYblob = 90,
    OP_Internal91 = 91,
    OP_INVIEW = 92,
    OP_ENDVIEW = 93,
    OP_COUNTRECORDS = 95,
    OP_GETNULLS = 96,
    OP_SETNULLS = 97,
    OP_GETSTATE = 98,
    OP_RESTORESTATE = 99,
    OP_FREESTATE = 102,
    OP_SQLCALLBACK = 103,
    OP_DESTROY = 104,
};
constexpr int kLastOp = 104;

// Field type codes of field descriptors.
enum FieldType : std::uint8_t {
    FT_END = 0,
    FT_BYTE = 1,
    FT_SHORT = 2,
    FT_USHORT = 3,
    FT_DATE = 4,
    FT_TIME = 5,
    FT_LONG = 6,
    FT_ULONG = 7,
    FT_SREAL = 8,
    FT_REAL = 9,
    FT_DECIMAL = 10,
    FT_PDECIMAL = 11,
    FT_DUM1 = 12,
    FT_BFLOAT4 = 13,
    FT_BFLOAT8 = 14,
    FT_ANY = 15,
    FT_TEMPUFO = 16,
    FT_STRING = 18,
    FT_CSTRING = 19,
    FT_PSTRING = 20,
    FT_MEMO = 21,
    FT_GROUP = 22,
    FT_CLASS = 23,
    FT_ARRAY = 24,
    FT_FIELD = 25,
    FT_QUEUE = 26,
    FT_BLOB = 27,
    FT_STACKSTR = 28,
    FT_PICTURE = 29,
    FT_STDNUM = 30,
    // A 64-bit signed integer (BIGINT): sizes of files of 4 GiB and more.
    FT_INT64 = 31,
};

// Fields of a record by their type code, read through runtime/packed_field.h.
//
// How a text field of type t (FT_STRING, FT_CSTRING or FT_PSTRING) holds its text; read it
// with TextField.
constexpr TextLayout TextLayoutOf(FieldType t) {
    return t == FT_CSTRING   ? TextLayout::Terminated
           : t == FT_PSTRING ? TextLayout::Counted
                             : TextLayout::Padded;
}
// Reads the integer field of type t at p (FT_BYTE, FT_SHORT, FT_USHORT, FT_LONG, FT_ULONG,
// FT_INT64) into v; false, and v unchanged, for every other type.
inline bool LoadIntegerField(FieldType t, const void* p, long long& v) {
    switch (t) {
        case FT_BYTE:
            v = LoadField<std::uint8_t>(p);
            return true;
        case FT_SHORT:
            v = LoadField<std::int16_t>(p);
            return true;
        case FT_USHORT:
            v = LoadField<std::uint16_t>(p);
            return true;
        case FT_LONG:
            v = LoadField<std::int32_t>(p);
            return true;
        case FT_ULONG:
            v = LoadField<std::uint32_t>(p);
            return true;
        case FT_INT64:
            v = LoadField<std::int64_t>(p);
            return true;
        default:
            return false;
    }
}
// Reads the floating-point field of type t at p (FT_SREAL, FT_REAL) into v; false, and v
// unchanged, for every other type.
inline bool LoadRealField(FieldType t, const void* p, double& v) {
    if (t == FT_SREAL) {
        v = LoadField<float>(p);
        return true;
    }
    if (t == FT_REAL) {
        v = LoadField<double>(p);
        return true;
    }
    return false;
}

// Trace name of an operation code; "" outside 0 .. 104.
const char* OperationName(int op);
// Trace name of a field type code; "UNKNOWN" above 31.
const char* FieldTypeName(int type);
// True for the operations whose first argument is a key.
bool TakesKey(int op);

}  // namespace dt
