// Connection strings from owner texts, the password mask, server recognition, the driver
// names a connection tries and the meaning of failures across the drivers' spellings.
#include <gtest/gtest.h>

#include "data/odbc.h"
#include "data/sql_connection.h"
#include "data/trace.h"

namespace dt {
namespace {

// Added last for SQL Server drivers (FreeTDS honours the login time-out only with it).
const std::string kTds = ";TDS_Version=7.4";

TEST(ConnectionString, AllFourPartsInOrder) {
    EXPECT_EQ(BuildConnectionString("SQL Server", "srv,db,sa,secret", false),
              "Driver={SQL Server};Server=srv;Database=db;UID=sa;PWD=secret" + kTds);
    // A version the owner names is not overridden.
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,,,TDS_Version=7.1", false),
              "Server=srv;Database=db;TDS_Version=7.1");
}

TEST(ConnectionString, ServerAndDatabaseOnly) {
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db", false), "Server=srv;Database=db" + kTds);
}

TEST(ConnectionString, UserPartWithUidIsPassedUnchanged) {
    EXPECT_EQ(BuildAttributes("SQL Server", "x,y,uid=me,z;Foo=1", false), "x,y,uid=me,z;Foo=1");
}

TEST(ConnectionString, AddressPrefixGivesAddress) {
    EXPECT_EQ(BuildAttributes("SQL Server", "Address=host,db", false), "Address=host;Database=db" + kTds);
    EXPECT_EQ(BuildAttributes("SQL Server", "Addresses,db", false), "Server=Addresses;Database=db" + kTds);
}

TEST(ConnectionString, TrustedConnectionDropsUserAndPassword) {
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,sa,secret", true), "Server=srv;Database=db" + kTds);
}

TEST(ConnectionString, ApplicationTailFollowsThePassword) {
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,sa,pw;APP=DRIVETREK;WSID=PC1  ", false),
              "Server=srv;Database=db;UID=sa;PWD=pw;APP=DRIVETREK;WSID=PC1  " + kTds);
    // An empty password with the program's attributes.
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,master,sa,;APP=DRIVETREK;WSID=PC1", false),
              "Server=srv;Database=master;UID=sa;PWD=;APP=DRIVETREK;WSID=PC1" + kTds);
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,,,Encrypt=no", false),
              "Server=srv;Database=db;Encrypt=no" + kTds);
}

TEST(ConnectionString, PasswordsAreDataNeverAttributes) {
    // Commas split the owner, so a ';' or brace in the user or password is quoted.
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,a;b,p}w", false),
              "Server=srv;Database=db;UID={a;b};PWD={p}}w}" + kTds);
}

// Every part the program writes comes back from the owner text unchanged, whatever
// characters it holds, and reaches the driver as exactly one attribute.
TEST(ConnectionString, BracedOwnerPartsHoldAnyCharacter) {
    const std::string nasty[] = {"Se;cr}et{X9", "pass=x;Database=other",
                                 "a,b",         "{x}",
                                 "}",           "{",
                                 "=;,{}",       "p;APP=EVIL",
                                 "  lead",      "{a},{b}",
                                 "x}};y"};
    for (const std::string& pw : nasty) {
        const std::string owner = "srv," + OwnerPart("d,b;{1}") + "," + OwnerPart("us;er") + "," +
                                  OwnerPart(pw) + ";APP=DRIVETREK;WSID=PC1";
        OwnerParts p = SplitOwner(owner);
        EXPECT_EQ(p.server, "srv") << owner;
        EXPECT_EQ(p.database, "d,b;{1}") << owner;
        EXPECT_EQ(p.user, "us;er") << owner;
        EXPECT_EQ(p.password, pw) << owner;
        EXPECT_EQ(p.attributes, "APP=DRIVETREK;WSID=PC1") << owner;
        EXPECT_EQ(p.tail, "") << owner;
        std::string pw_odbc = "{";
        for (char c : pw) pw_odbc += c == '}' ? std::string("}}") : std::string(1, c);
        pw_odbc += "}";
        const std::string cs = BuildAttributes("SQL Server", owner, false);
        EXPECT_EQ(cs, "Server=srv;Database={d,b;{1}}};UID={us;er};PWD=" +
                          (pw.find_first_of(";{}") == std::string::npos ? pw : pw_odbc) +
                          ";APP=DRIVETREK;WSID=PC1" + kTds)
            << owner;
        // The trace shows nothing of the password, and every other attribute stays.
        const std::string masked = MaskPassword(cs);
        EXPECT_EQ(masked,
                  "Server=srv;Database={d,b;{1}}};UID={us;er};PWD=********;APP=DRIVETREK;WSID=PC1" + kTds)
            << cs;
    }
    // A user in braces is data even when it reads "UID=...".
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db," + OwnerPart("UID=x") + ",pw", false),
              "Server=srv;Database=db;UID=UID=x;PWD=pw" + kTds);
    // Plain parts stay plain; the server keeps its "Address=" form.
    EXPECT_EQ(OwnerPart("secret"), "secret");
    EXPECT_EQ(OwnerPart("Address=h", true), "Address=h");
    EXPECT_EQ(OwnerPart("a=b"), "{a=b}");
    EXPECT_EQ(OwnerPart(""), "");
}

