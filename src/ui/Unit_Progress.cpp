#include "ui/Unit_Progress.h"

#include <algorithm>

#include <QCloseEvent>
#include <QTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "protocol/Text.h"

TForm_Progress* Form_Progress = nullptr;

namespace {
// The rate and the time left are written at most this often: a block every few milliseconds
// would make them flicker past unread.
constexpr qint64 kStatusIntervalMs = 250;
// The bars take the value of every block, but between their first and last values they are
// painted together this often: painting them for every block cost more than the rest of a
// transfer (bench_transfer).
constexpr qint64 kBarPaintIntervalMs = 500;

QLabel* Line(QWidget* parent, const char* name, const char* role, int y)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAccessibleName(QLatin1String(role));
    label->setGeometry(8, y, 265, 17);
    return label;
}

QProgressBar* Bar(QWidget* parent, const char* name, const char* role, int y)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setAccessibleName(QLatin1String(role));
    bar->setGeometry(8, y, 265, 16);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}
} // namespace

TForm_Progress::TForm_Progress(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form_Progress"));
    setWindowTitle(QStringLiteral("Progress"));
    setModal(false);
    setFixedSize(281, 173);

    StaticText_FileName = Line(this, "StaticText_FileName", "File name", 8);
    StaticText_Size = Line(this, "StaticText_Size", "Size", 26);
    StaticText_Size->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ProgressBar_File = Bar(this, "ProgressBar_File", "File progress", 44);
    StaticText_FileStatus = Line(this, "StaticText_FileStatus", "File rate and time left", 62);
    StaticText_Queue = Line(this, "StaticText_Queue", "Files", 84);
    // The queue's share done; while no queue runs, kept in step with ProgressBar_File.
    ProgressBar_All = Bar(this, "ProgressBar_All", "Total progress", 102);
    StaticText_QueueStatus = Line(this, "StaticText_QueueStatus", "Total rate and time left", 120);

    Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Button_Cancel->setObjectName(QStringLiteral("Button_Cancel"));
    Button_Cancel->setAccessibleName(QStringLiteral("Cancel"));
    Button_Cancel->setToolTip(QStringLiteral("Stop after the file under way"));
    Button_Cancel->setGeometry(198, 142, 75, 23);
    Button_Cancel->setAutoDefault(false);
    Button_Cancel->setEnabled(false);
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { ClickCancel(); });

    barPaint_ = new QTimer(this);
    barPaint_->setSingleShot(true);
    connect(barPaint_, &QTimer::timeout, this, [this] {
        for (QProgressBar* bar : {ProgressBar_File, ProgressBar_All})
            if (!bar->updatesEnabled())
                bar->setUpdatesEnabled(true);   // paints it with its latest value
    });

    clock_.start();
}

void TForm_Progress::SetBar(QProgressBar* bar, int value)
{
    // The first and last values are painted at once; those in between together, by the timer.
    if (value <= bar->minimum() || value >= bar->maximum()) {
        if (!bar->updatesEnabled())
            bar->setUpdatesEnabled(true);
        bar->setValue(value);
        return;
    }
    if (bar->updatesEnabled())
        bar->setUpdatesEnabled(false);
    bar->setValue(value);
    if (!barPaint_->isActive())
        barPaint_->start(kBarPaintIntervalMs);
}

void TForm_Progress::ShowCentred()
{
    if (QWidget* main = parentWidget()) {
        const QRect r = main->frameGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TForm_Progress::StartFile(std::int64_t size, bool bytes)
{
    fileBytes_ = bytes;
    if (!bytes)
        ProgressBar_File->setValue(0);   // no data moves: the bar shows nothing of the last file
    fileMeter_.Start(static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0)), clock_.elapsed());
    ShowStatus(true);
}

void TForm_Progress::FileProgress(std::int64_t done, std::int64_t size)
{
    const int percent = ProgressPercent(done, size);
    SetBar(ProgressBar_File, percent);
    if (!queueRunning_)
        SetBar(ProgressBar_All, percent);
    fileMeter_.Update(static_cast<std::uint64_t>(std::max<std::int64_t>(done, 0)), clock_.elapsed());
    ShowStatus(done >= size);
}

void TForm_Progress::StartQueue(std::size_t files, std::int64_t total, bool bytes)
{
    queueRunning_ = true;
    queueBytes_ = bytes;
    queueShown_ = files > 1;
    cancelled_ = false;
    queueMeter_.Start(static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0)), clock_.elapsed());
    ProgressBar_All->setValue(0);
    StaticText_Queue->setText(queueShown_ ? QStringLiteral("File 1 of %1").arg(files) : QString());
    ShowStatus(true);
}

void TForm_Progress::QueueProgress(std::size_t file, std::size_t files, std::int64_t done, std::int64_t total)
{
    if (!queueRunning_)
        return;
    // A queue without bytes to count (erases, empty files) moves by its files.
    const auto byFiles = [&] { return ProgressPercent(static_cast<std::int64_t>(file - 1), static_cast<std::int64_t>(files)); };
    SetBar(ProgressBar_All, queueBytes_ && total > 0 ? ProgressPercent(std::min(done, total), total) : byFiles());
    queueMeter_.SetTotal(static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0)));
    queueMeter_.Update(static_cast<std::uint64_t>(std::clamp<std::int64_t>(done, 0, std::max<std::int64_t>(total, 0))),
                       clock_.elapsed());
    QString text = queueShown_ ? QStringLiteral("File %1 of %2").arg(file).arg(files) : QString();
    if (cancelled_)
        text += QStringLiteral(" (stopping after it)");
    StaticText_Queue->setText(text);
    ShowStatus(false);
}

void TForm_Progress::EndQueue()
{
    queueRunning_ = false;
    queueShown_ = false;
    OfferCancel(false);
}

void TForm_Progress::OfferCancel(bool offer) { Button_Cancel->setEnabled(offer && !cancelled_); }

void TForm_Progress::ClickCancel()
{
    if (!Button_Cancel->isEnabled())
        return;
    cancelled_ = true;
    Button_Cancel->setEnabled(false);
    StaticText_Queue->setText(StaticText_Queue->text() + QStringLiteral(" (stopping after it)"));
    emit CancelClicked();
}

void TForm_Progress::ShowStatus(bool now)
{
    const qint64 at = clock_.elapsed();
    if (!now && statusShownAt_ >= 0 && at - statusShownAt_ < kStatusIntervalMs)
        return;
    statusShownAt_ = at;
    StaticText_FileStatus->setText(fileBytes_ ? QString::fromStdString(FormatTransferStatus(fileMeter_)) : QString());
    const bool queueStatus = queueRunning_ && queueShown_ && queueBytes_;
    StaticText_QueueStatus->setText(queueStatus ? QString::fromStdString(FormatTransferStatus(queueMeter_)) : QString());
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
    // Escape would reject (hide) the dialog: here it is the Cancel button.
    if (event->key() == Qt::Key_Escape) {
        ClickCancel();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CloseProgressIfShowing()
{
    if (Form_Progress && Form_Progress->isVisible())
        Form_Progress->hide();
}
