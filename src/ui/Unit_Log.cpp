#include "ui/Unit_Log.h"

#include <fstream>
#include <stdexcept>

#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "platform/NativePath.h"
#include "ui/Dialogs.h"

TForm_Log* Form_Log = nullptr;
bool ShowLogMenuEntry = false;

TForm_Log::TForm_Log(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form_Log"));
    setWindowTitle(QStringLiteral("Log"));
    resize(783, 363);
    Log_View = new QPlainTextEdit(this);
    Log_View->setObjectName(QStringLiteral("Log_View"));
    Log_View->setAccessibleName(QStringLiteral("Log"));
    Log_View->setReadOnly(true);
    Log_View->setLineWrapMode(QPlainTextEdit::NoWrap);
    Log_View->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log_View->clear();
    Log_View->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Log_View, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = Log_View->createStandardContextMenu(at);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        QAction* saveAs = menu->addAction(QStringLiteral("Save As..."));
        saveAs->setObjectName(QStringLiteral("LogSaveAs"));
        connect(saveAs, &QAction::triggered, this, [this] { SaveAs(); });
        menu->popup(Log_View->viewport()->mapToGlobal(at));
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Log_View);
}

bool TForm_Log::Showing() const { return isVisible() && Log_View->isVisible(); }

QString NormalizeLineBreaks(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            out += QLatin1String("\r\n");
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

void TForm_Log::SetText(const QString& text)
{
    if (text.size() > Capacity)
        throw std::runtime_error("Text exceeds memo capacity");
    text_ = text;
    QString shown = text_;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Log_View->setPlainText(shown);
    Log_View->verticalScrollBar()->setValue(Log_View->verticalScrollBar()->maximum());
}

void TForm_Log::AppendRaw(const std::string& text)
{
    SetText(NormalizeLineBreaks(text_ + QString::fromUtf8(text.data(), qsizetype(text.size()))));
}

void TForm_Log::AppendLine(const std::string& line)
{
    QString t = text_;
    if (!t.isEmpty() && !t.endsWith(QLatin1String("\r\n")))
        t += QLatin1String("\r\n");
    t += QString::fromUtf8(line.data(), qsizetype(line.size())) + QLatin1String("\r\n");
    SetText(t);
}

std::string TForm_Log::Text() const { return text_.toStdString(); }

void TForm_Log::SaveAs()
{
    const std::string file = Dialogs::ChooseSaveFile("Save Log As", "tarvel-log.txt");
    if (file.empty())
        return;
    std::ofstream out(NativePath::FromText(file), std::ios::binary);
    const std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        Dialogs::ErrorBox("Unable to write to " + file);
}
