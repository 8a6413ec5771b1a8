// The about box names the version the build was made from, and its text still fits its block.
#include <QFontMetrics>
#include <QLabel>
#include <gtest/gtest.h>

#include "ui/Unit_About.h"

TEST(AboutVersion, CreditLinesNameTheProjectVersion)
{
    TAboutDlg about;
    const QString text = about.Memo_About->text();
    EXPECT_TRUE(text.startsWith("Tarvel\n\n"));
    EXPECT_TRUE(text.contains(QStringLiteral("Version %1,").arg(QLatin1String(TARVEL_PROJECT_VERSION))))
        << text.toStdString();
}

TEST(AboutVersion, TextFitsTheFixedBlock)
{
    TAboutDlg about;
    EXPECT_EQ(about.size(), QSize(384, 179));
    const QLabel* memo = about.Memo_About;
    const QRect needed = QFontMetrics(memo->font()).boundingRect(QRect(QPoint(0, 0), memo->size()),
                                                                 int(memo->alignment()), memo->text());
    EXPECT_LE(needed.height(), memo->height()) << "lines: " << memo->text().count('\n') + 1;
    EXPECT_LE(needed.width(), memo->width());
}
