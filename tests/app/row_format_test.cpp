// The row formats without a database: UTF-8 checking and repair against the Unicode
// practice for ill-formed sequences, base64 against RFC 4648's vectors, the TSV escapes
// (control bytes, C1 controls in UTF-8 text, 8-bit controls in other text), CSV quoting
// and the JSON object's fields.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/row_format.h"

namespace dt {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(RowFormat, Utf8IsCheckedAndRepairedPerMaximalIllFormedSubsequence) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_TRUE(IsValidUtf8("\xf4\x8f\xbf\xbf"));   // U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xe2\x82"));          // cut short at the end
    EXPECT_FALSE(IsValidUtf8("\x80"));

    // One U+FFFD per maximal ill-formed subsequence: a lead byte with the continuation
    // bytes that fit it so far is one; a byte that can start nothing is one on its own.
    EXPECT_EQ(ToValidUtf8("a\xe2\x82z"), "a" + kFffd + "z");
    EXPECT_EQ(ToValidUtf8("\xc0\xaf"), kFffd + kFffd);
    EXPECT_EQ(ToValidUtf8("\xed\xa0\x80"), kFffd + kFffd + kFffd);
    EXPECT_EQ(ToValidUtf8("\xf0\x9f\x98"), kFffd);
    EXPECT_EQ(ToValidUtf8("\xf0\x9f\x98\xe2\x82\xac"), kFffd + "\xe2\x82\xac");
    EXPECT_EQ(ToValidUtf8("caf\xe9"), "caf" + kFffd);
    EXPECT_EQ(ToValidUtf8("\xff\xfe"), kFffd + kFffd);
    const std::string good = "d\xc3\xa9j\xc3\xa0 vu \xf0\x9f\x98\x80";
    EXPECT_EQ(ToValidUtf8(good), good);
}

TEST(RowFormat, Base64MatchesTheStandardVectors) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64(std::string("\xff\xfe\x00\x80", 4)), "//4AgA==");
}

std::string Tsv(std::string_view text) {
    std::string out;
    AppendTsvField(out, text);
    return out;
}

