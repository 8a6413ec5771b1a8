#pragma once
// The transfer progress window: not modal, always on top, no caption buttons.
#include <QDialog>

class QLabel;
class QProgressBar;

class TForm_Progress : public QDialog {
    Q_OBJECT
public:
    explicit TForm_Progress(QWidget* mainWindow = nullptr);

    QLabel* StaticText_FileName = nullptr;
    QLabel* StaticText_Size = nullptr;
    QProgressBar* ProgressBar_File = nullptr;
    QProgressBar* ProgressBar_All = nullptr;

    // Shows the window centred on the main window, without making it modal.
    void ShowCentred();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

extern TForm_Progress* Form_Progress;

// Closes (hides) the progress window when it exists and is showing.
void CloseProgressIfShowing();
