#include "reports/local_query.h"

#include "common/cp936.h"
#include "paradox/paradox_writer.h"
#include "reports/report_fixtures.h"
#include "support/table_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;

namespace {

QueryStatement parsed(const QString& text) {
    const Result<QueryStatement> r = parseQueryStatement(text);
    EXPECT_TRUE(r.ok()) << text.toStdString() << ": " << r.error().toStdString();
    return r.ok() ? r.value() : QueryStatement{};
}

QString refusal(const QString& text) {
    const Result<QueryStatement> r = parseQueryStatement(text);
    EXPECT_FALSE(r.ok()) << text.toStdString() << " was accepted";
    return r.ok() ? QString() : r.error();
}

struct QueryFile : ::testing::Test {
    QTemporaryDir dir;
    QString path;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("Readings.DB");
        kxtest::writeReadings(path, {{"1.234", "G\xA6\xB8"},
                                     {"500", "V"},
                                     {"12.5", "M\xA6\xB8"},
                                     {"499", "V"},
                                     {"0.3", "A"},
                                     {"", nullptr},
                                     {"25", "0C"}});
    }

    // The No of every row a statement delivers, or the failure's message.
    Result<std::vector<int>> run(const QString& text) const {
        Result<QueryStatement> st = parseQueryStatement(text);
        if (!st)
            return fail(st.error());
        Result<TableQuery> q = TableQuery::prepare(st.value());
        if (!q)
            return fail(q.error());
        std::vector<int> nos;
        const Status s = q.value().forEachRow([&](const px::Record& r) {
            nos.push_back(static_cast<int>(r[0].toInt()));
            return true;
        });
        if (!s)
            return fail(s.error());
        return nos;
    }
    std::vector<int> rows(const QString& text) const {
        const Result<std::vector<int>> r = run(text);
        EXPECT_TRUE(r.ok()) << text.toStdString() << ": " << r.error().toStdString();
        return r.ok() ? r.value() : std::vector<int>{};
    }
    QString where(const QString& condition) const {
        return QStringLiteral("select * from \"%1\" where %2").arg(path, condition);
    }
};

} // namespace

TEST(QueryParser, AcceptsKeywordsInAnyCaseQuotesOfEitherKindAndBlanks) {
    struct Case {
        const char* text;
        QueryStatement want;
    };
    const QueryStatement ab{"a b.db", true, "Unit", QString::fromUtf8("MΩ")};
    const Case cases[] = {
        // Exactly as the search dialog writes them: no blank around the quotes.
        {"select * from\"/data/Pw60bdb\"", {"/data/Pw60bdb", false, {}, {}}},
        {"select * from\"/data/Pw60bdb\"where Unit=\"0C\"", {"/data/Pw60bdb", true, "Unit", "0C"}},
        {"select * from \"a b.db\" where Unit=\"MΩ\"", ab},
        {"SELECT * FROM 'a b.db' WHERE Unit = 'MΩ'", ab},
        {"  Select\t*\nFrom \"a b.db\"   wHeRe   Unit   =\"MΩ\" ;  ", ab},
        {"select*from\"a b.db\"where Unit='MΩ';", ab},
        // A quote doubled inside a text stands for itself; the other quote needs no doubling.
        {"select * from 'it''s.db' where Value=\"say \"\"hi\"\"\"",
         {"it's.db", true, "Value", "say \"hi\""}},
        {"select * from \"x\" where Unit=''", {"x", true, "Unit", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsed(QString::fromUtf8(c.text)), c.want) << c.text;
}

TEST(QueryParser, RefusesWhatIsOutsideTheSubsetNamingIt) {
    struct Case {
        const char* text;
        const char* named;
    };
    const Case cases[] = {
        {"update \"t\" set Unit=\"V\"", "The statement 'update' is not supported"},
        {"delete from \"t\"", "The statement 'delete' is not supported"},
        {"select No, Unit from \"t\"", "A column list ('No') is not supported"},
        {"select count(*) from \"t\"", "A column list ('count') is not supported"},
        {"select * into \"u\" from \"t\"", "'into' after 'select *' is not supported"},
        {"select * from Pw60bdb", "An unquoted table name ('Pw60bdb') is not supported"},
        {"select * from \"t\" order by No", "'order' after the table's path is not supported"},
        {"select * from \"t\", \"u\"", "',' after the table's path is not supported"},
        {"select * from \"t\" where Unit<>\"V\"", "The comparison '<>' is not supported"},
        {"select * from \"t\" where Unit like \"V%\"", "The comparison 'like' is not supported"},
        {"select * from \"t\" where Unit>=\"V\"", "The comparison '>=' is not supported"},
        {"select * from \"t\" where Unit=\"V\" and Value=\"1\"",
         "A second condition ('and') is not supported"},
        {"select * from \"t\" where Unit=\"V\" OR Unit=\"A\"",
         "A second condition ('or') is not supported"},
        {"select * from \"t\" where not Unit=\"V\"", "'not' after 'where' is not supported"},
        {"select * from \"t\" where No=5", "An unquoted value ('5') is not supported"},
        {"select * from \"t\"; delete from \"t\"", "A second statement after ';' is not supported"},
        {"select * from \"t\" where Unit=\"V\" order by No",
         "'order' after the condition is not supported"},
    };
    for (const Case& c : cases) {
        const QString message = refusal(QString::fromLatin1(c.text));
        EXPECT_TRUE(message.startsWith(QLatin1String(c.named))) << message.toStdString();
        if (!message.startsWith(QLatin1String("An unquoted"))) {
            EXPECT_TRUE(message.contains("only select * from \"TABLE\" [where FIELD = \"TEXT\"]"))
                << message.toStdString();
        }
    }
}

TEST(QueryParser, RefusesIncompleteStatementsSayingWhatIsMissing) {
    EXPECT_EQ(refusal(""), "The statement is empty.");
    EXPECT_EQ(refusal(" \t\n"), "The statement is empty.");
    EXPECT_EQ(refusal("select"), "'*' is missing after 'select'.");
    EXPECT_EQ(refusal("select *"), "'from' is missing after 'select *'.");
    EXPECT_EQ(refusal("select * from"), "The table's path is missing after 'from'.");
    EXPECT_EQ(refusal("select * from \"\""), "The table's path is empty.");
    EXPECT_EQ(refusal("select * from \"t\" where"), "The field name is missing after 'where'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit"), "'=' is missing after 'Unit'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit \"V\""), "'=' is missing after 'Unit'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit="),
              "The text to compare with is missing after '='.");
    EXPECT_EQ(refusal("select * from \"t"),
              "The text in quotes starting at character 15 has no closing quote.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit='V"),
              "The text in quotes starting at character 30 has no closing quote.");
}

