#include "paradox/paradox_salvage.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <optional>
#include <tuple>

namespace kx::px {

using codec::kCommonHeader;
using codec::le16;
using codec::le16s;
using codec::le32;

namespace {

constexpr int kMaxNameLen = 25;
constexpr int kFactors[] = {1, 2, 3, 4, 8, 16, 32};
// Blocks looked at when telling which geometry fits: enough for the links to speak.
constexpr int kScoredBlocks = 512;

// The file's bytes, read where they are.
struct Bytes {
    const unsigned char* p = nullptr;
    qint64 size = 0;
    int u8(qint64 at) const { return at < size ? p[at] : -1; }
    int u16(qint64 at) const { return at + 2 <= size ? le16(p + at) : -1; }
};

bool sizeFits(FieldType type, int size) {
    const int fixed = fixedSize(type);
    if (type == FieldType::Bcd)
        return size <= 32;
    return fixed != 0 ? size == fixed : size >= 1;
}

// Where the version byte puts the field list and how long it says the table's name is.
struct LayoutClass {
    int fieldInfoAt;
    int tableNameLen;
    int versionId; // a version byte of this layout
};
constexpr LayoutClass kClasses[] = {
    {codec::kDataHeader4, 261, 12}, {codec::kDataHeader4, 79, 9}, {kCommonHeader, 79, 3}};

int classOf(int versionId) {
    if (versionId >= 12)
        return 0;
    return versionId >= 5 ? 1 : 2;
}

struct Layout {
    std::vector<FieldDef> fields;
    bool known = false; // the fields of a layout the program knows
    int namesEnd = 0;
    int versionId = 12;
    QStringList repairs;
};

int sumOf(const std::vector<FieldDef>& fields) {
    int sum = 0;
    for (const FieldDef& f : fields)
        sum += storageSize(f);
    return sum;
}

QString fieldsText(const std::vector<FieldDef>& fields) {
    QStringList names;
    for (const FieldDef& f : fields)
        names << QString::fromLatin1(f.name);
    return names.join(QLatin1String(", "));
}

// The field list of n fields as a layout class places it, or nothing when it does not read.
// `loose` lets names that do not read be named by the program (when types and count fit).
std::optional<Layout> parseFields(const Bytes& b, const LayoutClass& c, int n, qint64 limit,
                                  const std::vector<std::vector<FieldDef>>& known, bool loose) {
    const qint64 namesAt = c.fieldInfoAt + 6LL * n + 4 + c.tableNameLen;
    if (n < 1 || namesAt >= limit)
        return std::nullopt;
    Layout l;
    l.versionId = c.versionId;
    bool typesOk = true;
    for (int i = 0; i < n; ++i) {
        const int code = b.u8(c.fieldInfoAt + 2 * i);
        const int size = b.u8(c.fieldInfoAt + 2 * i + 1);
        FieldDef f;
        f.type = static_cast<FieldType>(code);
        f.size = size;
        typesOk = typesOk && isKnownType(static_cast<std::uint8_t>(code)) && sizeFits(f.type, size);
        l.fields.push_back(f);
    }
    int goodNames = 0;
    qint64 pos = namesAt;
    for (int i = 0; i < n; ++i) {
        const auto* start = b.p + pos;
        const void* nul = std::memchr(start, 0, static_cast<std::size_t>(limit - pos));
        if (!nul)
            break;
        const QByteArray name(reinterpret_cast<const char*>(start),
                              static_cast<const unsigned char*>(nul) - start);
        const bool printable = std::none_of(name.begin(), name.end(), [](char ch) {
            return static_cast<unsigned char>(ch) < 0x20;
        });
        if (name.isEmpty() || name.size() > kMaxNameLen || !printable)
            break;
        l.fields[static_cast<std::size_t>(i)].name = name;
        ++goodNames;
        pos += name.size() + 1;
    }
    l.namesEnd = static_cast<int>(pos);

    // A layout the program knows settles kinds by names, or names by kinds.
    for (const std::vector<FieldDef>& k : known) {
        if (k.size() != static_cast<std::size_t>(n))
            continue;
        bool sameNames = goodNames == n, sameKinds = typesOk;
        for (std::size_t i = 0; i < k.size(); ++i) {
            sameNames = sameNames && l.fields[i].name == k[i].name;
            sameKinds = sameKinds && l.fields[i].type == k[i].type && l.fields[i].size == k[i].size;
        }
        if (sameNames && !sameKinds) {
            l.repairs << QStringLiteral("the field kinds do not fit the fields %1; read as the "
                                        "program writes them")
                             .arg(fieldsText(k));
            l.fields = k;
            l.known = true;
            return l;
        }
        if (sameKinds && goodNames < n && (goodNames > 0 || loose)) {
            l.repairs << QStringLiteral("the field names do not read; named %1").arg(fieldsText(k));
            l.fields = k;
            l.known = true;
            return l;
        }
    }
    if (!typesOk || (goodNames == 0 && !loose))
        return std::nullopt;
    if (goodNames < n) {
        QSet<QByteArray> taken;
        for (int i = 0; i < goodNames; ++i)
            taken.insert(l.fields[static_cast<std::size_t>(i)].name.toLower());
        for (int i = goodNames; i < n; ++i) {
            QByteArray name = "Field" + QByteArray::number(i + 1);
            while (taken.contains(name.toLower()))
                name += '_';
            taken.insert(name.toLower());
            l.fields[static_cast<std::size_t>(i)].name = name;
        }
        l.repairs << QStringLiteral("the names of fields %1 to %2 do not read; named Field%1 on")
                         .arg(goodNames + 1)
                         .arg(n);
    }
    return l;
}

std::optional<Layout> findLayout(const Bytes& b, const std::vector<std::vector<FieldDef>>& known) {
    const int statedVersion = b.u8(0x39);
    const int statedN = le16s(b.p + 0x21);
    const int statedHeader = b.u16(0x02);
    const qint64 limit = statedHeader >= 0x78 && statedHeader <= b.size
                             ? statedHeader
                             : std::min<qint64>(b.size, 0x10000);
    const int first = classOf(statedVersion);
    std::vector<int> classes = {first};
    for (int c = 0; c < 3; ++c) {
        if (c != first)
            classes.push_back(c);
    }
    std::vector<int> counts;
    if (statedN >= 1 && statedN <= 255)
        counts.push_back(statedN);
    auto tryAll = [&](bool statedOnly, bool loose) -> std::optional<Layout> {
        for (const int n : counts) {
            for (const int c : classes) {
                if (auto l = parseFields(b, kClasses[c], n, limit, known, loose))
                    return l;
            }
            if (statedOnly)
                break;
        }
        return std::nullopt;
    };
    std::optional<Layout> l = tryAll(true, false);
    if (!l) {
        for (int n = 1; n <= 255; ++n) {
            if (n != statedN)
                counts.push_back(n);
        }
        l = tryAll(false, false);
    }
    if (!l) {
        counts = {statedN};
        l = tryAll(true, true);
    }
    if (!l)
        return std::nullopt;
    if (static_cast<int>(l->fields.size()) != statedN)
        l->repairs << QStringLiteral("the header counts %1 fields; %2 were found")
                          .arg(statedN)
                          .arg(l->fields.size());
    if (classOf(statedVersion) != classOf(l->versionId) || statedVersion < 3 || statedVersion > 12)
        l->repairs
            << QStringLiteral("file version %1 does not fit the field list").arg(statedVersion);
    else
        l->versionId = statedVersion;
    return l;
}

// Where blocks start and how long they and their records are.
struct Geometry {
    qint64 headerSize = 0;
    int blockSize = 0;
    int recordSize = 0;
    std::vector<FieldDef> fields;

