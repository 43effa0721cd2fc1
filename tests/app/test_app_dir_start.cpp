// An installed program starts in the user's data folder: the window's start-up fills it from
// the installed templates before it opens the live table there, and says so when it cannot.
#include "app/window_fixture.h"
#include "readings/readings_table.h"

#include <QDir>
#include <QFileInfo>

using namespace kx;

namespace {

// bin/ without a settings file, share/kxlink/ with the build's templates, an empty home.
struct InstalledStart : ::testing::Test {
    QTemporaryDir root;
    QString bin = root.filePath("usr/bin");
    QString templates = root.filePath("usr/share/kxlink");
    QString data = root.filePath("home/.local/share/kxlink");
    kxtest::RecordedBoxes boxes;

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(bin));
        ASSERT_TRUE(QDir().mkpath(templates));
        for (const char* name : {"Pw60bdb.DB", "pw60SD.DB", "myseriesini.ini"}) {
            ASSERT_TRUE(
                QFile::copy(QStringLiteral(KX_BUILD_DIR "/") + name, templates + "/" + name))
                << name;
        }
    }

    // A session whose tables are the data folder's default ones.
    std::unique_ptr<AppSession> session(const QString& templatesDir) {
        SessionSetup s;
        s.platform = std::make_shared<SimHidBus>();
        s.places = AppDirPlaces{bin, data, templatesDir};
        s.liveTable = data + "/Pw60bdb.DB";
        s.storeTable = data + "/pw60SD.DB";
        return std::make_unique<AppSession>(s);
    }
};

} // namespace

TEST_F(InstalledStart, TheWindowFillsTheDataFolderAndOpensTheLiveTableThere) {
    auto s = session(templates);
    EXPECT_EQ(s->AppDir, data + "/");
    TFrmTest win(*s, UiServices{&boxes, nullptr});
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text.toStdString();
    for (const char* name : {"Pw60bdb.DB", "pw60SD.DB", "myseriesini.ini"})
        EXPECT_TRUE(QFileInfo::exists(data + "/" + name)) << name;
    EXPECT_TRUE(s->liveTable().isOpen());
    EXPECT_TRUE(s->liveIsScratch());
}

TEST_F(InstalledStart, MissingTemplatesEndTheProgramWithTheirMessage) {
    const QString gone = root.filePath("usr/share/nothing");
    auto s = session(gone);
    TFrmTest win(*s, UiServices{&boxes, nullptr});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "warning");
    EXPECT_TRUE(boxes.shown[0].text.contains(gone)) << boxes.shown[0].text.toStdString();
    // As for a missing settings file: said, and the program ends instead of opening a window
    // that can do nothing.
    EXPECT_TRUE(win.startUpEnded());
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(s->liveTable().isOpen());
}
