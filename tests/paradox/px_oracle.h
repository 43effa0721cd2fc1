#pragma once

// pxlib as a reference reader and writer for the table-file tests. Values are compared in a
// neutral text form: "<null>", integers, doubles with 17 digits, raw text bytes.
#include "paradox/paradox_value.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace pxoracle {

struct Table {
    std::vector<kx::px::FieldDef> fields;
    std::vector<std::vector<std::string>> rows;
    std::string error; // first error pxlib reported
};

// Reads a table with pxlib, through its primary index when pxPath is given.
Table read(const QString& path, const QString& pxPath = {});
// Writes a table with pxlib from text values ("<null>" for NULL), typed by the fields.
bool write(const QString& path, const std::vector<kx::px::FieldDef>& fields,
           const std::vector<std::vector<std::string>>& rows, std::string* error);
// The same as a table keyed on its first field (rows given in key order), with the primary
// index pxlib builds for it at pxPath.
bool writeKeyed(const QString& path, const QString& pxPath,
                const std::vector<kx::px::FieldDef>& fields,
                const std::vector<std::vector<std::string>>& rows, std::string* error);
// Our value in the same neutral form.
std::string neutral(const kx::px::Value& v);

} // namespace pxoracle
