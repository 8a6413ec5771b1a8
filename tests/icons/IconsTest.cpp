// The main window's pictures reach the window: every tool bar action has its three states and
// every node of the phone tree its picture, at the sizes the window lays out.
#include <QIcon>
#include <QImage>
#include <QToolBar>

#include "support/WindowFixture.h"

using namespace testsupport;

namespace {

// True when some pixel is neither fully transparent nor grey.
bool HasColour(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb px = argb.pixel(x, y);
            if (qAlpha(px) > 0 && (qRed(px) != qGreen(px) || qGreen(px) != qBlue(px)))
                return true;
        }
    return false;
}

int OpaquePixels(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            n += qAlpha(argb.pixel(x, y)) > 0;
    return n;
}

class IconsTest : public WindowTest {};

TEST_F(IconsTest, ToolBarActionsHaveNormalHotAndDisabledPictures)
{
    CreateWindow(false);
    const QSize size(36, 33);
    const QAction* actions[] = {win->Action_GoHome, win->Action_Download, win->Action_Delete,
                                win->Action_Reload, win->Action_Upload,   win->Action_UplodAsMelody,
                                win->Action_CopyAsMIDlet, win->Action_PlayMMF, win->Action_StopMMF};
    for (const QAction* action : actions) {
        SCOPED_TRACE(action->objectName().toStdString());
        const QIcon icon = action->icon();
        ASSERT_FALSE(icon.isNull());
        const QImage normal = icon.pixmap(size, 1.0, QIcon::Normal).toImage();
        const QImage hot = icon.pixmap(size, 1.0, QIcon::Active).toImage();
        const QImage disabled = icon.pixmap(size, 1.0, QIcon::Disabled).toImage();
        EXPECT_EQ(normal.size(), size);
        EXPECT_EQ(hot.size(), size);
        EXPECT_EQ(disabled.size(), size);
        // A picture, not an empty frame; transparent round it; three different states.
        EXPECT_GT(OpaquePixels(normal), 36 * 33 / 8);
        EXPECT_LT(OpaquePixels(normal), 36 * 33);
        EXPECT_TRUE(HasColour(normal));
        EXPECT_NE(normal, hot);
        EXPECT_FALSE(HasColour(disabled));
    }
}

TEST_F(IconsTest, PhoneTreeNodesHaveTheirPictures)
{
    CreateWindow(false);
    QTreeWidget* tree = win->TreeView_PNDir;
    ASSERT_GT(tree->topLevelItemCount(), 0);
    std::vector<QTreeWidgetItem*> nodes{tree->topLevelItem(0)};
    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (int c = 0; c < nodes[i]->childCount(); ++c)
            nodes.push_back(nodes[i]->child(c));
    ASSERT_GT(nodes.size(), 20u);
    for (QTreeWidgetItem* node : nodes) {
        SCOPED_TRACE(node->text(0).toStdString());
        const QIcon icon = node->icon(0);
        ASSERT_FALSE(icon.isNull());
        const QImage normal = icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage();
        EXPECT_EQ(normal.size(), QSize(16, 16));
        EXPECT_GT(OpaquePixels(normal), 16 * 16 / 4);
        EXPECT_TRUE(HasColour(normal));
        EXPECT_FALSE(icon.pixmap(QSize(16, 16), 1.0, QIcon::Selected).isNull());
    }
    // A plain folder opens when selected; the handset and the special folders keep their picture.
    const auto icons = [](QTreeWidgetItem* node) {
        const QIcon icon = node->icon(0);
        return std::pair(icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage(),
                         icon.pixmap(QSize(16, 16), 1.0, QIcon::Selected).toImage());
    };
    const auto [userNormal, userSelected] = icons(nodes[0]->child(0));
    EXPECT_EQ(nodes[0]->child(0)->text(0), QStringLiteral("user"));
    EXPECT_NE(userNormal, userSelected);
    const auto [rootNormal, rootSelected] = icons(nodes[0]);
    EXPECT_EQ(rootNormal, rootSelected);
    EXPECT_NE(rootNormal, userNormal);
}

} // namespace
