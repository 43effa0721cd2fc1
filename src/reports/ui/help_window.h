#pragma once

#include <QTextBrowser>
#include <QWidget>

class QToolButton;

namespace kx {

// The manual's pages in a text browser. A page that cannot be read is replaced by a page
// that says so, naming the file and the reason, the way a help viewer reports a missing
// help file: nothing pops up elsewhere.
class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;
};

// The program's own help viewer: the manual with Back, Forward and Contents. It is shown
// beside the main window and never waited for.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the contents page of the manual whose first page is `indexPath`, read afresh.
    void showContents(const QString& indexPath);

    HelpBrowser* browser() const { return browser_; }
    // The text of a page that reports an unreadable file; tests look for it.
    static QString unreadableTitle() { return QStringLiteral("The help file cannot be opened"); }

public Q_SLOTS:
    void goContents();

private:
    HelpBrowser* browser_ = nullptr;
    QToolButton* contents_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    QUrl contentsUrl_;
};

} // namespace kx
