#include "reports/ui/help_window.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace kx {
namespace {

// Why a page file cannot be read, in the words of the file system.
QString unreadableReason(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("the file does not exist");
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
    if (!info.isFile())
        return QStringLiteral("it is not a file");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString();
    return {};
}

QString problemPage(const QString& path, const QString& reason) {
    return QStringLiteral("<html><body><h2>%1</h2><p><b>%2</b></p><p>Reason: %3.</p>"
                          "<p>The manual is installed with the program, as "
                          "<tt>help/index.html</tt> in the program's folder. Install the "
                          "program again, or copy the <tt>help</tt> folder back beside it.</p>"
                          "</body></html>")
        .arg(HelpWindow::unreadableTitle(), path.toHtmlEscaped(), reason.toHtmlEscaped());
}

QToolButton* button(QWidget* parent, const char* name, const QString& text,
                    QStyle::StandardPixmap icon) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setAutoRaise(true);
    return b;
}

} // namespace

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {
    setObjectName(QStringLiteral("HelpBrowser"));
    setOpenExternalLinks(true);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
    if (type == QTextDocument::HtmlResource && name.isLocalFile()) {
        const QString path = name.toLocalFile();
        if (const QString reason = unreadableReason(path); !reason.isEmpty())
            return problemPage(path, reason);
    }
    return QTextBrowser::loadResource(type, name);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("KX20_30 Interface Program - Help"));
    resize(780, 640);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 2, 4, 2);
    contents_ = button(this, "Contents", QStringLiteral("Contents"), QStyle::SP_DirHomeIcon);
    back_ = button(this, "Back", QStringLiteral("Back"), QStyle::SP_ArrowBack);
    forward_ = button(this, "Forward", QStringLiteral("Forward"), QStyle::SP_ArrowForward);
    back_->setEnabled(false);
    forward_->setEnabled(false);
    bar->addWidget(contents_);
    bar->addWidget(back_);
    bar->addWidget(forward_);
    bar->addStretch(1);
    layout->addLayout(bar);
    browser_ = new HelpBrowser(this);
    layout->addWidget(browser_, 1);

    connect(contents_, &QToolButton::clicked, this, &HelpWindow::goContents);
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("KX20_30 Interface Program - Help")
                                       : title);
    });
}

void HelpWindow::showContents(const QString& indexPath) {
    contentsUrl_ = QUrl::fromLocalFile(QFileInfo(indexPath).absoluteFilePath());
    goContents();
    show();
    raise();
    activateWindow();
}

void HelpWindow::goContents() {
    // The file may have been put back or changed since it was last shown: read it again.
    if (browser_->source() == contentsUrl_)
        browser_->reload();
    else
        browser_->setSource(contentsUrl_);
}

} // namespace kx
