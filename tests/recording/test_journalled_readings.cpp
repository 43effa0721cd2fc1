// A reader of a file that a recording holds reads the journal beside it and the file at two
// moments; a checkpoint or the end of the recording between the two must neither lose nor
// repeat a reading.
#include "recording/journalled_readings.h"
#include "support/journal_scene.h"

#include <gtest/gtest.h>

#include <utility>

using namespace kx;
using namespace kxtest;

TEST(JournalledReadings, AReaderBetweenTheRecordersStepsSeesEveryReadingOnce) {
    using State = JournalledReadings::State;
    struct Case {
        const char* name;
        Status (*between)(RecordingKeeper&); // after the journal was read, before the file
        State state;
    };
    const Case cases[] = {
        {"nothing", [](RecordingKeeper&) { return Status(); }, State::Recording},
        {"a checkpoint", [](RecordingKeeper& k) { return k.checkpoint(); }, State::Recording},
        {"the end of the recording", [](RecordingKeeper& k) { return k.finish(); }, State::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JournalScene scene(Journal::Running);
        ReadingsTable table;
        table.setTableName(scene.table);
        bool first = true;
        const Result<JournalledReadings> j =
            openWithJournal(scene.table, QDateTime::currentDateTime(),
                            [&](const JournalledReadings&) -> Result<qint64> {
                                if (std::exchange(first, false)) {
                                    if (Status s = c.between(*scene.keeper); !s)
                                        return fail(s.error());
                                }
                                table.close();
                                if (Status s = table.openUnheld(); !s)
                                    return fail(s.error());
                                return table.rowCount();
                            });
        ASSERT_TRUE(j.ok()) << j.error().toStdString();
        EXPECT_EQ(j.value().state, c.state);
        EXPECT_EQ(table.rowCount() + static_cast<qint64>(j.value().shown.size()),
                  kInFile + kJournalled);
    }
}
