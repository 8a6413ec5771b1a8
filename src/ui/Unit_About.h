#pragma once
// The about box: the product name and a few lines about it.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QShowEvent;

class TAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit TAboutDlg(QWidget* parent = nullptr);

    QFrame* Bevel1 = nullptr;
    QLabel* Memo_About = nullptr;   // read-only, centred text; first line "Tarvel"
    QPushButton* OKBtn = nullptr;

protected:
    // Centres the box on the screen (not on the main window).
    void showEvent(QShowEvent* event) override;
};

extern TAboutDlg* AboutDlg;
