// Files dragged from other programs and dropped anywhere on the main window are uploaded to the
// phone folder on display, exactly as Upload does, asking before an existing file is replaced.
// Between the panes: phone files dragged onto the PC list are downloaded into the PC folder (as
// Download does), PC files dragged from the PC list onto the phone list are uploaded (as a drop
// from another program is).
#include <filesystem>

#include <QCoreApplication>
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
// Phone files dragged from the phone list: this process, the listing they belong to, and their
// positions in it, one number a line.
const QString kPhoneFilesFormat = QStringLiteral("application/x-tarvel-phone-files");

bool Over(const QWidget* widget, const QPoint& globalPos)
{
    return widget->isVisible() && widget->rect().contains(widget->mapFromGlobal(globalPos));
}

// A transfer queue disables both panes while it runs, and then only the menu bar reacts: a drop
// is not taken (the user sees the drag refused), rather than starting a second queue inside the
// first one's wait, with its questions and files mixed into those of the first.
bool TransferUnderWay(const TForm_Main* w) { return w->Link->Busy(); }
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
// is only a hint, never a refusal. A drag between the panes is taken over the other pane's list
// only (let go where it started, it does nothing).
void TForm_Main::dragMoveEvent(QDragMoveEvent* event)
{
    const QPoint globalPos = mapToGlobal(event->position().toPoint());
    DragOverResult = DragOver(globalPos);
    if (TransferUnderWay(this) || !DropAllowedAt(event, globalPos)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

bool TForm_Main::DropAllowedAt(const QDropEvent* event, const QPoint& globalPos) const
{
    if (event->mimeData() && event->mimeData()->hasFormat(kPhoneFilesFormat))
        return Over(ListView_PCFiles, globalPos);
    if (event->source() == ListView_PCFiles)
        return Over(ListView_PNFiles, globalPos);
    return true;
}

void TForm_Main::dragLeaveEvent(QDragLeaveEvent* event)
{
    DragOverResult = false;
    event->accept();
}

void TForm_Main::dropEvent(QDropEvent* event)
{
    if (TransferUnderWay(this) || !DropAllowedAt(event, mapToGlobal(event->position().toPoint()))) {
        event->ignore();
        return;
    }
    if (event->mimeData() && event->mimeData()->hasFormat(kPhoneFilesFormat))
        DropPhoneFiles(event->mimeData());
    else
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
    return child == ListView_PNFiles && Link->Online();
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
    UploadPaths(std::move(paths), false);
}

// ---- drags between the panes ---------------------------------------------------------------

QMimeData* TForm_Main::PhoneDragData() const
{
    QStringList lines{QString::number(QCoreApplication::applicationPid()), QString::number(Link->ListingNumber())};
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView_PNFiles->topLevelItem(i);
        if (item->isSelected())
            if (const std::optional<std::size_t> index = PhoneItemIndex(item))
                lines.push_back(QString::number(*index));
    }
    if (lines.size() < 3)
        return nullptr;
    auto* data = new QMimeData;
    data->setData(kPhoneFilesFormat, lines.join(QLatin1Char('\n')).toUtf8());
    return data;
}

QMimeData* TForm_Main::PCDragData() const
{
    if (PCDir.empty())
        return nullptr;
    QList<QUrl> urls;
    for (const std::string& name : SelectedPCNames())
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString((std::filesystem::path(PCDir) / name).string())));
    if (urls.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void TForm_Main::DropPhoneFiles(const QMimeData* data)
{
    // Only this process's drag of the listing on display: another listing's positions would
    // name other files.
    const QStringList lines = QString::fromUtf8(data->data(kPhoneFilesFormat)).split(QLatin1Char('\n'));
    if (lines.size() < 3 || lines[0] != QString::number(QCoreApplication::applicationPid())
        || lines[1] != QString::number(Link->ListingNumber()))
        return;
    std::vector<TFileInfo> queue;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        bool ok = false;
        const qulonglong index = lines[i].toULongLong(&ok);
        if (ok && index < Link->PhoneRecords().size())
            queue.push_back(Link->PhoneRecords()[static_cast<std::size_t>(index)]);
    }
    DownloadRecords(queue);
}
