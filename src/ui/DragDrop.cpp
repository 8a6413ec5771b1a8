// Files dragged from other programs and dropped anywhere on the main window are uploaded to the
// phone folder on display, exactly as Upload does, asking before an existing file is replaced.
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include "phone/PhoneLink.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"

namespace {
const QString kFileListFormat = QStringLiteral("text/uri-list");

// A transfer queue disables both panes while it runs, and then only the menu bar reacts: a drop
// is not taken (the user sees the drag refused), rather than starting a second queue inside the
// first one's wait, with its questions and files mixed into those of the first.
bool TransferUnderWay(const TForm_Main* w) { return w->Link->Busy; }
} // namespace

// Entering: the copy effect, always, so that a drop anywhere on the window is accepted (unless
// a transfer is under way).
void TForm_Main::dragEnterEvent(QDragEnterEvent* event)
{
    if (TransferUnderWay(this)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// Passing over: the copy effect everywhere; DragOver's answer (over the phone list and online)
// is only a hint, never a refusal.
void TForm_Main::dragMoveEvent(QDragMoveEvent* event)
{
    DragOverResult = DragOver(mapToGlobal(event->position().toPoint()));
    if (TransferUnderWay(this)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TForm_Main::dragLeaveEvent(QDragLeaveEvent* event)
{
    DragOverResult = false;
    event->accept();
}

void TForm_Main::dropEvent(QDropEvent* event)
{
    if (TransferUnderWay(this)) {
        event->ignore();
        return;
    }
    DropDataObject(event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

bool TForm_Main::DragOver(const QPoint& globalPos) const
{
    // The child of the phone file panel at that point, disabled controls included.
    const QPoint local = Panel_File_Phone->mapFromGlobal(globalPos);
    QWidget* child = Panel_File_Phone->childAt(local);
    while (child && child != ListView_PNFiles && child->parentWidget() != Panel_File_Phone)
        child = child->parentWidget();
    return child == ListView_PNFiles && Link->PhoneOnline;
}

void TForm_Main::DropDataObject(const QMimeData* data)
{
    if (!data) {
        Dialogs::PlainBox("dataObj = nil");
        return;
    }
    for (const QString& format : data->formats())
        if (format == kFileListFormat)
            DropFileList(data);
}

void TForm_Main::DropFileList(const QMimeData* data)
{
    if (!data->hasFormat(kFileListFormat) || !PhoneOnlineOrSay())
        return;
    // The list ends with its last line; a line that names no local file (a comment line of the
    // list, a remote address) is passed over rather than taken as the end, which would silently
    // drop every file after it.
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty())
            paths.push_back(path.toStdString());
    }
    // Nothing of a failed upload leaves the drop.
    try {
        if (Link->UploadFiles(paths, false, true) == TPhoneLink::UploadResult::OpenFailed)
            Dialogs::ErrorBox("PC files list creating error.");
    } catch (...) {
        Dialogs::ErrorBox("PC files list creating error.");
    }
}
