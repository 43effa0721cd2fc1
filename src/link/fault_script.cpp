#include "link/fault_script.h"

#include <QRegularExpression>

#include <algorithm>

namespace kx {
namespace {

constexpr LinkFault::Kind kKinds[] = {LinkFault::Kind::Silent, LinkFault::Kind::Unplug,
                                      LinkFault::Kind::Damaged};

// Seconds as written ("5", "2.5", "0.125") in microseconds; nothing when the text is not a
// plain decimal number or lies beyond kMaxSeconds.
std::optional<std::int64_t> microseconds(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^([0-9]{1,9})(?:\\.([0-9]{1,6}))?$"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const std::int64_t whole = m.captured(1).toLongLong();
    if (whole > FaultScript::kMaxSeconds)
        return std::nullopt;
    const QString fraction = m.captured(2).leftJustified(6, QLatin1Char('0'));
    return whole * 1000000 + fraction.toLongLong();
}

bool overlaps(const std::vector<LinkFault>& faults, const LinkFault& f) {
    return std::any_of(faults.begin(), faults.end(), [&](const LinkFault& g) {
        return g.kind == f.kind && f.startUs < g.endUs() && g.startUs < f.endUs();
    });
}

} // namespace

QString FaultScript::kindName(LinkFault::Kind kind) {
    switch (kind) {
    case LinkFault::Kind::Silent:
        return QStringLiteral("silent");
    case LinkFault::Kind::Unplug:
        return QStringLiteral("unplug");
    case LinkFault::Kind::Damaged:
        return QStringLiteral("damaged");
    }
    return {};
}

FaultScript& FaultScript::operator=(const FaultScript& other) {
    if (this != &other) {
        std::vector<LinkFault> copy = other.faults();
        const std::lock_guard lock(mutex_);
        faults_ = std::move(copy);
    }
    return *this;
}

Result<FaultScript> FaultScript::parse(const QString& text) {
    const QString usage =
        QStringLiteral("; a fault is KIND@START+LENGTH in seconds, KIND one of silent, unplug, "
                       "damaged (for example unplug@5+3,silent@20+30)");
    if (text.trimmed().isEmpty())
        return fail(QStringLiteral("The fault script is empty") + usage);
    FaultScript script;
    for (const QString& raw : text.split(QLatin1Char(','))) {
        const QString item = raw.trimmed();
        const auto bad = [&](const QString& why) {
            return fail(QStringLiteral("Bad fault '%1': %2").arg(item, why) + usage);
        };
        if (item.isEmpty())
            return bad(QStringLiteral("an empty item"));
        const qsizetype at = item.indexOf(QLatin1Char('@'));
        const qsizetype plus = item.indexOf(QLatin1Char('+'), at + 1);
        if (at < 0 || plus < 0)
            return bad(QStringLiteral("it lacks '@' or '+'"));
        const QString kindText = item.left(at);
        LinkFault f;
        const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                        [&](LinkFault::Kind k) { return kindName(k) == kindText; });
        if (kind == std::end(kKinds))
            return bad(QStringLiteral("unknown kind '%1'").arg(kindText));
        f.kind = *kind;
        const std::optional<std::int64_t> start = microseconds(item.mid(at + 1, plus - at - 1));
        const std::optional<std::int64_t> length = microseconds(item.mid(plus + 1));
        if (!start)
            return bad(QStringLiteral("the start is not a number of seconds"));
        if (!length)
            return bad(QStringLiteral("the length is not a number of seconds"));
        if (*length <= 0)
            return bad(QStringLiteral("the length must be above 0"));
        f.startUs = *start;
        f.lengthUs = *length;
        if (f.endUs() > kMaxSeconds * 1000000)
            return bad(QStringLiteral("it ends too late"));
        if (!script.add(f))
            return bad(QStringLiteral("it overlaps another %1 fault").arg(kindText));
    }
    return script;
}

bool FaultScript::active(LinkFault::Kind kind, std::int64_t tUs) const {
    const std::lock_guard lock(mutex_);
    return std::any_of(faults_.begin(), faults_.end(),
                       [&](const LinkFault& f) { return f.kind == kind && f.covers(tUs); });
}

bool FaultScript::add(const LinkFault& fault) {
    const std::lock_guard lock(mutex_);
    if (fault.lengthUs <= 0 || overlaps(faults_, fault))
        return false;
    faults_.push_back(fault);
    return true;
}

std::vector<LinkFault> FaultScript::faults() const {
    const std::lock_guard lock(mutex_);
    return faults_;
}

} // namespace kx
