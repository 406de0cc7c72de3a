#pragma once
// The program's help viewer: the help file (HTML) with a contents tree made from its
// headings, an index made from the links of its section "index", and the text itself.
// Context help finds the topic "context-N" for the context number N of a widget.

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace varnok {

class HelpViewer : public QWidget {
    Q_OBJECT

public:
    explicit HelpViewer(QWidget* parent = nullptr);
    ~HelpViewer() override;

    // The one viewer window of the program, created on first use.
    static HelpViewer* instance();

    // Open the viewer on the file's contents and index. False, with a Russian text naming
    // the path in `error`, when the file is missing, unreadable or has no topics.
    static bool openFinder(const QString& helpFile, QString* error);
    // Open the viewer at the topic of a context number; an unknown number opens the contents.
    static bool openContext(const QString& helpFile, int context, QString* error);

    // Anchor of a context topic in the help file.
    static QString contextAnchor(int context);

    // Loads the file unless it is already loaded and unchanged on disk.
    bool load(const QString& helpFile, QString* error);
    void showContents();
    // Shows the context topic; false (and the contents) when the file has none.
    bool showContext(int context);
    // Shows the topic at an anchor of the text; false when the text has no such anchor.
    bool showAnchor(const QString& anchor);

    bool hasAnchor(const QString& anchor) const { return anchors_.contains(anchor); }
    QString helpFile() const { return file_; }
    QString currentAnchor() const;

    // Contents titles in document order (nested topics after their parent), and the
    // index keywords in file order with the anchors they lead to.
    QStringList contentsTitles() const;
    QStringList indexKeywords() const;
    QString indexTarget(const QString& keyword) const;

    QTextBrowser* browser() const { return text_; }
    QTreeWidget* contentsTree() const { return contents_; }
    QListWidget* indexList() const { return index_; }
    QLineEdit* indexFilter() const { return filter_; }
    QTabWidget* tabs() const { return tabs_; }

private:
    void buildWindow();
    void wireControls();
    void openTopic(QTreeWidgetItem* item);
    void rebuild();
    void filterIndex(const QString& text);
    void activateIndexItem(QListWidgetItem* item);
    void activateFirstIndexItem();
    void selectContentsFor(const QString& anchor);

    QString file_;
    QDateTime loaded_stamp_;
    QSet<QString> anchors_;

    QTabWidget* tabs_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QListWidget* index_ = nullptr;
    QTextBrowser* text_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    QToolButton* home_ = nullptr;
};

// The help file beside the program's executable.
QString helpFilePath();

// Context number of a widget: the first dynamic property "helpContext" (a positive int)
// found on the widget or its parents; 0 when there is none.
int helpContextFor(const QWidget* widget);

}  // namespace varnok