TEST(RowFormat, TsvEscapesEveryControlByteAndOnlyThose) {
    EXPECT_EQ(Tsv("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(Tsv("esc\x1b[31mred"), "esc\\x1B[31mred");
    EXPECT_EQ(Tsv(std::string("nul\0bel\x07", 8)), "nul\\x00bel\\x07");
    EXPECT_EQ(Tsv("del\x7f"), "del\\x7F");
    // UTF-8 text: a C1 control (U+0085, U+009B) is escaped as its two bytes; U+00A0 and
    // other letters stay as they are.
    EXPECT_EQ(Tsv("nel\xc2\x85 csi\xc2\x9b nbsp\xc2\xa0 \xc3\xa9"),
              "nel\\xC2\\x85 csi\\xC2\\x9B nbsp\xc2\xa0 \xc3\xa9");
    // Not UTF-8: every byte 0x80..0x9F is escaped (an 8-bit terminal obeys 0x9B as CSI).
    EXPECT_EQ(Tsv("latin\xe9\x9b[2J"), "latin\xe9\\x9B[2J");
    EXPECT_EQ(Tsv("plain text, \"quoted\""), "plain text, \"quoted\"");
}

TEST(RowFormat, CsvQuotesOnlyTheFieldsThatNeedIt) {
    auto csv = [](std::string_view text) {
        std::string out;
        AppendCsvField(out, text);
        return out;
    };
    EXPECT_EQ(csv("plain"), "plain");
    EXPECT_EQ(csv(""), "");
    EXPECT_EQ(csv("a,b"), "\"a,b\"");
    EXPECT_EQ(csv("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csv("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csv("cr\r"), "\"cr\r\"");
    EXPECT_EQ(csv(" lead"), "\" lead\"");
    EXPECT_EQ(csv("tab\tstays"), "tab\tstays");
}

HitRow Row(std::string_view dir, std::string_view name) {
    HitRow r;
    r.computer = "PC1";
    r.dir = dir;
    r.name = name;
    r.extension = "txt";
    r.size = 4294967295u;
    r.date = "2024-03-10";
    r.time = "09:30:15";
    return r;
}

TEST(RowFormat, JsonCarriesTheExactPathBytesWhenTheyAreNotUtf8) {
    const auto ok = nlohmann::json::parse(RowJson(Row("/home/a/", "b \xc3\xa9.txt")));
    EXPECT_EQ(ok["path"], "/home/a/b \xc3\xa9.txt");
    EXPECT_EQ(ok["size"], 4294967295u);
    EXPECT_EQ(ok["date"], "2024-03-10");
    EXPECT_FALSE(ok.contains("path_b64"));

    const auto bad = nlohmann::json::parse(RowJson(Row("/d\xff/", "x\x80.txt")));
    EXPECT_EQ(bad["dir"], "/d" + kFffd + "/");
    EXPECT_EQ(bad["name"], "x" + kFffd + ".txt");
    EXPECT_EQ(bad["path"], "/d" + kFffd + "/x" + kFffd + ".txt");
    EXPECT_EQ(bad["path_b64"], Base64("/d\xff/x\x80.txt"));

    HitRow undated = Row("/", "n");
    undated.date.clear();
    undated.time.clear();
    const auto u = nlohmann::json::parse(RowJson(undated));
    EXPECT_TRUE(u["date"].is_null());
    EXPECT_TRUE(u["time"].is_null());

    std::string line;
    AppendRow(RowFormat::Json, Row("/", "n"), line);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

// One special byte at every place of a long plain text (the plain runs are looked at
// eight bytes at a time): exactly that byte is escaped, wherever it stands.
TEST(RowFormat, TsvFindsASpecialByteAtEveryPlaceOfALongText) {
    struct Case {
        unsigned char byte;
        std::string escaped;  // "" : kept as it is
    };
    const Case cases[] = {{0x00, "\\x00"}, {'\t', "\\t"},  {0x1F, "\\x1F"}, {' ', ""}, {'~', ""},
                          {0x7F, "\\x7F"}, {'\\', "\\\\"}, {'[', ""},       {']', ""}, {0x80, "\\x80"},
                          {0x9B, "\\x9B"}, {0xA0, ""},     {0xFF, ""}};
    for (const Case& c : cases) {
        for (std::size_t length : {1u, 7u, 8u, 9u, 16u, 17u, 40u}) {
            for (std::size_t at = 0; at < length; ++at) {
                std::string text(length, 'x');
                text[at] = static_cast<char>(c.byte);
                const std::string want =
                    c.escaped.empty() ? text
                                      : std::string(at, 'x') + c.escaped + std::string(length - at - 1, 'x');
                EXPECT_EQ(Tsv(text), want) << "byte " << int(c.byte) << " at " << at << " of " << length;
            }
        }
    }
    // Bytes that only look special to a word-wide test next to each other.
    EXPECT_EQ(Tsv("!!!!!!!!\x21\x7e\x20\x5d\x5b\x60}{"), "!!!!!!!!!~ ][`}{");
}

TEST(RowFormat, TsvLineEndsWithSizeDateAndTime) {
    HitRow row;
    row.dir = "/d/";
    row.name = "n";
    std::string out;
    AppendRow(RowFormat::Tsv, row, out);
    EXPECT_EQ(out, "\t/d/\tn\t\t0\t\t\n");  // no computer, size 0, no date or time
    row.size = UINT64_MAX;
    row.date = "2024-03-10";
    row.time = "09:30:15";
    out.clear();
    AppendRow(RowFormat::Tsv, row, out);
    EXPECT_EQ(out, "\t/d/\tn\t\t18446744073709551615\t2024-03-10\t09:30:15\n");
    row.date = std::string(40, 'D');  // never made by DateText, still written whole
    out.clear();
    AppendRow(RowFormat::Tsv, row, out);
    EXPECT_EQ(out, "\t/d/\tn\t\t18446744073709551615\t" + row.date + "\t09:30:15\n");
}

TEST(RowFormat, FormatNamesAndLineEnds) {
    RowFormat f = RowFormat::Json;
    EXPECT_FALSE(ParseRowFormat("TSV", f));
    EXPECT_FALSE(ParseRowFormat("", f));
    ASSERT_TRUE(ParseRowFormat("null", f));
    std::string out;
    AppendRow(f, Row("/a/", "b\nc"), out);
    EXPECT_EQ(out, std::string("/a/b\nc\0", 7));
    out.clear();
    ASSERT_TRUE(ParseRowFormat("csv", f));
    AppendHeader(f, out);
    AppendRow(f, Row("/a,b/", "c"), out);
    EXPECT_EQ(out,
              "computer,dir,name,extension,size,date,time,path\r\n"
              "PC1,\"/a,b/\",c,txt,4294967295,2024-03-10,09:30:15,\"/a,b/c\"\r\n");
    out.clear();
    ASSERT_TRUE(ParseRowFormat("tsv", f));
    AppendHeader(f, out);
    AppendRow(f, Row("/a/", "b"), out);
    EXPECT_EQ(out, "PC1\t/a/\tb\ttxt\t4294967295\t2024-03-10\t09:30:15\n");
}

}  // namespace
}  // namespace dt
