#include "reports/local_query.h"

#include "common/cp936.h"
#include "paradox/paradox_codec.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <initializer_list>

namespace kx {
namespace {

const QString kForm = QStringLiteral("select * from \"TABLE\" [where FIELD = \"TEXT\"]");

struct Token {
    enum class Kind { End, Word, Quoted, Symbol };
    Kind kind = Kind::End;
    QString text; // a quoted text without its quotes
    QChar quote;  // the quote a quoted text stood in
    qsizetype pos = 0;

    bool is(Kind k) const { return kind == k; }
    bool isWord(const char* keyword) const {
        return kind == Kind::Word && text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(const char* s) const { return kind == Kind::Symbol && text == QLatin1String(s); }
    // The token as the user wrote it, for messages.
    QString shown() const {
        if (kind == Kind::Quoted)
            return quote + text + quote;
        return text;
    }
};

bool isSymbolChar(QChar c) {
    return QStringView(u"*=,();<>!").contains(c);
}

bool isQuote(QChar c) {
    return c == u'"' || c == u'\'';
}

class Lexer {
public:
    explicit Lexer(QStringView text) : s_(text) {}

    Result<Token> next() {
        while (i_ < s_.size() && s_[i_].isSpace())
            ++i_;
        Token t;
        t.pos = i_ + 1;
        if (i_ >= s_.size())
            return t;
        const QChar c = s_[i_];
        if (isQuote(c))
            return quoted(t, c);
        if (isSymbolChar(c)) {
            t.kind = Token::Kind::Symbol;
            t.text = c;
            ++i_;
            // Two-character comparisons read as one, so the message names them whole.
            if ((c == u'<' || c == u'>' || c == u'!') && i_ < s_.size() &&
                (s_[i_] == u'=' || (c == u'<' && s_[i_] == u'>'))) {
                t.text += s_[i_];
                ++i_;
            }
            return t;
        }
        t.kind = Token::Kind::Word;
        const qsizetype from = i_;
        while (i_ < s_.size() && !s_[i_].isSpace() && !isQuote(s_[i_]) && !isSymbolChar(s_[i_]))
            ++i_;
        t.text = s_.mid(from, i_ - from).toString();
        return t;
    }

private:
    Result<Token> quoted(Token t, QChar q) {
        t.kind = Token::Kind::Quoted;
        t.quote = q;
        ++i_;
        while (i_ < s_.size()) {
            if (s_[i_] == q) {
                // A doubled quote stands for the quote itself.
                if (i_ + 1 < s_.size() && s_[i_ + 1] == q) {
                    t.text += q;
                    i_ += 2;
                    continue;
                }
                ++i_;
                return t;
            }
            t.text += s_[i_++];
        }
        return fail(QStringLiteral("The text in quotes starting at character %1 has no closing "
                                   "quote.")
                        .arg(t.pos));
    }

