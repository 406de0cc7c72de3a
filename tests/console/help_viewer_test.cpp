// The help viewer on the real help file, and context numbers of widgets.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

#include "console/help_viewer.h"

namespace varnok {
namespace {

// Calls `f` with each link of the text and the position of its first character.
void for_each_link(const QTextDocument* doc, const std::function<void(const QString&, int)>& f)
{
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (const QString href = it.fragment().charFormat().anchorHref(); !href.isEmpty())
                f(href, it.fragment().position());
}

void write_file(const QString& path, const QByteArray& bytes, int seconds_ahead = 0)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.flush();  // a write still buffered at close would set the time to now again
    f.setFileTime(QDateTime::currentDateTime().addSecs(seconds_ahead), QFileDevice::FileModificationTime);
}

class HelpOnRealFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(HelpViewer::openFinder(file, &error)) << error.toStdString();
        viewer = HelpViewer::instance();
    }
    void TearDown() override { viewer->hide(); }

    // The build copies the help file beside the programs, the tests included.
    const QString file = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("varnok.hlp"));
    HelpViewer* viewer = nullptr;
};

TEST_F(HelpOnRealFile, ContextNumbersOpenTheirTopicsInOneWindow)
{
    EXPECT_TRUE(viewer->isVisible());
    for (int context : {1, 5, 8}) {
        ASSERT_TRUE(HelpViewer::openContext(file, context, nullptr));
        EXPECT_EQ(viewer->currentAnchor(), QStringLiteral("context-%1").arg(context));
        ASSERT_NE(viewer->contentsTree()->currentItem(), nullptr) << context;
    }
    // An unknown number, or none, opens the contents at the start of the text.
    for (int context : {0, 999}) {
        ASSERT_TRUE(HelpViewer::openContext(file, context, nullptr));
        EXPECT_TRUE(viewer->currentAnchor().isEmpty()) << context;
        EXPECT_EQ(viewer->tabs()->currentIndex(), 0);
    }
    int viewers = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        viewers += qobject_cast<HelpViewer*>(w) != nullptr;
    EXPECT_EQ(viewers, 1);
}

TEST_F(HelpOnRealFile, ContentsIndexAndEveryLinkLeadToTopics)
{
    const QStringList titles = viewer->contentsTitles();
    for (const char* t :
         {"Главное окно", "Права доступа: группа dialout", "Поиск прибора", "Файл настроек", "Указатель"})
        EXPECT_TRUE(titles.contains(QString::fromUtf8(t))) << t;

    const QStringList keywords = viewer->indexKeywords();
    EXPECT_GE(keywords.size(), 30);
    EXPECT_EQ(viewer->indexTarget(QStringLiteral("dialout, группа")), QStringLiteral("dialout"));
    for (const QString& k : keywords)
        EXPECT_TRUE(viewer->hasAnchor(viewer->indexTarget(k))) << k.toStdString();
    for_each_link(viewer->browser()->document(), [&](const QString& href, int) {
        EXPECT_TRUE(href.startsWith('#') && viewer->hasAnchor(href.mid(1))) << href.toStdString();
    });
}

TEST_F(HelpOnRealFile, IndexFilterNarrowsAndEnterOpens)
{
    viewer->indexFilter()->setText(QStringLiteral("ПОИСК"));
    QListWidget* list = viewer->indexList();
    int shown = 0;
    for (int i = 0; i < list->count(); ++i)
        if (!list->item(i)->isHidden()) {
            ++shown;
            EXPECT_TRUE(list->item(i)->text().contains(QStringLiteral("поиск"), Qt::CaseInsensitive));
        }
    EXPECT_GE(shown, 3);
    EXPECT_LT(shown, list->count());

    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(viewer->indexFilter(), &enter);
    EXPECT_EQ(viewer->currentAnchor(), viewer->indexTarget(list->currentItem()->text()));
    viewer->indexFilter()->clear();
}

TEST_F(HelpOnRealFile, ClickedLinkFollowsAndBackReturns)
{
    QTextBrowser* text = viewer->browser();
    int position = -1;  // the first link to the main window topic, near the top
    for_each_link(text->document(), [&](const QString& href, int at) {
        if (position < 0 && href == QStringLiteral("#context-1"))
            position = at + 1;
    });
    ASSERT_GE(position, 0);
    QTextCursor cursor(text->document());
    cursor.setPosition(position);
    const QPoint at = text->cursorRect(cursor).center();
    ASSERT_TRUE(text->viewport()->rect().contains(at));

    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, text->viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(text->viewport(), &e);
    }
    EXPECT_EQ(viewer->currentAnchor(), QStringLiteral("context-1"));
    EXPECT_GT(text->verticalScrollBar()->value(), 0);

    viewer->findChild<QToolButton*>(QStringLiteral("Bback"))->click();
    EXPECT_TRUE(viewer->currentAnchor().isEmpty());
}

TEST(HelpViewerFiles, MissingDirectoryOrTopiclessFileIsRefusedNamingThePath)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.hlp"));
    write_file(plain, "not a help file\n");
    for (const QString& path : {dir.filePath(QStringLiteral("нет/varnok.hlp")), dir.path(), plain}) {
        QString error;
        EXPECT_FALSE(HelpViewer::openContext(path, 1, &error));
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
    }
}

TEST(HelpViewerFiles, EditedFileIsLoadedAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("varnok.hlp"));
    write_file(path, "<h1 id=\"a\">Первый</h1>");
    HelpViewer viewer;
    ASSERT_TRUE(viewer.load(path, nullptr));
    EXPECT_EQ(viewer.contentsTitles(), QStringList{QStringLiteral("Первый")});

    write_file(path, "<h1 id=\"b\">Второй</h1><h2 id=\"context-8\">Группа</h2>", 5);
    ASSERT_TRUE(viewer.load(path, nullptr));
    EXPECT_EQ(viewer.contentsTitles(), (QStringList{QStringLiteral("Второй"), QStringLiteral("Группа")}));
    EXPECT_TRUE(viewer.showContext(8));
}

TEST(HelpContext, NearestWidgetWithContextWins)
{
    QWidget window;
    window.setProperty("helpContext", 1);
    auto* group = new QWidget(&window);
    group->setProperty("helpContext", 5);
    auto* inner = new QWidget(group);
    inner->setProperty("helpContext", 0);  // no context of its own
    auto* edit = new QLineEdit(inner);
    auto* other = new QLineEdit(&window);

    EXPECT_EQ(helpContextFor(edit), 5);
    EXPECT_EQ(helpContextFor(other), 1);
    QWidget bare;
    EXPECT_EQ(helpContextFor(&bare), 0);
    EXPECT_EQ(helpContextFor(nullptr), 0);
}

}  // namespace
}  // namespace varnok
