#pragma once
// The transfer progress window: not modal, always on top, no caption buttons. Above, the file
// under way: its name, its size, its bar, the bytes done with the rate and the time left. Below,
// the queue it belongs to: which file of how many, the queue's bar, its bytes, rate and time
// left. Cancel (or Esc) asks the queue to stop after the file under way.
#include <cstddef>
#include <cstdint>

#include <QDialog>
#include <QElapsedTimer>

#include "phone/TransferMeter.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class TForm_Progress : public QDialog {
    Q_OBJECT
public:
    explicit TForm_Progress(QWidget* mainWindow = nullptr);

    QLabel* StaticText_FileName = nullptr;
    QLabel* StaticText_Size = nullptr;
    QProgressBar* ProgressBar_File = nullptr;
    QLabel* StaticText_FileStatus = nullptr;
    QLabel* StaticText_Queue = nullptr;
    QProgressBar* ProgressBar_All = nullptr;
    QLabel* StaticText_QueueStatus = nullptr;
    QPushButton* Button_Cancel = nullptr;

    // Shows the window centred on the main window, without making it modal.
    void ShowCentred();

    // A file of `size` bytes is under way (`bytes`: it has data to count; an erase has none).
    void StartFile(std::int64_t size, bool bytes);
    // `done` bytes of the file are done: its bar, and the queue's bar too while no queue runs.
    void FileProgress(std::int64_t done, std::int64_t size);
    // A queue begins, moves on (file `file` of `files`, `done` of `total` bytes), ends.
    void StartQueue(std::size_t files, std::int64_t total, bool bytes);
    void QueueProgress(std::size_t file, std::size_t files, std::int64_t done, std::int64_t total);
    void EndQueue();
    // Offers Cancel (while files follow the one under way in a queue the user started).
    void OfferCancel(bool offer);

signals:
    // The user asked the queue under way to stop after its file (Cancel or Esc).
    void CancelClicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ClickCancel();
    // Writes the rate and time left, at most a few times a second (`now`: whatever the time).
    void ShowStatus(bool now);
    // Gives a bar its value; its picture follows at most a few times a second.
    void SetBar(QProgressBar* bar, int value);
    QTimer* barPaint_ = nullptr;
    QElapsedTimer clock_;
    qint64 statusShownAt_ = -1;
    TransferMeter fileMeter_, queueMeter_;
    bool fileBytes_ = true, queueBytes_ = true;
    bool queueRunning_ = false;
    bool queueShown_ = false;   // a queue of more than one file: its line and status show
    bool cancelled_ = false;
};

extern TForm_Progress* Form_Progress;

// Closes (hides) the progress window when it exists and is showing.
void CloseProgressIfShowing();
