#pragma once
// The application object with the program's general error handler: an exception that escapes
// an event handler is shown in an error box, and the program goes on.
#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the message of the exception being handled (call from a catch block).
void ShowUnhandledException();