TEST_F(QueryFile, ListsEveryCommittedRecordInFileOrder) {
    EXPECT_EQ(rows(QStringLiteral("select * from \"%1\"").arg(path)),
              (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    Result<TableQuery> q =
        TableQuery::prepare(parsed(QStringLiteral("select * from '%1'").arg(path)));
    ASSERT_TRUE(q.ok());
    ASSERT_EQ(q.value().fields().size(), 6u) << "the file's own fields";
    EXPECT_EQ(q.value().fields()[3].name, "Unit");
    EXPECT_EQ(q.value().count().value(), 7);
}

// Texts are compared whole and with their case, typed as Unicode and stored in code page 936;
// other kinds of field compare as their values; field names match in any case.
TEST_F(QueryFile, FiltersOnOneFieldsValue) {
    struct Case {
        const char* condition;
        std::vector<int> rows;
    };
    const Case cases[] = {
        {"Unit=\"V\"", {2, 4}},
        {"Unit=\"0C\"", {7}},
        {"Unit=\"KW\"", {}},
        {"Unit=\"v\"", {}},
        {"Unit=\"V \"", {}},
        {"unit=\"V\"", {2, 4}},
        {"Value=\"12.5\"", {3}},
        {"Value=\"12\"", {}}, // no prefix match
        {"Unit=\"\"", {6}},   // the empty text finds the blank fields
        // The ohm sign must match its two bytes A6 B8.
        {"Unit=\"MΩ\"", {3}},
        {"Unit='GΩ'", {1}},
        // A character the code page cannot hold is in no record; its replacement character
        // must not find anything either.
        {"Unit=\"😀\"", {}},
        {"Unit=\"VVVVVVVVVVVV\"", {}}, // wider than the field
        {"No=\"3\"", {3}},
        {"No=' 5 '", {5}},
        {"Time=\"10:00:04\"", {4}},
        {"No=\"\"", {}}, // no record lacks a number
    };
    for (const Case& c : cases)
        EXPECT_EQ(rows(where(QString::fromUtf8(c.condition))), c.rows) << c.condition;
    const Result<std::vector<int>> bad = run(where("No=\"three\""));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "'three' is not a valid integer value (field 'No')");
}

TEST_F(QueryFile, BadTablesAndFieldsAreReportedNotCrashedOn) {
    // A pipe would block the read for ever.
    const QString fifo = dir.filePath("pipe.DB");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString junk = dir.filePath("junk.DB");
    ASSERT_TRUE(putFile(junk, QByteArray(3000, '\x5A')));
    const struct {
        QString statement;
        QString says;
    } cases[] = {
        {where("Colour=\"red\""), "The table " + path + " has no field 'Colour'"},
        {"select * from \"" + dir.filePath("missing.DB") + "\"", "Cannot open table file"},
        {"select * from \"" + dir.path() + "\"", "it is not a file"},
        {"select * from \"" + fifo + "\"", "it is not a file"},
        {"select * from \"" + junk + "\"", "is not a table file"},
    };
    for (const auto& c : cases) {
        const Result<std::vector<int>> r = run(c.statement);
        ASSERT_FALSE(r.ok()) << c.statement.toStdString();
        EXPECT_TRUE(r.error().contains(c.says)) << r.error().toStdString();
    }
}

TEST_F(QueryFile, ABareTableNameFindsItsTableFile) {
    const QString bare = dir.filePath("Readings");
    EXPECT_EQ(queryTablePath(bare), path);
    EXPECT_EQ(rows(QStringLiteral("select * from \"%1\" where Unit='A'").arg(bare)),
              (std::vector<int>{5}));
    // A path that names a file, or has an extension, is taken as it stands.
    EXPECT_EQ(queryTablePath(path), path);
    EXPECT_EQ(queryTablePath(dir.filePath("other.txt")), dir.filePath("other.txt"));
    EXPECT_EQ(queryTablePath(dir.filePath("nothing")), dir.filePath("nothing"));
}

TEST_F(QueryFile, StopsWhenTheVisitorSaysSo) {
    Result<TableQuery> q =
        TableQuery::prepare(parsed(QStringLiteral("select * from \"%1\"").arg(path)));
    ASSERT_TRUE(q.ok());
    int seen = 0;
    EXPECT_TRUE(q.value().forEachRow([&](const px::Record&) { return ++seen < 2; }).ok());
    EXPECT_EQ(seen, 2);
}
