#pragma once

#include "app/app_session.h"
#include "app/session_fixture.h"
#include "app/ui/main_window.h"
#include "assets/ui/asset_dialogs.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "common/ui/progress_dialogs.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"
#include "support/wait_for.h"

#include "support/table_files.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kxtest {

// Message boxes that answer at once and remember what they were shown.
class RecordedBoxes : public kx::MessageBoxes {
public:
    struct Shown {
        // "information", "warning", "error", "confirm", "plain", "delete" (OK or Cancel before
        // records are deleted), "save" (Save, Discard or Cancel)
        std::string kind;
        QString text;
        QString file; // the file a "delete" box names
    };

    void information(QWidget*, const QString& text) override { note("information", text); }
    void warning(QWidget*, const QString& text) override { note("warning", text); }
    void error(QWidget*, const QString& text) override { note("error", text); }
    bool confirm(QWidget*, const QString& text) override {
        note("confirm", text);
        return confirmAnswer;
    }
    void plain(QWidget*, const QString& text) override { note("plain", text); }
    bool confirmDeletion(QWidget*, const QString& text, const QString& file) override {
        note("delete", text, file);
        return deleteAnswer;
    }
    SaveAnswer askToSave(QWidget*, const QString& text) override {
        note("save", text);
        const SaveAnswer given = saveAnswer;
        // What happens while the question is open (readings arriving), once.
        if (const std::function<void()> open = std::exchange(whileAsking, nullptr))
            open();
        return given;
    }

    void note(const char* kind, const QString& text, const QString& file = {}) {
        shown.push_back(Shown{kind, text, file});
    }

    std::vector<Shown> shown;
    bool confirmAnswer = false;
    bool deleteAnswer = true;
    SaveAnswer saveAnswer = SaveAnswer::Discard;
    std::function<void()> whileAsking;
};

// File dialogs that give the answers a test lined up (none: the user cancels) and remember
// what they were asked.
class ScriptedDialogs : public kx::FileDialogs {
public:
    std::optional<kx::FileDialogAnswer> openFile(QWidget*,
                                                 const kx::FileDialogRequest& r) override {
        return next(r);
    }
    std::optional<kx::FileDialogAnswer> saveFile(QWidget*,
                                                 const kx::FileDialogRequest& r) override {
        return next(r);
    }

