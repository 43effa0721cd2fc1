// Input: a recording journal as a crashed run may leave it (the window's, or one beside a
// recording's table file): cut short, damaged or foreign.
#include "recording/recording_journal.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kx::JournalContents c =
        kx::parseJournal(QByteArrayView(data, static_cast<qsizetype>(size)));
    if (!c.recognised && !c.readings.empty())
        __builtin_trap();
    if (c.damagedLines < 0)
        __builtin_trap();
    // The table a journal follows has a count of records, never a negative one.
    if (c.base && c.base->records < 0)
        __builtin_trap();
    // Each damaged line is named with the reading it followed; a lost mark is a number.
    if (c.damagedAfter.size() != static_cast<std::size_t>(c.damagedLines) ||
        (c.lostFrom && *c.lostFrom < 0))
        __builtin_trap();
    // Each is told once: the line cut short where the journal stopped is the lost mark's.
    const std::int32_t last = c.readings.empty() ? 0 : c.readings.back().no;
    std::size_t told = c.lostFrom ? 1 : 0;
    for (const std::int32_t no : c.damagedAfter)
        told += c.lostFrom && no == last && *c.lostFrom > last ? 0 : 1;
    if (kx::unrecoveredStretches(c).size() != told)
        __builtin_trap();
    for (const kx::RecordingJournal::Reading& r : c.readings) {
        // A time of day, when there is one.
        if (r.msOfDay && (*r.msOfDay < 0 || *r.msOfDay >= 86400000))
            __builtin_trap();
    }
    return 0;
}
