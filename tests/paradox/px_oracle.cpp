#include "px_oracle.h"

#include <QFile>

extern "C" {
#include <paradox.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pxoracle {

namespace {

void onError(pxdoc_t*, int type, const char* msg, void* data) {
    auto* err = static_cast<std::string*>(data);
    if (type != PX_Warning && err->empty())
        *err = msg;
}

std::string dbl(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

} // namespace

std::string neutral(const kx::px::Value& v) {
    using K = kx::px::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return "<null>";
    case K::Integer:
    case K::Date:
    case K::Time:
        return std::to_string(v.toInt());
    case K::Logical:
        return v.toBool() ? "1" : "0";
    case K::Number:
        return dbl(v.toNumber());
    case K::Timestamp:
        return dbl(v.timestampMsecs());
    default:
        return v.toText().toStdString();
    }
}

Table read(const QString& path, const QString& pxPath) {
    Table t;
    pxdoc_t* doc = PX_new3(onError, nullptr, nullptr, nullptr, &t.error);
    pxdoc_t* index = nullptr;
    if (PX_open_file(doc, QFile::encodeName(path).constData()) < 0) {
        if (t.error.empty())
            t.error = "open failed";
        PX_delete(doc);
        return t;
    }
    if (!pxPath.isEmpty()) {
        index = PX_new3(onError, nullptr, nullptr, nullptr, &t.error);
        if (PX_open_file(index, QFile::encodeName(pxPath).constData()) < 0 ||
            PX_read_primary_index(index) < 0 || PX_add_primary_index(doc, index) < 0) {
            if (t.error.empty())
                t.error = "index failed";
        }
    }
    const int nf = PX_get_num_fields(doc);
    for (int i = 0; i < nf; ++i) {
        pxfield_t* f = PX_get_field(doc, i);
        kx::px::FieldDef d;
        d.name = f->px_fname;
        d.type = static_cast<kx::px::FieldType>(f->px_ftype);
        d.size = f->px_ftype == pxfBCD ? f->px_fdc : f->px_flen;
        t.fields.push_back(d);
    }
    std::vector<char> data(static_cast<std::size_t>(PX_get_recordsize(doc)));
    const int n = PX_get_num_records(doc);
    for (int r = 0; r < n && t.error.empty(); ++r) {
        if (!PX_get_record(doc, r, data.data()))
            break;
        std::vector<std::string> row;
        char* p = data.data();
        for (int i = 0; i < nf; ++i) {
            pxfield_t* f = PX_get_field(doc, i);
            const int len = f->px_flen;
            std::string s = "<null>";
            switch (f->px_ftype) {
            case pxfAlpha: {
                char* v = nullptr;
                if (PX_get_data_alpha(doc, p, len, &v) > 0 && v) {
                    s = v;
                    std::free(v);
                }
                break;
            }
            case pxfShort: {
                short v = 0;
                if (PX_get_data_short(doc, p, len, &v) > 0)
                    s = std::to_string(v);
                break;
            }
            case pxfLong:
            case pxfAutoInc:
            case pxfDate:
            case pxfTime: {
                long v = 0;
                // pxlib hands out blank fields as the most negative long.
                if (PX_get_data_long(doc, p, len, &v) > 0 && v != -2147483648L)
                    s = std::to_string(v);
                break;
            }
            case pxfNumber:
            case pxfCurrency:
            case pxfTimestamp: {
                double v = 0;
                if (PX_get_data_double(doc, p, len, &v) > 0)
                    s = dbl(v);
                break;
            }
            case pxfLogical: {
                char v = 0;
                if (PX_get_data_byte(doc, p, len, &v) > 0)
                    s = (v & 0x7F) ? "1" : "0";
                break;
            }
            case pxfBCD: {
                char* v = nullptr;
                if (PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(p), f->px_fdc, &v) > 0 &&
                    v) {
                    s = v;
                    std::free(v);
                }
                break;
            }
            default:
                s = "?";
            }
            row.push_back(s);
            p += len;
        }
        t.rows.push_back(row);
    }
    PX_close(doc);
    PX_delete(doc);
    if (index) {
        PX_close(index);
        PX_delete(index);
    }
    return t;
}

