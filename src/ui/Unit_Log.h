#pragma once
// The diagnostic log window: raw replies and one line per write block, only while it shows.
#include <string>

#include <QWidget>

class QPlainTextEdit;

class TForm_Log : public QWidget {
    Q_OBJECT
public:
    explicit TForm_Log(QWidget* parent = nullptr);

    QPlainTextEdit* Log_View = nullptr;

    // The view's capacity in characters (a memo holds a bounded amount of text); tests lower
    // Capacity to reach the limit quickly.
    static constexpr qsizetype kCapacity = 4 * 1024 * 1024;
    qsizetype Capacity = kCapacity;

    // True while Log_View is showing (the window is open).
    bool Showing() const;
    // Appends text to the end of the whole text without a separator; every lone CR or LF is
    // then made CR LF. Throws std::runtime_error("Text exceeds memo capacity") when the text
    // would not fit.
    void AppendRaw(const std::string& text);
    // Appends one line.
    void AppendLine(const std::string& line);
    // The whole text, with CR LF line ends.
    std::string Text() const;

    // Closing by the window's own button hides it (the menu check mark stays).
    bool ClosedByUser = false;

    // Save As... of the view's context menu: asks for a file and writes the text shown there.
    void SaveAs();

private:
    void SetText(const QString& text);
    QString text_;   // the memo's text with CR LF line ends
};

extern TForm_Log* Form_Log;

// The Log entry of the Help menu shows (tarvel --log, --trace); hidden otherwise.
extern bool ShowLogMenuEntry;

// Makes every lone CR or LF a CR LF pair.
QString NormalizeLineBreaks(const QString& text);