// Owner texts written before parts were braced read as they always did; a brace that
// does not end its part is a plain character.
TEST(ConnectionString, OlderOwnerTextsReadAsBefore) {
    OwnerParts p = SplitOwner("srv,db,sa,pw;APP=DRIVETREK;WSID=PC1");
    EXPECT_EQ(p.password, "pw");
    EXPECT_EQ(p.attributes, "APP=DRIVETREK;WSID=PC1");
    p = SplitOwner("srv,{db}x,sa,{pw");
    EXPECT_EQ(p.database, "{db}x");
    EXPECT_EQ(p.password, "{pw");
    p = SplitOwner("srv,db,sa,{p,w};X=1,tail,more");
    EXPECT_EQ(p.password, "p,w");
    EXPECT_EQ(p.attributes, "X=1");
    EXPECT_EQ(p.tail, "tail,more");
    // A password that names TDS_Version does not stop the version attribute.
    EXPECT_EQ(BuildAttributes("SQL Server", "srv,db,sa,{TDS_Version=1}", false),
              "Server=srv;Database=db;UID=sa;PWD=TDS_Version=1" + kTds);
}

// psqlODBC takes a braced PWD (and decodes '+' and "%xx" in a plain one), but copies UID
// and Database as they stand: those that a ';' or a leading brace would split go through
// pqopt as quoted libpq options.
TEST(ConnectionString, PostgresGetsWhatPsqlodbcReads) {
    EXPECT_EQ(BuildAttributes("PostgreSQL Unicode", "h:1,db,u,a+b%41", false),
              "Server=h;Port=1;Database=db;UID=u;PWD={a+b%41};MaxVarcharSize=65535;CommLog=0;KeepaliveTime="
              "30;KeepaliveInterval=5");
    EXPECT_EQ(BuildAttributes("PostgreSQL Unicode",
                              "h:1," + OwnerPart("d;b") + "," + OwnerPart("{u}'\\") + "," + OwnerPart("p}w"),
                              false),
              "Server=h;Port=1;PWD={p}}w};pqopt={dbname='d;b' user='{u}}\\'\\\\'};MaxVarcharSize=65535;"
              "CommLog=0;KeepaliveTime=30;KeepaliveInterval=5");
    EXPECT_EQ(
        BuildAttributes("PostgreSQL Unicode", "h,d=b,u}x,", false),
        "Server=h;Database=d=b;UID=u}x;MaxVarcharSize=65535;CommLog=0;KeepaliveTime=30;KeepaliveInterval=5");
}

// The SQLite driver knows no braces: a database file name it would cut goes as a URI.
TEST(ConnectionString, EmbeddedFileNamesThatTheDriverWouldCut) {
    EXPECT_EQ(BuildAttributes("SQLite3", "S," + OwnerPart("a;b{c}%") + ",u,p", false),
              "Database=file:a%3Bb%7Bc%7D%25.db;Timeout=60000;JournalMode=WAL");
    EXPECT_EQ(BuildAttributes("SQLite3", "S,a=b x,u,p", false),
              "Database=a=b x.db;Timeout=60000;JournalMode=WAL");
}

TEST(ConnectionString, PostgresHostPortAndEmbeddedFile) {
    EXPECT_EQ(BuildAttributes("PostgreSQL Unicode", "127.0.0.1:5433,files,u,p", false),
              "Server=127.0.0.1;Port=5433;Database=files;UID=u;PWD={p};MaxVarcharSize=65535;CommLog=0;"
              "KeepaliveTime=30;KeepaliveInterval=5");
    // Only PostgreSQL reads a port after a colon.
    EXPECT_EQ(BuildAttributes("SQL Server", "srv:1,db", false), "Server=srv:1;Database=db" + kTds);
    EXPECT_EQ(BuildAttributes("SQLite3", "Server,DRIVETREK,sa,;APP=DRIVETREK;WSID=PC1", false),
              "Database=DRIVETREK.db;Timeout=60000;JournalMode=WAL;APP=DRIVETREK;WSID=PC1");
    // The busy time-out is the database time-out.
    SetDatabaseTimeout(7);
    EXPECT_EQ(BuildAttributes("SQLite3", "Server,X,sa,", false),
              "Database=X.db;Timeout=7000;JournalMode=WAL");
    SetDatabaseTimeout(0);  // not a time-out: the default
    EXPECT_EQ(DatabaseTimeout(), 60);
}

