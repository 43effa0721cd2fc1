#include "reports/ui/about_box.h"

#include "common/ui/window_fonts.h"
#include "reports/ui/clickable_label.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Resource registration has to happen outside any namespace.
static void registerAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace kx {
namespace {

// The colour the desktop's classic scheme gives the text of inactive captions, which the box
// takes as its background.
const QColor kInactiveCaptionText(212, 208, 200);

QPixmap picture(int width, int height) {
    QPixmap p(width, height);
    p.fill(Qt::transparent);
    QSvgRenderer svg(QStringLiteral(":/about/tester.svg"));
    QPainter painter(&p);
    svg.render(&painter, QRectF(0, 0, width, height)); // stretched to the box
    return p;
}

ClickableLabel* label(QWidget* parent, const char* name, const QString& text, const QFont& font,
                      const QColor& colour, const QRect& geometry) {
    auto* l = new ClickableLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setText(text);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    l->setGeometry(geometry);
    return l;
}

QFont boldItalic(int pixels) {
    QFont f = arial(pixels, true);
    f.setItalic(true);
    return f;
}

} // namespace

QString TFrmAbout::version() {
    return QStringLiteral(KX_VERSION);
}

TFrmAbout::TFrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    static const bool registered = [] {
        registerAboutResources();
        return true;
    }();
    (void)registered;
    setObjectName(QStringLiteral("FrmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowOpacity(kAlpha / 255.0);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kInactiveCaptionText);
    setPalette(pal);

    Label1 = label(this, "Label1", QStringLiteral("Varnex "), arial(96, true), QColor(255, 0, 255),
                   QRect(2, -6, 360, 112));

    Image2 = new ClickableLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(276, 4, 141, 101);
    Image2->setPixmap(picture(141, 101));

    Image1 = new ClickableLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(318, 104, 29, 29);
    Image1->setPixmap(picture(29, 29));

    Label2 = label(this, "Label2", QStringLiteral("Varnex Test Instruments"), boldItalic(16),
                   Qt::black, QRect(10, 106, 300, 22));
    StaticText1 = label(this, "StaticText1",
                        QStringLiteral("Version No. :") + version() +
                            QStringLiteral("   for KX20 / KX30 insulation testers"),
                        boldItalic(12), QColor(0, 128, 0), QRect(10, 134, 400, 18));
    StaticText4 = label(this, "StaticText4", QStringLiteral("Web:"), boldItalic(12), Qt::blue,
                        QRect(10, 156, 36, 18));
    QFont link = boldItalic(12);
    link.setUnderline(true);
    StaticText3 = label(this, "StaticText3", QStringLiteral("www.varnex.example"), link, Qt::blue,
                        QRect(48, 156, 200, 18));
    StaticText3->setCursor(Qt::PointingHandCursor);
    StaticText2 = label(this, "StaticText2",
                        QStringLiteral("This program is protected by copyright. Copying or "
                                       "passing on the program or any part of it without the "
                                       "maker's permission is not allowed."),
                        arial(11), Qt::red, QRect(10, 180, 401, 42));
    StaticText2->setWordWrap(true);
    StaticText2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(Label1, &ClickableLabel::clicked, this, &TFrmAbout::Label1Click);
    connect(Label2, &ClickableLabel::clicked, this, &TFrmAbout::Label2Click);
    connect(StaticText1, &ClickableLabel::clicked, this, &TFrmAbout::StaticText1Click);
    connect(StaticText2, &ClickableLabel::clicked, this, &TFrmAbout::StaticText2Click);
    connect(Image2, &ClickableLabel::clicked, this, &TFrmAbout::Image2Click);
    // Image1, StaticText3 and StaticText4 take their clicks and do nothing.
}

void TFrmAbout::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void TFrmAbout::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        FormClick();
}

} // namespace kx
