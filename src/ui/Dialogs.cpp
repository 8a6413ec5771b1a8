#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include <utility>

namespace Dialogs {

namespace {

QString Shown(const std::string& text)
{
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

QWidget* Parent()
{
    QWidget* w = QApplication::activeWindow();
    return (w && w->isVisible()) ? w : nullptr;
}

Answer ShowQt(Kind kind, const std::string& text)
{
    const QString title = QApplication::applicationName();
    QMessageBox box(Parent());
    box.setWindowTitle(title);
    box.setText(Shown(text));
    if (!Prompts::ShowingDetails().empty())
        box.setDetailedText(Shown(Prompts::ShowingDetails()));
    switch (kind) {
    case Kind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Plain:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::YesNo:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Kind::YesNoYesToAll:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
        break;
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        return (kind == Kind::YesNo || kind == Kind::YesNoYesToAll) ? Answer::Closed : Answer::Ok;
    switch (box.standardButton(clicked)) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::YesToAll: return Answer::YesToAll;
    default: break;
    }
    // Escape on a question box reports the No button; a box closed by its frame has none.
    return Answer::Ok;
}

} // namespace

namespace {
FolderHandler& CurrentFolderHandler()
{
    static FolderHandler handler;
    return handler;
}
} // namespace

void SetFolderHandler(FolderHandler handler) { CurrentFolderHandler() = std::move(handler); }

std::string ChooseFolder(const std::string& title)
{
    if (CurrentFolderHandler())
        return CurrentFolderHandler()(title);
    const QString dir = QFileDialog::getExistingDirectory(Parent(), QString::fromStdString(title), QDir::rootPath(),
                                                          QFileDialog::ShowDirsOnly);
    return dir.toStdString();
}

namespace {
FolderHandler& CurrentSaveFileHandler()
{
    static FolderHandler handler;
    return handler;
}
} // namespace

void SetSaveFileHandler(FolderHandler handler) { CurrentSaveFileHandler() = std::move(handler); }

std::string ChooseSaveFile(const std::string& title, const std::string& suggestedName)
{
    if (CurrentSaveFileHandler())
        return CurrentSaveFileHandler()(title);
    return QFileDialog::getSaveFileName(Parent(), QString::fromStdString(title),
                                        QDir::home().filePath(QString::fromStdString(suggestedName)))
        .toStdString();
}

void UseMessageBoxes()
{
    static bool installed = false;
    if (!installed)
        Prompts::SetFallback(ShowQt);
    installed = true;
}

Answer Show(Kind kind, const std::string& text, const std::string& details)
{
    UseMessageBoxes();
    return Prompts::Show(kind, text, details);
}

} // namespace Dialogs

namespace WaitCursor {

namespace {
int depth = 0;
}

void Hourglass()
{
    if (depth == 0 && QApplication::instance())
        QApplication::setOverrideCursor(Qt::WaitCursor);
    depth = 1;
}

void Arrow()
{
    if (depth == 0)
        return;
    depth = 0;
    if (QApplication::instance())
        QApplication::restoreOverrideCursor();
}

bool Showing() { return depth != 0; }

} // namespace WaitCursor