namespace {

// pxlib takes the field list over (and frees it with the document).
pxfield_t* pxFields(const std::vector<kx::px::FieldDef>& fields, std::size_t n, int* recordSize) {
    auto* pf = static_cast<pxfield_t*>(std::calloc(n, sizeof(pxfield_t)));
    *recordSize = 0;
    for (std::size_t i = 0; i < n; ++i) {
        pf[i].px_fname = strdup(fields[i].name.constData());
        pf[i].px_ftype = static_cast<char>(fields[i].type);
        pf[i].px_flen = kx::px::storageSize(fields[i]);
        pf[i].px_fdc = fields[i].type == kx::px::FieldType::Bcd ? fields[i].size : 0;
        *recordSize += pf[i].px_flen;
    }
    return pf;
}

bool writeTable(const QString& path, const std::vector<kx::px::FieldDef>& fields,
                const std::vector<std::vector<std::string>>& rows, bool keyed, std::string* error) {
    std::string err;
    pxdoc_t* doc = PX_new3(onError, nullptr, nullptr, nullptr, &err);
    int recordSize = 0;
    pxfield_t* pf = pxFields(fields, fields.size(), &recordSize);
    if (PX_create_file(doc, pf, static_cast<int>(fields.size()),
                       QFile::encodeName(path).constData(),
                       keyed ? pxfFileTypIndexDB : pxfFileTypNonIndexDB) < 0) {
        *error = err.empty() ? "create failed" : err;
        PX_delete(doc);
        return false;
    }
    if (keyed)
        PX_set_value(doc, "numprimkeys", 1);
    std::vector<char> data(static_cast<std::size_t>(recordSize));
    for (const auto& row : rows) {
        std::fill(data.begin(), data.end(), 0);
        char* p = data.data();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const int len = pf[i].px_flen;
            const std::string& v = row[i];
            if (v != "<null>") {
                switch (static_cast<int>(fields[i].type)) {
                case pxfAlpha:
                    PX_put_data_alpha(doc, p, len, const_cast<char*>(v.c_str()));
                    break;
                case pxfShort:
                    PX_put_data_short(doc, p, len, static_cast<short>(std::stoi(v)));
                    break;
                case pxfLong:
                case pxfAutoInc:
                case pxfDate:
                case pxfTime:
                    PX_put_data_long(doc, p, len, std::stoi(v));
                    break;
                case pxfNumber:
                case pxfCurrency:
                case pxfTimestamp:
                    PX_put_data_double(doc, p, len, std::stod(v));
                    break;
                case pxfLogical:
                    PX_put_data_byte(doc, p, len, v == "1" ? 1 : 0);
                    break;
                default:
                    break;
                }
            }
            p += len;
        }
        if (PX_put_record(doc, data.data()) < 0)
            break;
    }
    PX_close(doc);
    PX_delete(doc);
    if (!err.empty()) {
        *error = err;
        return false;
    }
    return true;
}

} // namespace

bool write(const QString& path, const std::vector<kx::px::FieldDef>& fields,
           const std::vector<std::vector<std::string>>& rows, std::string* error) {
    return writeTable(path, fields, rows, false, error);
}

bool writeKeyed(const QString& path, const QString& pxPath,
                const std::vector<kx::px::FieldDef>& fields,
                const std::vector<std::vector<std::string>>& rows, std::string* error) {
    if (!writeTable(path, fields, rows, true, error))
        return false;
    std::string err;
    pxdoc_t* doc = PX_new3(onError, nullptr, nullptr, nullptr, &err);
    pxdoc_t* index = PX_new3(onError, nullptr, nullptr, nullptr, &err);
    int keySize = 0;
    bool ok = PX_open_file(doc, QFile::encodeName(path).constData()) >= 0 &&
              PX_create_file(index, pxFields(fields, 1, &keySize), 1,
                             QFile::encodeName(pxPath).constData(), pxfFileTypPrimIndex) >= 0 &&
              PX_write_primary_index(doc, index) >= 0;
    PX_close(index);
    PX_delete(index);
    PX_close(doc);
    PX_delete(doc);
    ok = ok && err.empty();
    if (!ok)
        *error = err.empty() ? "index failed" : err;
    return ok;
}

} // namespace pxoracle