    QStringView s_;
    qsizetype i_ = 0;
};

Failure unsupported(const QString& what) {
    return fail(QStringLiteral("%1 is not supported; only %2 is.").arg(what, kForm));
}

bool isReserved(const Token& t) {
    for (const char* k :
         {"select", "from", "where", "and", "or", "not", "order", "group", "by", "having", "like",
          "in", "is", "between", "null", "union", "join", "exists"}) {
        if (t.isWord(k))
            return true;
    }
    return false;
}

// The end of a statement: nothing more, or one ";" and nothing after it.
Status expectEnd(Lexer& lex, const Token& t, const QString& after) {
    if (t.is(Token::Kind::End))
        return {};
    if (t.isSymbol(";")) {
        Result<Token> rest = lex.next();
        if (!rest)
            return rest.status();
        if (rest.value().is(Token::Kind::End))
            return {};
        return unsupported(QStringLiteral("A second statement after ';'"));
    }
    if (t.isWord("and") || t.isWord("or"))
        return unsupported(QStringLiteral("A second condition ('%1')").arg(t.text.toLower()));
    return unsupported(QStringLiteral("'%1' after %2").arg(t.shown(), after));
}

} // namespace

Result<QueryStatement> parseQueryStatement(QStringView text) {
    Lexer lex(text);
    QueryStatement st;
    auto take = [&](Token* out) -> Status {
        Result<Token> t = lex.next();
        if (!t)
            return t.status();
        *out = t.take();
        return {};
    };
    Token t;
    if (Status s = take(&t); !s)
        return fail(s.error());
    if (t.is(Token::Kind::End))
        return fail(QStringLiteral("The statement is empty."));
    if (!t.isWord("select"))
        return unsupported(QStringLiteral("The statement '%1'").arg(t.shown()));

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (!t.isSymbol("*")) {
        if (t.is(Token::Kind::End))
            return fail(QStringLiteral("'*' is missing after 'select'."));
        return unsupported(QStringLiteral("A column list ('%1')").arg(t.shown()));
    }

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (!t.isWord("from")) {
        if (t.is(Token::Kind::End))
            return fail(QStringLiteral("'from' is missing after 'select *'."));
        return unsupported(QStringLiteral("'%1' after 'select *'").arg(t.shown()));
    }

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (t.is(Token::Kind::End))
        return fail(QStringLiteral("The table's path is missing after 'from'."));
    if (t.is(Token::Kind::Word))
        return fail(QStringLiteral("An unquoted table name ('%1') is not supported; give the "
                                   "table's path in quotes: select * from \"PATH\".")
                        .arg(t.text));
    if (!t.is(Token::Kind::Quoted))
        return unsupported(QStringLiteral("'%1' after 'from'").arg(t.shown()));
    if (t.text.trimmed().isEmpty())
        return fail(QStringLiteral("The table's path is empty."));
    st.table = t.text;

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (!t.isWord("where")) {
        if (Status s = expectEnd(lex, t, QStringLiteral("the table's path")); !s)
            return fail(s.error());
        return st;
    }

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (t.is(Token::Kind::End))
        return fail(QStringLiteral("The field name is missing after 'where'."));
    if (!t.is(Token::Kind::Word) || isReserved(t))
        return unsupported(QStringLiteral("'%1' after 'where'").arg(t.shown()));
    st.field = t.text;

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (!t.isSymbol("=")) {
        if (t.is(Token::Kind::End) || t.is(Token::Kind::Quoted))
            return fail(QStringLiteral("'=' is missing after '%1'.").arg(st.field));
        return unsupported(QStringLiteral("The comparison '%1'").arg(t.shown()));
    }

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (t.is(Token::Kind::End))
        return fail(QStringLiteral("The text to compare with is missing after '='."));
    if (t.is(Token::Kind::Word))
        return fail(QStringLiteral("An unquoted value ('%1') is not supported; put the text in "
                                   "quotes: %2 = \"TEXT\".")
                        .arg(t.text, st.field));
    if (!t.is(Token::Kind::Quoted))
        return unsupported(QStringLiteral("'%1' after '='").arg(t.shown()));
    st.hasCondition = true;
    st.text = t.text;

    if (Status s = take(&t); !s)
        return fail(s.error());
    if (Status s = expectEnd(lex, t, QStringLiteral("the condition")); !s)
        return fail(s.error());
    return st;
}

QString queryTablePath(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() || !info.suffix().isEmpty())
        return path;
    for (const char* ext : {".DB", ".db"}) {
        const QString withExt = path + QLatin1String(ext);
        if (QFileInfo::exists(withExt))
            return withExt;
    }
    return path;
}

TableQuery::TableQuery(TableQuery&&) noexcept = default;
TableQuery& TableQuery::operator=(TableQuery&&) noexcept = default;
TableQuery::~TableQuery() = default;

Result<TableQuery> TableQuery::prepare(const QueryStatement& statement) {
    const QString path = queryTablePath(statement.table);
    // A pipe or a device would block the read or never end; only files are tables.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("Cannot open table file %1: it is not a file")
                        .arg(QDir::toNativeSeparators(path)));
    Result<px::TableReader> reader = px::TableReader::open(path);
    if (!reader)
        return fail(reader.error());
    TableQuery q(reader.take());
    int at = 0;
    for (const px::FieldDef& f : q.fields()) {
        q.offsets_.push_back(at);
        at += px::storageSize(f);
    }
    if (!statement.hasCondition)
        return q;

