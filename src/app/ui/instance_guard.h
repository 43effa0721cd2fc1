#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace kx {

// One window of the program for one program folder: the tables, the settings file and the
// recording journals there belong to one window at a time. The first window listens under a
// name made from the folder; a second start finds it there, says that the program is already
// running and asks it to come forward instead of starting half-way.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit InstanceGuard(const QString& folder, QObject* parent = nullptr);

    // Listens for later starts, unless a window of the program already runs on the folder:
    // false then.
    bool claim();
    // Asks the window that runs on the folder to come forward; false when none answered.
    bool bringOtherForward() const;
    const QString& serverName() const { return name_; }

    // "The program is already running..." for the folder.
    static QString runningMessage(const QString& folder);

Q_SIGNALS:
    // A later start asked this window to come forward.
    void forwardRequested();

private:
    bool otherAnswers() const;

    QString name_;
    QLocalServer server_;
};

} // namespace kx
