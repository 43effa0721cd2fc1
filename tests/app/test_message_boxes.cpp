// The real message boxes, shown offscreen and answered with the keyboard and the close box.
#include "common/ui/message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace kx;

namespace {

using Answer = MessageBoxes::SaveAnswer;

// Answers the next message box once it is shown, the way a person would.
void whenShown(const std::function<void(QMessageBox*)>& act) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(box);
    });
    poll->start();
}

void press(QMessageBox* box, Qt::Key key) {
    QTest::keyClick(box, key);
}
void closeBox(QMessageBox* box) {
    box->close();
}
void click(QMessageBox::StandardButton which, QMessageBox* box) {
    box->button(which)->click();
}

const QString kWarning = QStringLiteral(" Warning:all Records will be deleted! ");
const QString kFile = QStringLiteral("/data/site 4/readings.db");

} // namespace

TEST(RealMessageBoxes, DeletionIsConfirmedOnlyByOk) {
    DialogMessageBoxes boxes;
    const struct {
        const char* how;
        std::function<void(QMessageBox*)> act;
        bool deletes;
    } cases[] = {
        {"Escape", [](QMessageBox* b) { press(b, Qt::Key_Escape); }, false},
        {"Enter (the default button)", [](QMessageBox* b) { press(b, Qt::Key_Return); }, false},
        {"the close box", closeBox, false},
        {"Cancel", [](QMessageBox* b) { click(QMessageBox::Cancel, b); }, false},
        {"OK", [](QMessageBox* b) { click(QMessageBox::Ok, b); }, true},
    };
    for (const auto& c : cases) {
        QString shown;
        whenShown([&](QMessageBox* b) {
            shown = b->text();
            c.act(b);
        });
        EXPECT_EQ(boxes.confirmDeletion(nullptr, kWarning, kFile), c.deletes) << c.how;
        EXPECT_EQ(shown, kWarning + "\n" + kFile) << "the file on a line of its own";
    }
}

TEST(RealMessageBoxes, SaveQuestionCancelsUnlessSaveOrDiscardIsChosen) {
    DialogMessageBoxes boxes;
    const struct {
        const char* how;
        std::function<void(QMessageBox*)> act;
        Answer answer;
    } cases[] = {
        {"Escape", [](QMessageBox* b) { press(b, Qt::Key_Escape); }, Answer::Cancel},
        {"Enter (the default button)", [](QMessageBox* b) { press(b, Qt::Key_Return); },
         Answer::Cancel},
        {"the close box", closeBox, Answer::Cancel},
        {"Save", [](QMessageBox* b) { click(QMessageBox::Save, b); }, Answer::Save},
        {"Discard", [](QMessageBox* b) { click(QMessageBox::Discard, b); }, Answer::Discard},
    };
    const QString question = QStringLiteral("Save the 3 readings recorded since the last save?");
    for (const auto& c : cases) {
        whenShown(c.act);
        EXPECT_EQ(boxes.askToSave(nullptr, question), c.answer) << c.how;
    }
}