    // Field names match regardless of case, as the engine's do; an exact match comes first.
    const std::vector<px::FieldDef>& fields = q.fields();
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (std::size_t i = 0; i < fields.size() && q.field_ < 0; ++i) {
            if (fromCp936(fields[i].name).compare(statement.field, cs) == 0)
                q.field_ = static_cast<int>(i);
        }
    }
    if (q.field_ < 0)
        return fail(QStringLiteral("The table %1 has no field '%2'")
                        .arg(QDir::toNativeSeparators(q.filePath()), statement.field));

    const px::FieldDef& f = fields[static_cast<std::size_t>(q.field_)];
    const std::string bytes = toCp936(statement.text);
    const QByteArray cp936(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // A text the code page cannot hold cannot be in the table either; comparing its
    // replacement characters would find the wrong records.
    const bool representable = fromCp936(bytes) == statement.text;
    switch (f.type) {
    case px::FieldType::Alpha:
        if (!representable || cp936.contains('\0') || cp936.size() > f.size) {
            q.match_ = Match::Never;
        } else {
            q.match_ = Match::AlphaBytes;
            q.alpha_ = bytes;
        }
        return q;
    case px::FieldType::Bcd:
    case px::FieldType::Bytes:
        q.match_ = representable ? Match::SameText : Match::Never;
        q.wantedText_ = cp936;
        return q;
    default:
        break;
    }
    if (px::isBlobType(f.type))
        return fail(QStringLiteral("The field '%1' holds %2 data, which cannot be compared with "
                                   "a text")
                        .arg(statement.field, px::typeName(f.type)));
    q.match_ = Match::SameValue;
    // The empty text finds blank fields, as an empty text is stored blank.
    if (statement.text.trimmed().isEmpty())
        return q;
    Result<px::Value> v = px::parseValue(f.type, cp936);
    if (!v)
        return fail(QStringLiteral("%1 (field '%2')").arg(v.error(), statement.field));
    q.wanted_ = v.take();
    return q;
}

bool TableQuery::matches(const unsigned char* raw) const {
    if (match_ == Match::All)
        return true;
    if (match_ == Match::Never)
        return false;
    const auto f = static_cast<std::size_t>(field_);
    const px::FieldDef& def = fields()[f];
    const unsigned char* p = raw + offsets_[f];
    switch (match_) {
    case Match::AlphaBytes: {
        // Stored texts end at the first zero byte or at the field's width.
        const std::size_t n = alpha_.size();
        const auto width = static_cast<std::size_t>(def.size);
        if (n > width || std::memcmp(p, alpha_.data(), n) != 0)
            return false;
        return n == width || p[n] == 0;
    }
    case Match::SameValue:
        return px::codec::decodeField(def, p) == wanted_;
    case Match::SameText:
        return px::codec::decodeField(def, p).toText() == wantedText_;
    default:
        return false;
    }
}

Status TableQuery::addRecords(const std::vector<px::Record>& records) {
    const std::vector<px::FieldDef>& defs = fields();
    const auto size = static_cast<std::size_t>(reader_.info().recordSize);
    std::vector<unsigned char> raw(records.size() * size, 0);
    QString error;
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (std::size_t f = 0; f < defs.size() && f < records[r].size(); ++f) {
            if (!records[r][f].isNull() &&
                !px::codec::encodeField(defs[f], records[r][f], &raw[r * size + offsets_[f]],
                                        &error))
                return fail(error);
        }
    }
    added_.insert(added_.end(), raw.begin(), raw.end());
    return {};
}

Status TableQuery::forEachRaw(const std::function<bool(const unsigned char*)>& visit) const {
    bool going = true;
    if (Status s = reader_.forEachRaw([&](const unsigned char* raw) { return going = visit(raw); });
        !s || !going)
        return s;
    const auto size = static_cast<std::size_t>(reader_.info().recordSize);
    for (std::size_t at = 0; size > 0 && at + size <= added_.size(); at += size) {
        if (!visit(&added_[at]))
            break;
    }
    return {};
}

Status TableQuery::forEachRow(const std::function<bool(const px::Record&)>& visit) const {
    const std::vector<px::FieldDef>& defs = fields();
    px::Record rec(defs.size());
    return forEachRaw([&](const unsigned char* raw) {
        if (!matches(raw))
            return true;
        for (std::size_t i = 0; i < defs.size(); ++i)
            rec[i] = px::codec::decodeField(defs[i], raw + offsets_[i]);
        return visit(rec);
    });
}

Result<qint64> TableQuery::count() const {
    qint64 n = 0;
    const Status s = forEachRaw([&](const unsigned char* raw) {
        n += matches(raw) ? 1 : 0;
        return true;
    });
    if (!s)
        return fail(s.error());
    return n;
}

} // namespace kx
