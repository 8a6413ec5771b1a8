#include "app/Application.h"

#include <exception>
#include <stdexcept>

#include "ui/Dialogs.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void ShowUnhandledException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        Dialogs::ErrorBox(e.what());
    } catch (...) {
        Dialogs::ErrorBox("Unknown error.");
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowUnhandledException();
    }
    return false;
}
