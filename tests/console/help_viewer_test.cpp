// The help viewer on the real help file, and context numbers of widgets.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
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
#include <gtest/gtest.h>

#include "console/help_viewer.h"

namespace varnok {
namespace {

// The build copies the help file beside the programs, the tests included.
QString real_help_file()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("varnok.hlp"));
}

void write_file(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class HelpOnRealFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
        QString error;
        ASSERT_TRUE(HelpViewer::openFinder(file, &error)) << error.toStdString();
        viewer = HelpViewer::instance();
    }
    void TearDown() override
    {
        if (viewer)
            viewer->hide();
    }

    const QString file = real_help_file();
    HelpViewer* viewer = nullptr;
};

TEST_F(HelpOnRealFile, ContextNumbersOpenTheirTopics)
{
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->tabs()->currentIndex(), 0);
    for (int context : {1, 5, 8}) {
        QString error;
        ASSERT_TRUE(HelpViewer::openContext(file, context, &error)) << error.toStdString();
        EXPECT_EQ(viewer->currentAnchor(), QStringLiteral("context-%1").arg(context));
        ASSERT_NE(viewer->contentsTree()->currentItem(), nullptr);
        EXPECT_FALSE(viewer->contentsTree()->currentItem()->text(0).isEmpty());
    }

    // An unknown number, or none, opens the contents at the start of the text.
    for (int context : {0, 999}) {
        ASSERT_TRUE(HelpViewer::openContext(file, context, nullptr));
        EXPECT_TRUE(viewer->currentAnchor().isEmpty()) << context;
        EXPECT_EQ(viewer->tabs()->currentIndex(), 0);
    }

    // One window, however often help is asked for.
    EXPECT_EQ(HelpViewer::instance(), viewer);
    int viewers = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        viewers += qobject_cast<HelpViewer*>(w) != nullptr;
    EXPECT_EQ(viewers, 1);
}

TEST_F(HelpOnRealFile, ContentsIndexAndLinksAllLead)
{
    const QStringList titles = viewer->contentsTitles();
    for (const char* t : {"Главное окно", "Подключение прибора", "Права доступа: группа dialout", "Поиск прибора",
                          "Журнал обмена и информационное окно", "Файл настроек", "Указатель"})
        EXPECT_TRUE(titles.contains(QString::fromUtf8(t))) << t;

    const QStringList keywords = viewer->indexKeywords();
    EXPECT_GE(keywords.size(), 30);
    EXPECT_EQ(viewer->indexTarget(QStringLiteral("dialout, группа")), QStringLiteral("dialout"));
    for (const QString& k : keywords)
        EXPECT_TRUE(viewer->hasAnchor(viewer->indexTarget(k))) << k.toStdString();

    // Every link inside the text leads to a topic of the file.
    int links = 0;
    const QTextDocument* doc = viewer->browser()->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QString href = it.fragment().charFormat().anchorHref();
            if (href.startsWith('#')) {
                ++links;
                EXPECT_TRUE(viewer->hasAnchor(href.mid(1))) << href.toStdString();
            }
        }
    EXPECT_GT(links, keywords.size());
}

TEST_F(HelpOnRealFile, IndexFilterNarrowsAndEnterOpens)
{
    viewer->tabs()->setCurrentIndex(1);
    viewer->indexFilter()->setText(QStringLiteral("ПОИСК"));
    int shown = 0;
    QListWidget* list = viewer->indexList();
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
    text->verticalScrollBar()->setValue(0);

    // The first link to the main window topic, in the list at the top of the text.
    QTextCursor cursor;
    const QTextDocument* doc = text->document();
    for (QTextBlock b = doc->begin(); b.isValid() && cursor.isNull(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().anchorHref() == QStringLiteral("#context-1")) {
                cursor = QTextCursor(text->document());
                cursor.setPosition(it.fragment().position() + 1);
                break;
            }
    ASSERT_FALSE(cursor.isNull());
    const QPoint at = text->cursorRect(cursor).center();
    ASSERT_TRUE(text->viewport()->rect().contains(at));

    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, text->viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(text->viewport(), &e);
    }
    EXPECT_EQ(viewer->currentAnchor(), QStringLiteral("context-1"));
    EXPECT_GT(text->verticalScrollBar()->value(), 0);

    QToolButton* back = viewer->findChild<QToolButton*>(QStringLiteral("Bback"));
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(back->isEnabled());
    back->click();
    EXPECT_TRUE(viewer->currentAnchor().isEmpty());
}

TEST(HelpViewerFiles, MissingUnreadableOrEmptyFileIsRefusedNamingThePath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;

    const QString missing = dir.filePath(QStringLiteral("нет/varnok.hlp"));
    EXPECT_FALSE(HelpViewer::openFinder(missing, &error));
    EXPECT_TRUE(error.contains(missing)) << error.toStdString();

    error.clear();
    EXPECT_FALSE(HelpViewer::openContext(dir.path(), 1, &error));
    EXPECT_TRUE(error.contains(dir.path())) << error.toStdString();

    const QString plain = dir.filePath(QStringLiteral("plain.hlp"));
    write_file(plain, "not a help file\n");
    error.clear();
    EXPECT_FALSE(HelpViewer::openFinder(plain, &error));
    EXPECT_TRUE(error.contains(plain)) << error.toStdString();
}

TEST(HelpViewerFiles, EditedFileIsLoadedAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("varnok.hlp"));
    write_file(path, "<h1 id=\"a\">Первый</h1><p>x</p>");
    HelpViewer viewer;
    QString error;
    ASSERT_TRUE(viewer.load(path, &error)) << error.toStdString();
    EXPECT_EQ(viewer.contentsTitles(), QStringList{QStringLiteral("Первый")});

    write_file(path, "<h1 id=\"b\">Второй</h1><h2 id=\"context-8\">Группа</h2>");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    f.close();
    ASSERT_TRUE(viewer.load(path, &error)) << error.toStdString();
    EXPECT_EQ(viewer.contentsTitles(), (QStringList{QStringLiteral("Второй"), QStringLiteral("Группа")}));
    EXPECT_TRUE(viewer.showContext(8));
    EXPECT_FALSE(viewer.hasAnchor(QStringLiteral("a")));
}

TEST(HelpContext, NearestWidgetWithContextWins)
{
    QWidget window;
    window.setProperty("helpContext", 1);
    auto* group = new QGroupBox(&window);
    group->setProperty("helpContext", 5);
    auto* inner = new QWidget(group);
    inner->setProperty("helpContext", 0);  // no context of its own
    auto* edit = new QLineEdit(inner);
    auto* other = new QLineEdit(&window);

    EXPECT_EQ(helpContextFor(edit), 5);
    EXPECT_EQ(helpContextFor(group), 5);
    EXPECT_EQ(helpContextFor(other), 1);

    QWidget bare;
    EXPECT_EQ(helpContextFor(&bare), 0);
    EXPECT_EQ(helpContextFor(nullptr), 0);
}

}  // namespace
}  // namespace varnok