TEST(ConnectionString, ExtraAttributesReplaceThoseOfTheSameName) {
    const std::string embedded = "Driver={SQLite3};Database=X.db;Timeout=60000;JournalMode=WAL";
    // The SQLite driver reads the first Timeout=: the one added must be the only one.
    EXPECT_EQ(WithAttributes(embedded, "StepAPI=1; timeout =200"),
              "Driver={SQLite3};Database=X.db;JournalMode=WAL;StepAPI=1; timeout =200");
    EXPECT_EQ(WithAttributes(embedded, ""), embedded);
    // A braced value is one attribute: the text "Timeout=" or ';' inside it neither cuts
    // it nor makes it go, and the attribute after it is still found.
    EXPECT_EQ(WithAttributes("Driver={PostgreSQL Unicode};PWD={a;}}Timeout=1};Fetch=5;UID=u", "Fetch=10000"),
              "Driver={PostgreSQL Unicode};PWD={a;}}Timeout=1};UID=u;Fetch=10000");
    // A name that only begins like another is a different attribute.
    EXPECT_EQ(WithAttributes("A=1;TimeoutX=2", "Timeout=3"), "A=1;TimeoutX=2;Timeout=3");
}

TEST(ConnectionString, PasswordIsMaskedInTraces) {
    EXPECT_EQ(MaskPassword("Driver={SQL Server};Server=s;UID=sa;PWD=secret;APP=X"),
              "Driver={SQL Server};Server=s;UID=sa;PWD=********;APP=X");
    EXPECT_EQ(MaskPassword("UID=a;PWD={p;w}};x};APP=X"), "UID=a;PWD=********;APP=X");
    EXPECT_EQ(MaskPassword("PWD=;APP=X"), "PWD=********;APP=X");
    EXPECT_EQ(MaskPassword("Server=xPWD=1"), "Server=xPWD=1");  // not an attribute
    // Any spelling of the key, blanks around it, a braced value with ';' and "}}" inside.
    EXPECT_EQ(MaskPassword("UID=a; password ={x;}};PWD=y};APP=1"), "UID=a; password =********;APP=1");
    EXPECT_EQ(MaskPassword("pwd={unterminated;x"), "pwd=********");
    EXPECT_EQ(MaskPassword("Driver={SQL Server};UID={p;w}"), "Driver={SQL Server};UID={p;w}");
}

TEST(Owner, SplitIntoFiveParts) {
    OwnerParts p = SplitOwner("a,b,c,d,e,f");
    EXPECT_EQ(p.server, "a");
    EXPECT_EQ(p.password, "d");
    EXPECT_EQ(p.tail, "e,f");
}

TEST(Recognition, SqlServerByVersionAlsoThroughFreeTds) {
    EXPECT_EQ(Recognize("SQLSRV32.DLL", "Microsoft SQL Server", "08.00.2039").kind, KIND_SQLSERVER);
    Recognition r65 = Recognize("SQLSRV32.DLL", "Microsoft SQL Server", "06.50.0201");
    EXPECT_EQ(r65.kind, KIND_SQLSERVER6);
    EXPECT_EQ(r65.literal_limit, 255);
    EXPECT_EQ(r65.nesting, 3);
    Recognition r60 = Recognize("SQLSRV32.DLL", "Microsoft SQL Server", "06.00.0121");
    EXPECT_EQ(r60.kind, KIND_SQLSERVER6);
    EXPECT_EQ(r60.jointype, 2);
    EXPECT_EQ(Recognize("SQLSRV32.DLL", "Microsoft SQL Server", "04.21.0000").kind, KIND_SQLSERVER_OLD);
    EXPECT_EQ(Recognize("libtdsodbc.so", "Microsoft SQL Server", "16.00.1000").kind, KIND_SQLSERVER);
}

TEST(Recognition, OtherDriversAndThisPlatformsOnes) {
    EXPECT_EQ(Recognize("psqlodbcw.so", "PostgreSQL", "15.0.18").kind, KIND_POSTGRESQL);
    EXPECT_EQ(Recognize("sqlite3odbc.so", "SQLite", "3.39.3").kind, KIND_SQLITE);
    Recognition ora = Recognize("SQORA7.DLL", "Oracle", "7");
    EXPECT_EQ(ora.kind, KIND_ORACLE);
    EXPECT_TRUE(ora.clipstrings_off);
    EXPECT_EQ(Recognize("WINBTINT.DLL", "", "").kind, KIND_BTRIEVE);
    EXPECT_TRUE(Recognize("IVSYB13.DLL", "", "").fastcolumnfetch_off);
    EXPECT_EQ(Recognize("unknown.so", "Other", "1").jointype, 1);
}

