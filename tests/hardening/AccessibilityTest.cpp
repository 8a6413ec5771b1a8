// Every control, action and list of the windows has a name that a screen reader (or a UI test)
// can find it by: its caption, or a name saying what it is.
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTextEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace {

bool Interactive(QWidget* w)
{
    return qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractItemView*>(w) || qobject_cast<QComboBox*>(w)
        || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSlider*>(w) || qobject_cast<QAbstractSpinBox*>(w)
        || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w) || qobject_cast<QProgressBar*>(w)
        || qobject_cast<QTabBar*>(w) || qobject_cast<QMenu*>(w);
}

// Qt's own parts of a control (named "qt_..."), and everything inside them.
bool PartOfQt(const QObject* o)
{
    for (; o; o = o->parent())
        if (o->objectName().startsWith(QLatin1String("qt_")))
            return true;
    return false;
}

// The name assistive technology announces for a widget.
QString AccessibleName(QWidget* w)
{
    if (!w->accessibleName().isEmpty())
        return w->accessibleName();
    if (auto* menu = qobject_cast<QMenu*>(w))
        return menu->title();   // announced with the menu bar entry that opens it
    if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w))
        return iface->text(QAccessible::Name);
    return {};
}

// "<window>: <class> <objectName>" for every interactive widget and action without a name.
std::vector<std::string> Unnamed(QWidget* window)
{
    std::vector<std::string> missing;
    const std::string where = window->metaObject()->className();
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (w != window && w->window() != window && !qobject_cast<QMenu*>(w))
            continue;   // another window (a dialog owned by this one), checked on its own
        // Parts of a composite control that Qt names after their owner: a view's header (its
        // sections carry the column captions), a combo box's popup list, the tool bar's
        // overflow button and menu.
        if (qobject_cast<QHeaderView*>(w) && qobject_cast<QAbstractItemView*>(w->parentWidget()))
            continue;
        if (w->parentWidget() && w->parentWidget()->inherits("QComboBoxPrivateContainer"))
            continue;
        // The inner parts of a composite control (a combo box's popup list, a view's
        // scroll bars and header) are named by Qt after their owner.
        if (PartOfQt(w))
            continue;
        if (!Interactive(w))
            continue;
        if (AccessibleName(w).trimmed().isEmpty())
            missing.push_back(where + ": " + w->metaObject()->className() + " " + w->objectName().toStdString() + " in "
                              + (w->parentWidget() ? w->parentWidget()->metaObject()->className() + std::string(" ")
                                                         + w->parentWidget()->objectName().toStdString()
                                                   : std::string()));
    }
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->isSeparator() || PartOfQt(a))
            continue;
        if (auto* owner = qobject_cast<QWidget*>(a->parent()); owner && owner != window && owner->window() != window
            && !qobject_cast<QMenu*>(owner))
            continue;
        if (a->text().trimmed().isEmpty() && a->iconText().trimmed().isEmpty())
            missing.push_back(where + ": QAction " + a->objectName().toStdString() + " of "
                              + (a->parent() ? a->parent()->metaObject()->className() + std::string(" ") + a->parent()->objectName().toStdString() : std::string()));
    }
    return missing;
}

class AccessibilityTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::unique_ptr<Dialogs::Recorder> dialogs = std::make_unique<Dialogs::Recorder>();

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        SettingsDir = tmp.path().toStdString();
    }
};

TEST_F(AccessibilityTest, EveryControlActionAndListOfEveryWindowHasAName)
{
    auto* main = new TForm_Main;   // not shown: nothing is sent
    std::vector<QWidget*> windows = {main, new TForm_ComSetup(main), new TAboutDlg(main), new TForm_Progress(main),
                                     new TForm_Log};
    std::vector<std::string> missing;
    for (QWidget* w : windows) {
        const std::vector<std::string> m = Unnamed(w);
        missing.insert(missing.end(), m.begin(), m.end());
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
    // Each window has a title of its own.
    for (QWidget* w : windows)
        EXPECT_FALSE(w->windowTitle().isEmpty()) << w->metaObject()->className();
    delete windows.back();
    main->close();
    delete main;
}

} // namespace