    int perBlock() const { return (blockSize - 6) / recordSize; }
    qint64 blocks(qint64 fileSize) const {
        return fileSize <= headerSize ? 0 : (fileSize - headerSize + blockSize - 1) / blockSize;
    }
    qint64 at(qint64 block) const { return headerSize + (block - 1) * blockSize; }
    // A count of records a block header may carry, or -1.
    int claim(int addDataSize) const {
        if (addDataSize < 0)
            return 0;
        if (addDataSize % recordSize != 0 || addDataSize > (perBlock() - 1) * recordSize)
            return -1;
        return addDataSize / recordSize + 1;
    }
};

// How well a geometry fits the file: block links that agree both ways first, then block
// headers that read, then a file that ends on a block, then the header's word, then larger
// blocks (one block of records reads the same in any block size that holds it).
using Score = std::tuple<int, int, int, int, int>;

Score scoreOf(const Bytes& b, const Geometry& g, bool stated) {
    const qint64 blocks = std::min<qint64>(g.blocks(b.size), kScoredBlocks);
    int links = 0, plausible = 0;
    for (qint64 k = 1; k <= blocks; ++k) {
        const qint64 at = g.at(k);
        if (at + 6 > b.size)
            break;
        const int next = le16(b.p + at), prev = le16(b.p + at + 2);
        const int add = le16s(b.p + at + 4);
        // Six zero bytes are what unused space holds; only the first block may look so.
        if ((next | prev | add) == 0 && k > 1)
            continue;
        if (g.claim(add) > 0 && prev <= g.blocks(b.size) && next <= g.blocks(b.size))
            ++plausible;
        if (next > 0 && next <= g.blocks(b.size)) {
            const qint64 nat = g.at(next);
            if (nat + 4 <= b.size && le16(b.p + nat + 2) == k)
                ++links;
        }
    }
    const int fits = (b.size - g.headerSize) % g.blockSize == 0 ? 1 : 0;
    return {links, plausible, fits, stated ? 1 : 0, g.blockSize};
}

bool allZero(const unsigned char* p, int n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// A record's first fault a reader refuses, or an empty text.
QString recordFault(const Geometry& g, const unsigned char* rec) {
    if (allZero(rec, g.recordSize))
        return QStringLiteral("an empty slot: the block header counts more records than it holds");
    int off = 0;
    for (const FieldDef& f : g.fields) {
        if (f.type == FieldType::Time) {
            const Value v = codec::decodeField(f, rec + off);
            if (!v.isNull() && (v.msecs() < 0 || v.msecs() >= kMsPerDay))
                return QStringLiteral("a time of %1 ms in field %2, outside a day")
                    .arg(v.msecs())
                    .arg(QString::fromLatin1(f.name));
        }
        off += storageSize(f);
    }
    return {};
}

// Record counts of the data blocks as the table's primary index lists them, when an index
// keyed on the table's first field lies beside it, with the first key of each block.
std::map<int, IndexEntry> indexEntries(const QString& path, const FieldDef& key) {
    std::map<int, IndexEntry> entries;
    for (const QString& px : indexPathsFor(path)) {
        if (!QFileInfo::exists(px))
            continue;
        const Result<PrimaryIndex> idx = readPrimaryIndex(px);
        if (!idx || idx.value().levels.empty() || idx.value().keyField.type != key.type ||
            idx.value().keyField.size != key.size)
            break;
        for (const IndexEntry& e : idx.value().levels.back())
            entries[static_cast<int>(e.block)] = e;
        break;
    }
    return entries;
}

void addLoss(std::vector<SalvageLoss>& lost, std::int64_t position, int block, const QString& why) {
    if (!lost.empty() && lost.back().last + 1 == position && lost.back().block == block &&
        lost.back().why == why) {
        lost.back().last = position;
        return;
    }
    lost.push_back({position, position, block, why});
}

Result<SalvagedRecords> salvageBytes(const Bytes& b, const QString& path,
                                     const std::vector<std::vector<FieldDef>>& known) {
    const QString shown = QDir::toNativeSeparators(path);
    if (b.size < kCommonHeader)
        return fail(QStringLiteral("Nothing can be salvaged from %1: it is shorter than a table "
                                   "header")
                        .arg(shown));
    std::optional<Layout> layout = findLayout(b, known);
    if (!layout)
        return fail(QStringLiteral("Nothing can be salvaged from %1: no list of fields can be "
                                   "read from it")
                        .arg(shown));
    SalvagedRecords out;
    out.repairs = layout->repairs;

    const int fileType = b.u8(0x04);
    if (fileType != 0 && fileType != 2)
        out.repairs << QStringLiteral("file type %1 is not that of a table").arg(fileType);
    const bool v4 = kClasses[classOf(layout->versionId)].fieldInfoAt > kCommonHeader;
    const std::uint32_t encryption = v4 ? le32(b.p + 0x5C) : le32(b.p + 0x25);
    if (encryption != 0) {
        // A password leaves a checksum of four bytes; one stray byte is damage.
        const int set = (encryption & 0xFF ? 1 : 0) + (encryption & 0xFF00 ? 1 : 0) +
                        (encryption & 0xFF0000 ? 1 : 0) + (encryption & 0xFF000000 ? 1 : 0);
        if (set > 1)
            return fail(
                QStringLiteral("Nothing can be salvaged from %1: it is encrypted").arg(shown));
        out.repairs << QStringLiteral("a stray byte marks the table as encrypted");
    }

    // The geometry that fits the file best.
    const int statedRecord = b.u16(0x00);
    const int statedHeader = b.u16(0x02);
    const int statedFactor = b.u8(0x05);
    std::vector<std::vector<FieldDef>> fieldSets = {layout->fields};
    const int sum = sumOf(layout->fields);
    if (statedRecord != sum && !layout->known) {
        // Either the record size or one text field's size is wrong.
        for (std::size_t i = 0; i < layout->fields.size(); ++i) {
            const int size = layout->fields[i].size + statedRecord - sum;
            if (layout->fields[i].type == FieldType::Alpha && size >= 1 && size <= 255) {
                std::vector<FieldDef> other = layout->fields;
                other[i].size = size;
                fieldSets.push_back(other);
                break;
            }
        }
    }
    std::vector<qint64> headers;
    if (statedHeader >= layout->namesEnd && statedHeader < b.size)
        headers.push_back(statedHeader);
    for (qint64 h = (layout->namesEnd + 0x7FF) / 0x800 * 0x800; h <= 0x4000; h += 0x800) {
        if (h != statedHeader)
            headers.push_back(h);
    }
    std::optional<Geometry> best;
    Score bestScore{};
    for (const std::vector<FieldDef>& fields : fieldSets) {
        for (const qint64 h : headers) {
            for (const int factor : kFactors) {
                Geometry g{h, factor * 1024, sumOf(fields), fields};
                if (g.recordSize > g.blockSize - 6 || h >= b.size)
                    continue;
                const bool stated =
                    factor == statedFactor && h == statedHeader && g.recordSize == statedRecord;
                const Score s = scoreOf(b, g, stated);
                if (!best || s > bestScore) {
                    best = g;
                    bestScore = s;
                }
            }
        }
    }
    if (!best)
        return fail(QStringLiteral("Nothing can be salvaged from %1: its records do not fit any "
                                   "block size")
                        .arg(shown));
    const Geometry& g = *best;
    if (g.recordSize != statedRecord)
        out.repairs << QStringLiteral("the header gives a record size of %1; the fields take %2")
                           .arg(statedRecord)
                           .arg(g.recordSize);
    for (std::size_t i = 0; i < g.fields.size(); ++i) {
        if (g.fields[i].size != layout->fields[i].size)
            out.repairs << QStringLiteral(
                               "field %1 is said to take %2 bytes; the records give it %3")
                               .arg(QString::fromLatin1(g.fields[i].name))
                               .arg(layout->fields[i].size)
                               .arg(g.fields[i].size);
    }
    if (g.headerSize != statedHeader)
        out.repairs << QStringLiteral(
                           "the header gives a header size of %1; the blocks start at %2")
                           .arg(statedHeader)
                           .arg(g.headerSize);
    if (g.blockSize != statedFactor * 1024)
        out.repairs << QStringLiteral("block size code %1 does not fit; the blocks are %2 bytes")
                           .arg(statedFactor)
                           .arg(g.blockSize);

    TableInfo& info = out.info;
    info.fileVersionId = layout->versionId;
    info.version = layout->versionId >= 12   ? 7
                   : layout->versionId >= 10 ? 5
                   : layout->versionId >= 5  ? 4
                                             : 3;
    info.keyed = true;
    info.headerSize = static_cast<int>(g.headerSize);
    info.blockSize = g.blockSize;
    info.recordSize = g.recordSize;
    info.keyFieldCount = 1;
    info.codePage = v4 ? b.u16(0x6A) : 0;
    // Code pages tables are written in; any other number is damage, and the program's own
    // code page stands in.
    constexpr int kCodePages[] = {437,  737,  850,  852,  857,  860,  861,  863,  865,
                                  866,  874,  932,  936,  949,  950,  1250, 1251, 1252,
                                  1253, 1254, 1255, 1256, 1257, 1258, 65001};
    if (info.codePage != 0 && std::find(std::begin(kCodePages), std::end(kCodePages),
                                        info.codePage) == std::end(kCodePages)) {
        out.repairs << QStringLiteral("code page %1 is none a table is written in; 936 was taken")
                           .arg(info.codePage);
        info.codePage = 936;
    }
    info.fields = g.fields;

    // The chain, walked back to its start when the header points into it, then the blocks it
    // does not reach.
    const qint64 blocks = g.blocks(b.size);
    const int statedBlocks = b.u16(0x0C);
    const std::int64_t statedCount = static_cast<std::int32_t>(le32(b.p + 0x06));
    std::vector<bool> onChain(static_cast<std::size_t>(blocks) + 1);
    auto header = [&](qint64 k) { return g.at(k) + 6 <= b.size ? b.p + g.at(k) : nullptr; };
    int start = b.u16(0x0E);
    if (start < 1 || start > blocks)
        start = blocks > 0 ? 1 : 0;
    for (int steps = 0; start > 0 && steps < blocks; ++steps) {
        const unsigned char* h = header(start);
        const int prev = h ? le16(h + 2) : 0;
        const unsigned char* ph = prev >= 1 && prev <= blocks ? header(prev) : nullptr;
        if (!ph || le16(ph) != start)
            break;
        start = prev;
    }
    if (start != b.u16(0x0E) && blocks > 0)
        out.repairs << QStringLiteral("the header names block %1 as the first; the chain starts "
                                      "at block %2")
                           .arg(b.u16(0x0E))
                           .arg(start);
    std::vector<int> order;
    int next = start;
    bool broken = false;
    bool pastEnd = false; // the chain leads to a block the file no longer holds
    while (next != 0) {
        if (next > blocks || !header(next) || onChain[static_cast<std::size_t>(next)]) {
            broken = true;
            pastEnd = next > blocks || !header(next);
            out.repairs << (pastEnd ? QStringLiteral("the block chain leads to block %1, "
                                                     "beyond the end of the file")
                                    : QStringLiteral("the block chain breaks at block %1"))
                               .arg(next);
            break;
        }
        onChain[static_cast<std::size_t>(next)] = true;
        order.push_back(next);
        next = le16(header(next));
    }
    std::vector<int> claims(static_cast<std::size_t>(blocks) + 1, 0);
    std::int64_t claimed = 0;
    for (const int k : order) {
        claims[static_cast<std::size_t>(k)] = std::max(0, g.claim(le16s(header(k) + 4)));
        claimed += claims[static_cast<std::size_t>(k)];
    }
    if (broken || static_cast<qint64>(order.size()) < std::min<qint64>(statedBlocks, blocks) ||
        claimed < statedCount) {
        QStringList off;
        for (qint64 k = 1; k <= blocks; ++k) {
            const unsigned char* h = header(k);
            if (onChain[static_cast<std::size_t>(k)] || !h || allZero(h, 6) || le16s(h + 4) < 0)
                continue;
            order.push_back(static_cast<int>(k));
            off << QString::number(k);
        }
        if (!off.isEmpty())
            out.repairs << QStringLiteral("blocks %1 are not on the block chain; their records "
                                          "were read too")
                               .arg(off.join(QLatin1String(", ")));
    }

    // How many records each block holds: its header's word, unless the index says otherwise
    // or the word is one no block can hold.
    const std::map<int, IndexEntry> listed = indexEntries(path, g.fields.front());
    const int perBlock = g.perBlock();
    auto slot = [&](int block, int i) -> const unsigned char* {
        const qint64 at = g.at(block) + 6 + static_cast<qint64>(i) * g.recordSize;
        return at + g.recordSize <= b.size ? b.p + at : nullptr;
    };
    // Slots past a block's records hold zeros: the count down to `least` that leaves none.
    auto trimmed = [&](int block, int n, int least) {
        while (n > least) {
            const unsigned char* rec = slot(block, n - 1);
            if (rec && !allZero(rec, g.recordSize))
                break;
            --n;
        }
        return n;
    };
    std::vector<int> counts;
    std::vector<bool> sure;
    std::int64_t total = 0;
    for (const int k : order) {
        const int add = le16s(header(k) + 4);
        const int claimed = g.claim(add);
        int n = claimed;
        // The index speaks for a block only when it names the block's first key.
        const auto it = listed.find(k);
        const bool indexed = it != listed.end() && it->second.count <= std::uint32_t(perBlock) &&
                             slot(k, 0) &&
                             std::memcmp(slot(k, 0), it->second.key.constData(),
                                         static_cast<std::size_t>(it->second.key.size())) == 0;
        const int listedCount = indexed ? static_cast<int>(it->second.count) : -1;
        if (indexed && listedCount != claimed) {
            // Of the two counts, the larger where its slots hold records.
            n = claimed < 0
                    ? listedCount
                    : trimmed(k, std::max(claimed, listedCount), std::min(claimed, listedCount));
            out.repairs << QStringLiteral("block %1 claims %2 records, the index lists %3; "
                                          "it holds %4")
                               .arg(k)
                               .arg(claimed < 0 ? QStringLiteral("more") : QString::number(claimed))
                               .arg(listedCount)
                               .arg(n);
        } else if (n < 0) {
            out.repairs << QStringLiteral("block %1 claims %2 bytes of records, more than a block "
                                          "holds; its slots were read one by one")
                               .arg(k)
                               .arg(add + g.recordSize);
            n = trimmed(k, perBlock, 0);
        }
        sure.push_back(indexed || claimed < 0);
        counts.push_back(n);
        total += n;
    }
    // A header that counts more records than the blocks say: records past a block's count
    // are taken while they read.
    if (statedCount > total && statedCount <= static_cast<std::int64_t>(blocks) * perBlock) {
        for (std::size_t i = 0; i < order.size() && total < statedCount; ++i) {
            if (sure[i])
                continue;
            int& n = counts[i];
            const int claimedHere = n;
            while (n < perBlock && total < statedCount) {
                const qint64 at = g.at(order[i]) + 6 + static_cast<qint64>(n) * g.recordSize;
                if (at + g.recordSize > b.size || !recordFault(g, b.p + at).isEmpty())
                    break;
                ++n;
                ++total;
            }
            if (n != claimedHere)
                out.repairs << QStringLiteral("block %1 claims %2 records; it holds %3 (the "
                                              "header's count)")
                                   .arg(order[i])
                                   .arg(claimedHere)
                                   .arg(n);
        }
    }

    // The records, position by position.
    std::int64_t position = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const qint64 blockAt = g.at(order[i]);
        for (int s = 0; s < counts[i]; ++s) {
            ++position;
            const qint64 at = blockAt + 6 + static_cast<qint64>(s) * g.recordSize;
            if (at + g.recordSize > b.size) {
                addLoss(out.lost, position, order[i],
                        QStringLiteral("the file ends before the end of the record"));
                continue;
            }
            const QString fault = recordFault(g, b.p + at);
            if (!fault.isEmpty()) {
                addLoss(out.lost, position, order[i], fault);
                continue;
            }
            out.records.append(reinterpret_cast<const char*>(b.p + at), g.recordSize);
            out.positions.push_back(position);
        }
    }
    // Blocks the chain led to past the end of the file took their records with them.
    if (pastEnd && statedCount > position) {
        out.lost.push_back({position + 1, statedCount, next,
                            QStringLiteral("the file ends before the block that held them")});
        position = statedCount;
    }
    if (statedCount != position)
        out.repairs << QStringLiteral("the header counts %1 records; the blocks hold %2")
                           .arg(statedCount)
                           .arg(position);
    info.recordCount = out.count();
    info.fileBlocks = static_cast<int>(blocks);
    return out;
}

} // namespace

Result<SalvagedRecords> readDamagedTable(const QString& path,
                                         const std::vector<std::vector<FieldDef>>& known) {
    const QString shown = QDir::toNativeSeparators(path);
    Result<int> fd = openRegularFile(path, O_RDONLY, QStringLiteral("Cannot open table file"));
    if (!fd)
        return fail(fd.error());
    QFile file;
    if (!file.open(fd.value(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return fail(QStringLiteral("Cannot open table file %1: %2").arg(shown, file.errorString()));
    QByteArray whole;
    Bytes b;
    b.size = file.size();
    b.p = b.size > 0 ? file.map(0, b.size) : nullptr;
    if (!b.p) {
        whole = file.readAll();
        if (whole.size() != b.size)
            return fail(
                QStringLiteral("Cannot read table file %1: %2").arg(shown, file.errorString()));
        b.p = reinterpret_cast<const unsigned char*>(whole.constData());
    }
    return salvageBytes(b, path, known);
}

QString salvagedPathFor(const QString& path) {
    // Beside the table, named as the table was given (a bare name stays bare).
    const QFileInfo fi(path);
    return path.left(path.size() - fi.fileName().size()) + fi.completeBaseName() +
           QStringLiteral("-salvaged.db");
}

Result<SalvageReport> salvageTable(const QString& path, bool replace,
                                   const std::vector<std::vector<FieldDef>>& known,
                                   WriteOptions with) {
    SalvageReport report;
    report.source = path;
    report.target = salvagedPathFor(path);
    const QString shownTarget = QDir::toNativeSeparators(report.target);
    const Result<WriteTarget> target = checkWriteTarget(report.target);
    if (!target)
        return fail(target.error());
    if (target.value().exists && !replace)
        return fail(QStringLiteral("%1 already exists (an earlier salvage?); move it away or let "
                                   "the salvage replace it")
                        .arg(shownTarget));
    // Nobody writes the damaged file while it is read, nor uses the salvaged one it replaces.
    Result<std::unique_ptr<TableLock>> source = TableLock::acquire(path);
    if (!source)
        return fail(source.error());
    std::unique_ptr<TableLock> old;
    if (target.value().exists) {
        Result<std::unique_ptr<TableLock>> held = TableLock::acquire(report.target);
        if (!held)
            return fail(held.error());
        old = held.take();
    }
    Result<SalvagedRecords> read = readDamagedTable(path, known);
    if (!read)
        return fail(read.error());
    SalvagedRecords& s = read.value();
    const int rs = s.info.recordSize;
    const int keySize = storageSize(s.info.fields.front());
    // The records in key order, each key once: the first record holding it stays. Handed to
    // the writer in that order, they are written in one pass.
    const auto* base = reinterpret_cast<const unsigned char*>(s.records.constData());
    auto keyOf = [&](std::size_t i) { return base + i * static_cast<std::size_t>(rs); };
    const auto keyBytes = static_cast<std::size_t>(keySize);
    std::vector<std::size_t> rows(s.positions.size());
    std::iota(rows.begin(), rows.end(), std::size_t{0});
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
        return std::memcmp(keyOf(a), keyOf(b), keyBytes) < 0;
    });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (kept > 0 && std::memcmp(keyOf(rows[kept - 1]), keyOf(rows[i]), keyBytes) == 0) {
            const FieldDef& key = s.info.fields.front();
            const std::int64_t at = s.positions[rows[i]];
            s.lost.push_back(
                {at, at, 0,
                 QStringLiteral("its %1 %2 is held by a record before it")
                     .arg(QString::fromLatin1(key.name),
                          QString::fromLatin1(codec::decodeField(key, keyOf(rows[i])).toText()))});
            continue;
        }
        rows[kept++] = rows[i];
    }
    rows.resize(kept);
    std::sort(s.lost.begin(), s.lost.end(),
              [](const SalvageLoss& a, const SalvageLoss& b) { return a.first < b.first; });
    WriteOptions options = std::move(with);
    if (s.info.codePage > 0)
        options.codePage = s.info.codePage;
    const Status written = writeKeyedTableStored(
        report.target, s.info.fields, rows.size(),
        [&](std::size_t row, unsigned char* record, std::size_t fields) {
            // Only the fields asked for: the keys are gathered into a buffer of their own size.
            std::size_t bytes = 0;
            for (std::size_t i = 0; i < fields && i < s.info.fields.size(); ++i)
                bytes += static_cast<std::size_t>(storageSize(s.info.fields[i]));
            std::memcpy(record, s.records.constData() + static_cast<qsizetype>(rows[row]) * rs,
                        bytes);
            return Status();
        },
        options);
    if (!written)
        return fail(written.error());
    report.kept = static_cast<std::int64_t>(rows.size());
    for (const SalvageLoss& l : s.lost)
        report.leftOut += l.last - l.first + 1;
    report.lost = std::move(s.lost);
    report.repairs = std::move(s.repairs);
    return report;
}

} // namespace kx::px