TEST(DriverNames, AnUnregisteredNameIsLeftOutUnlessItIsLastOrALibraryFile) {
    using Names = std::vector<std::string>;
    const Names usual{"SQL Server", "SQLite3"};
    // The embedded database's machine: no "SQL Server" registered.
    EXPECT_EQ(DriverNamesToTry(usual, Names{"FreeTDS", "PostgreSQL Unicode", "SQLite3"}), Names{"SQLite3"});
    // A registered "SQL Server" is tried first as before, whatever the case of its name.
    EXPECT_EQ(DriverNamesToTry(usual, Names{"sql server", "SQLite3"}), usual);
    // The last name is tried even unregistered: its failure is the one reported.
    EXPECT_EQ(DriverNamesToTry(usual, Names{}), Names{"SQLite3"});
    EXPECT_EQ(DriverNamesToTry(Names{"SQLite3"}, Names{}), Names{"SQLite3"});
    // Registrations that could not be read leave every name in.
    EXPECT_EQ(DriverNamesToTry(usual, std::nullopt), usual);
    // The driver manager loads a library named instead of a registration.
    const Names files{"/opt/odbc/libtdsodbc.so", "libmyodbc.so.8", "SQL Server", "SQLite3"};
    EXPECT_EQ(DriverNamesToTry(files, Names{"SQLite3"}),
              (Names{"/opt/odbc/libtdsodbc.so", "libmyodbc.so.8", "SQLite3"}));
    // The registry stand-in's name keeps its place before the others.
    EXPECT_EQ(DriverNamesToTry(Names{"PostgreSQL Unicode", "SQL Server", "SQLite3"},
                               Names{"PostgreSQL Unicode", "SQLite3"}),
              (Names{"PostgreSQL Unicode", "SQLite3"}));
    // A registered name is one whole name, not a part of one.
    EXPECT_EQ(DriverNamesToTry(usual, Names{"SQL Server Native", "SQLite3"}), Names{"SQLite3"});
}

Diag D(const char* state, int native, const char* message) {
    return Diag{SQL_ERROR, state, native, message};
}

TEST(Classify, FailuresByMeaningAcrossSpellings) {
    EXPECT_EQ(Classify(D("S0002", 208, "Invalid object name")), Meaning::MissingTable);
    EXPECT_EQ(Classify(D("42S02", 208, "")), Meaning::MissingTable);
    EXPECT_EQ(Classify(D("42P01", 7, "relation does not exist")), Meaning::MissingTable);
    EXPECT_EQ(Classify(D("HY000", 1, "no such table: X")), Meaning::MissingTable);
    EXPECT_EQ(Classify(D("S1000", 1, "table X already exists")), Meaning::AlreadyExists);
    EXPECT_EQ(Classify(D("S0001", 2714, "")), Meaning::AlreadyExists);
    EXPECT_EQ(Classify(D("S0011", 1913, "")), Meaning::AlreadyExists);
    EXPECT_EQ(Classify(D("42P07", 7, "")), Meaning::AlreadyExists);
    EXPECT_EQ(Classify(D("42710", 7, "type \"files\" already exists")), Meaning::AlreadyExists);
    EXPECT_EQ(Classify(D("23505", 7, "")), Meaning::DuplicateKey);
    EXPECT_EQ(Classify(D("23000", 2627, "Violation of PRIMARY KEY")), Meaning::DuplicateKey);
    EXPECT_EQ(Classify(D("S1000", 19, "UNIQUE constraint failed: T.A")), Meaning::DuplicateKey);
    // A NULL in a NOT NULL column is no duplicate.
    EXPECT_EQ(Classify(D("S1000", 19, "NOT NULL constraint failed: T.A")), Meaning::Other);
    EXPECT_EQ(Classify(D("23000", 515, "Cannot insert the value NULL")), Meaning::Other);
    EXPECT_EQ(Classify(D("IM002", 0, "")), Meaning::DriverMissing);
    EXPECT_EQ(Classify(D("01000", 0, "Can't open lib 'SQL Server' : file not found")),
              Meaning::DriverMissing);
    EXPECT_EQ(Classify(D("IM001", 0, "")), Meaning::NotSupported);
    EXPECT_EQ(Classify(D("08001", 101, "could not connect")), Meaning::Connection);
}

TEST(Diagnostics, BracketedPrefixesRemoved) {
    EXPECT_EQ(StripBracketPrefixes("[unixODBC][Driver Manager]Can't open lib"), "Can't open lib");
    EXPECT_EQ(StripBracketPrefixes("no [prefix] here"), "no [prefix] here");
    EXPECT_EQ(StripBracketPrefixes("[unclosed"), "[unclosed");
}

}  // namespace
}  // namespace dt
