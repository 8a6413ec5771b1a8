#include "ui/Unit_Progress.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

TForm_Progress* Form_Progress = nullptr;

TForm_Progress::TForm_Progress(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form_Progress"));
    setWindowTitle(QStringLiteral("Progress"));
    setModal(false);
    setFixedSize(281, 67);

    StaticText_FileName = new QLabel(this);
    StaticText_FileName->setObjectName(QStringLiteral("StaticText_FileName"));
    StaticText_FileName->setGeometry(8, 8, 265, 17);

    StaticText_Size = new QLabel(this);
    StaticText_Size->setObjectName(QStringLiteral("StaticText_Size"));
    StaticText_Size->setGeometry(8, 26, 265, 17);
    StaticText_Size->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    ProgressBar_File = new QProgressBar(this);
    ProgressBar_File->setObjectName(QStringLiteral("ProgressBar_File"));
    ProgressBar_File->setGeometry(8, 44, 265, 16);
    ProgressBar_File->setRange(0, 100);
    ProgressBar_File->setValue(0);

    // Kept in step with ProgressBar_File; it lies below the client area and is not seen.
    ProgressBar_All = new QProgressBar(this);
    ProgressBar_All->setObjectName(QStringLiteral("ProgressBar_All"));
    ProgressBar_All->setGeometry(8, 74, 265, 16);
    ProgressBar_All->setRange(0, 100);
    ProgressBar_All->setValue(0);

    StaticText_FileName->setAccessibleName(QStringLiteral("File name"));
    StaticText_Size->setAccessibleName(QStringLiteral("Size"));
    ProgressBar_File->setAccessibleName(QStringLiteral("File progress"));
    ProgressBar_All->setAccessibleName(QStringLiteral("Total progress"));
}

void TForm_Progress::ShowCentred()
{
    if (QWidget* main = parentWidget()) {
        const QRect r = main->frameGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TForm_Progress::closeEvent(QCloseEvent* event)
{
    // Not closable by the user; the program hides it.
    if (event->spontaneous())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TForm_Progress::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        return;   // Escape would reject (hide) the dialog
    QDialog::keyPressEvent(event);
}

void CloseProgressIfShowing()
{
    if (Form_Progress && Form_Progress->isVisible())
        Form_Progress->hide();
}