    std::vector<std::optional<kx::FileDialogAnswer>> answers;
    std::vector<kx::FileDialogRequest> asked;

private:
    std::optional<kx::FileDialogAnswer> next(const kx::FileDialogRequest& r) {
        asked.push_back(r);
        if (answers.empty() || !answers.front()) {
            if (!answers.empty())
                answers.erase(answers.begin());
            return std::nullopt;
        }
        const kx::FileDialogAnswer a = *answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

// Progress that a test watches and may cancel once `cancelAt` steps are done.
class ScriptedProgress : public kx::ProgressDialogs {
public:
    struct Reporter : kx::ProgressReporter {
        explicit Reporter(ScriptedProgress& owner) : owner_(owner) {}
        bool update(qint64 done, qint64 total) override {
            owner_.updates.push_back({done, total});
            return owner_.cancelAt < 0 || done < owner_.cancelAt;
        }
        ScriptedProgress& owner_;
    };
    std::unique_ptr<kx::ProgressReporter> begin(QWidget*, const QString& label) override {
        labels.push_back(label);
        return std::make_unique<Reporter>(*this);
    }

    std::vector<QString> labels;
    std::vector<std::pair<qint64, qint64>> updates;
    qint64 cancelAt = -1;
};

// The asset dialogs answered by the test: each answer lined up is given once (none: the user
// cancels); what was asked is kept.
class ScriptedAssetDialogs : public kx::AssetDialogs {
public:
    std::optional<kx::Asset> askAsset(QWidget*, const kx::Asset& start) override {
        assetsAsked.push_back(start);
        return take(assets);
    }
    std::optional<kx::FilingChoice> askFiling(QWidget*, const kx::FilingQuestion& q) override {
        filingsAsked.push_back(q);
        return take(filings);
    }
    std::optional<QString> askDatabase(QWidget*, const QString& current) override {
        databasesAsked.push_back(current);
        return take(databases);
    }

    std::vector<std::optional<kx::Asset>> assets;
    std::vector<std::optional<kx::FilingChoice>> filings;
    std::vector<std::optional<QString>> databases;
    std::vector<kx::Asset> assetsAsked;
    std::vector<kx::FilingQuestion> filingsAsked;
    std::vector<QString> databasesAsked;

private:
    template <typename T> static std::optional<T> take(std::vector<std::optional<T>>& from) {
        if (from.empty())
            return std::nullopt;
        std::optional<T> a = from.front();
        from.erase(from.begin());
        return a;
    }
};

using kx::test::waitUntil;

// A session on its own table copies, and its window with boxes and dialogs answered by the
// test. A fixture that prints hands its printer dialogs to the constructor.
struct WindowTest : ::testing::Test {
    explicit WindowTest(kx::PrinterDialogs* printers = nullptr) : printers_(printers) {}

    TableFolder tables;
    RecordedBoxes boxes;
    ScriptedDialogs dialogs;
    ScriptedProgress progress;
    ScriptedAssetDialogs assetDialogs;
    kx::PrinterDialogs* printers_;
    std::shared_ptr<kx::SimHidBus> bus = std::make_shared<kx::SimHidBus>();
    // restart() builds the next session and window in the same places, so `session` and
    // `win` stay valid across it.
    std::optional<kx::AppSession> sessionSlot;
    std::optional<kx::TFrmTest> windowSlot;
    kx::AppSession& session = startSession();
    kx::TFrmTest& win = windowSlot.emplace(session, services());

    kx::UiServices services() { return {&boxes, &dialogs, &progress, printers_, &assetDialogs}; }
    kx::AppSession& startSession() {
        kx::AppSession& s = sessionSlot.emplace(tables.setup(bus));
        // Frames fed by a test arrive faster than the link's two a second; let each one
        // through as if half a second had passed.
        s.throttle().setClock([t = std::int64_t{0}]() mutable { return t += 500; });
        return s;
    }
    // Ends the window and its session (one device controller at a time) and starts the
    // program again on the same folder, with `settings` as its settings file when given.
    void restart(const QByteArray& settings = {}) {
        windowSlot.reset();
        sessionSlot.reset();
        if (!settings.isNull()) {
            EXPECT_TRUE(putFile(tables.settingsPath(), settings));
        }
        startSession();
        windowSlot.emplace(session, services());
    }

    template <typename T = QWidget> T* find(const char* name, QObject* in = nullptr) {
        auto* x = (in ? in : &win)->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(x, nullptr) << name;
        return x;
    }
    void answer(const QString& file, int filter = 0) {
        dialogs.answers.push_back(kx::FileDialogAnswer{file, filter});
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> out;
        for (const RecordedBoxes::Shown& s : boxes.shown)
            out.push_back(s.kind);
        return out;
    }
    // A left click on `w` as the mouse gives it.
    static void click(QWidget* w) {
        const QPointF at = QPointF(w->rect().center());
        QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }

    // The session decodes a frame showing each value, as the receiver hands frames over.
    void show(const std::string& value, kx::MeterUnit unit = kx::MeterUnit::None) {
        session.decodeFrame(frameShowing(value, unit));
    }
    void showReadings(int n, int first = 100, kx::MeterUnit unit = kx::MeterUnit::None) {
        for (int i = 0; i < n; ++i)
            show(std::to_string(first + i), unit);
    }

    // Plugs in the interface cable with the simulated meter running its demonstration script
    // on a virtual clock, waits until the window lists it and presses CONNECT.
    std::shared_ptr<kx::SimUsbSerialCable> connectDemoCable() {
        auto cable = std::make_shared<kx::SimUsbSerialCable>(
            std::make_unique<kx::SimulatedCable>(
                [script = kx::DemoScript()](std::int64_t t) { return script.frameAt(t); }),
            kx::CableClock::Virtual);
        bus->plug(cable);
        EXPECT_TRUE(waitUntil([&] { return session.link().devListSelection() == 0; }));
        win.Panel2Click();
        EXPECT_EQ(session.link().panel2Caption(), QStringLiteral("DISCONNECT"));
        return cable;
    }
    // Runs the cable for `us` of its time in steps the device's buffer holds, letting the
    // window take every report. A step ends when the device's queue is empty and the reading
    // thread waits for the next report: the hand-over is synchronous, so by then the window
    // has handled the last one.
    static void runCable(kx::SimUsbSerialCable& cable, std::int64_t us) {
        for (std::int64_t t = 0; t < us; t += 120000) {
            cable.advance(120000);
            EXPECT_TRUE(
                waitUntil([&] { return cable.queuedReports() == 0 && cable.waitingReads() > 0; }));
        }
    }

    // Sends a frame of 44 hexadecimal characters through the window's receiver the way the
    // cable delivers it: 7 bytes a report, then an empty report.
    void feed(const std::string& hex) {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        for (std::size_t i = 0; i < bytes.size(); i += 7) {
            std::uint8_t r[8] = {};
            const std::size_t n = std::min<std::size_t>(7, bytes.size() - i);
            r[0] = static_cast<std::uint8_t>(0xF0 | n);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), n, r + 1);
            session.receiver().ReadPw60(0, r, 8);
        }
        const std::uint8_t idle[8] = {0xF0};
        session.receiver().ReadPw60(0, idle, 8);
    }
};

} // namespace kxtest
