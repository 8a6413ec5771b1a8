#include "ui/Unit_About.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "TarvelVersion.h"

TAboutDlg* AboutDlg = nullptr;

namespace {

// Six lines fill the text block at its font; the version is the one the build was made from.
QString AboutText()
{
    return QStringLiteral("Tarvel\n"
                          "\n"
                          "A file manager for the handset\n"
                          "on the serial data link.\n"
                          "\n"
                          "Version %1, made with Qt.")
        .arg(QLatin1String(kTarvelVersion));
}

} // namespace

TAboutDlg::TAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("About"));
    setAccessibleName(windowTitle());
    setFixedSize(384, 179);
    setModal(true);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setAccessibleName(QStringLiteral("Frame"));
    Bevel1->setFrameShape(QFrame::Panel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 281, 161);

    Memo_About = new QLabel(AboutText(), this);
    Memo_About->setObjectName(QStringLiteral("Memo_About"));
    Memo_About->setAccessibleName(QStringLiteral("About Tarvel"));
    Memo_About->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Memo_About->setTextFormat(Qt::PlainText);
    Memo_About->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Memo_About->setAutoFillBackground(false);   // the dialog's own background
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    Memo_About->setFont(font);
    Memo_About->setGeometry(32, 40, 233, 105);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setAccessibleName(QStringLiteral("OK"));
    OKBtn->setGeometry(300, 8, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
