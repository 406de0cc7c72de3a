#include "console/help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "console/readable_colours.h"

namespace varnok {

namespace {

// The help file's own colours (headings, notes, code, table heads) made readable on the
// palette in force; a change of the application's palette shows the page again in new colours.
class ReadableBrowser : public QTextBrowser {
public:
    QVariant loadResource(int type, const QUrl& name) override
    {
        QVariant data = QTextBrowser::loadResource(type, name);
        if (type != QTextDocument::HtmlResource)
            return data;
        QString html = data.typeId() == QMetaType::QString ? data.toString() : QString::fromUtf8(data.toByteArray());
        static const QRegularExpression style(
            QStringLiteral("(<style[^>]*>)(.*?)(</style>)"),
            QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = style.match(html);
        if (m.hasMatch())
            html.replace(
                m.capturedStart(2), m.capturedLength(2),
                readable_style(m.captured(2), palette().color(QPalette::Text), palette().color(QPalette::Base)));
        return html;
    }

protected:
    void changeEvent(QEvent* event) override
    {
        QTextBrowser::changeEvent(event);
        if (event->type() == QEvent::PaletteChange && !source().isEmpty())
            reload();
    }
};

}  // namespace

namespace {

constexpr int kAnchorRole = Qt::UserRole;
constexpr int kPositionRole = Qt::UserRole + 1;
constexpr int kLevelRole = Qt::UserRole + 2;

// Heading whose links make the index.
const QString kIndexAnchor = QStringLiteral("index");

QPointer<HelpViewer>& the_viewer()
{
    static QPointer<HelpViewer> viewer;
    return viewer;
}

// Top-level windows are not deleted by the application; the viewer goes with it.
void delete_viewer() { delete the_viewer().data(); }

void set_error(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

void bring_up(QWidget* w)
{
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("справка"));
    buildWindow();
    wireControls();
}

// The buttons above, the contents and the index on the left, the text on the right.
void HelpViewer::buildWindow()
{
    back_ = new QToolButton(this);
    back_->setObjectName(QStringLiteral("Bback"));
    back_->setText(QStringLiteral("◀ назад"));
    back_->setEnabled(false);
    forward_ = new QToolButton(this);
    forward_->setObjectName(QStringLiteral("Bforward"));
    forward_->setText(QStringLiteral("вперёд ▶"));
    forward_->setEnabled(false);
    home_ = new QToolButton(this);
    home_->setObjectName(QStringLiteral("Bcontents"));
    home_->setText(QStringLiteral("содержание"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home_);
    buttons->addStretch(1);

    contents_ = new QTreeWidget;
    contents_->setObjectName(QStringLiteral("TVcontents"));
    contents_->setHeaderHidden(true);
    contents_->setAccessibleName(QStringLiteral("содержание справки"));

    filter_ = new QLineEdit;
    filter_->setObjectName(QStringLiteral("Eindex_filter"));
    filter_->setPlaceholderText(QStringLiteral("начните вводить слово"));
    filter_->setClearButtonEnabled(true);
    filter_->setAccessibleName(QStringLiteral("поиск в указателе"));
    index_ = new QListWidget;
    index_->setObjectName(QStringLiteral("LBindex"));
    index_->setAccessibleName(QStringLiteral("указатель справки"));
    auto* index_page = new QWidget;
    auto* index_layout = new QVBoxLayout(index_page);
    index_layout->setContentsMargins(0, 0, 0, 0);
    index_layout->addWidget(filter_);
    index_layout->addWidget(index_);

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("TabsHelp"));
    tabs_->addTab(contents_, QStringLiteral("Содержание"));
    tabs_->addTab(index_page, QStringLiteral("Указатель"));

    text_ = new ReadableBrowser;
    text_->setObjectName(QStringLiteral("TBtext"));
    text_->setOpenExternalLinks(true);
    text_->setAccessibleName(QStringLiteral("текст справки"));

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tabs_);
    splitter->addWidget(text_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({340, 660});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    resize(1000, 700);
}

void HelpViewer::wireControls()
{
    connect(back_, &QToolButton::clicked, text_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, text_, &QTextBrowser::forward);
    connect(text_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(text_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(home_, &QToolButton::clicked, this, &HelpViewer::showContents);
    connect(text_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) { selectContentsFor(url.fragment()); });

    connect(contents_, &QTreeWidget::itemClicked, this, &HelpViewer::openTopic);
    connect(contents_, &QTreeWidget::itemActivated, this, &HelpViewer::openTopic);

    connect(filter_, &QLineEdit::textChanged, this, &HelpViewer::filterIndex);
    connect(filter_, &QLineEdit::returnPressed, this, &HelpViewer::activateFirstIndexItem);
    connect(index_, &QListWidget::itemClicked, this, &HelpViewer::activateIndexItem);
    connect(index_, &QListWidget::itemActivated, this, &HelpViewer::activateIndexItem);
}

void HelpViewer::openTopic(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const QString anchor = item->data(0, kAnchorRole).toString();
    if (!anchor.isEmpty()) {
        showAnchor(anchor);
        return;
    }
    // A heading without an anchor: scroll to its place.
    QTextCursor cursor(text_->document());
    cursor.setPosition(item->data(0, kPositionRole).toInt());
    text_->setTextCursor(cursor);
    text_->verticalScrollBar()->setValue(static_cast<int>(text_->cursorRect().top()) +
                                         text_->verticalScrollBar()->value());
}

HelpViewer::~HelpViewer() = default;

HelpViewer* HelpViewer::instance()
{
    QPointer<HelpViewer>& viewer = the_viewer();
    if (!viewer) {
        static bool registered = false;
        if (!registered) {
            qAddPostRoutine(delete_viewer);
            registered = true;
        }
        viewer = new HelpViewer;
    }
    return viewer;
}

bool HelpViewer::openFinder(const QString& helpFile, QString* error)
{
    HelpViewer* v = instance();
    if (!v->load(helpFile, error))
        return false;
    v->showContents();
    bring_up(v);
    return true;
}

bool HelpViewer::openContext(const QString& helpFile, int context, QString* error)
{
    HelpViewer* v = instance();
    if (!v->load(helpFile, error))
        return false;
    v->showContext(context);
    bring_up(v);
    return true;
}

QString HelpViewer::contextAnchor(int context) { return QStringLiteral("context-%1").arg(context); }

bool HelpViewer::load(const QString& helpFile, QString* error)
{
    const QFileInfo info(helpFile);
    const QString path = info.absoluteFilePath();
    if (!info.exists()) {
        set_error(error, QStringLiteral("Файл справки не найден: %1").arg(path));
        return false;
    }
    if (!info.isFile()) {
        set_error(error, QStringLiteral("%1 — не файл справки, а каталог или устройство").arg(path));
        return false;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        set_error(error, QStringLiteral("Не удаётся прочитать файл справки %1: %2").arg(path, probe.errorString()));
        return false;
    }
    probe.close();

    const QDateTime stamp = info.lastModified();
    if (path == file_ && stamp == loaded_stamp_)
        return true;

    file_.clear();
    const QUrl url = QUrl::fromLocalFile(path);
    if (text_->source().adjusted(QUrl::RemoveFragment) == url)
        text_->reload();  // the same file, edited since it was loaded
    else
        text_->setSource(url, QTextDocument::HtmlResource);
    text_->clearHistory();
    rebuild();
    if (contents_->topLevelItemCount() == 0) {
        text_->clear();
        set_error(error, QStringLiteral("В файле справки %1 нет ни одного раздела").arg(path));
        return false;
    }
    file_ = path;
    loaded_stamp_ = stamp;
    const QString title = text_->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("справка") : title);
    return true;
}

void HelpViewer::rebuild()
{
    contents_->clear();
    index_->clear();
    filter_->clear();
    anchors_.clear();

    std::vector<QTreeWidgetItem*> open_levels;  // the latest heading of each level above
    bool in_index = false;
    QString link_href, link_text;
    auto flush_link = [&] {
        if (in_index && link_href.startsWith('#') && !link_text.trimmed().isEmpty()) {
            auto* item = new QListWidgetItem(link_text.simplified(), index_);
            item->setData(kAnchorRole, link_href.mid(1));
        }
        link_href.clear();
        link_text.clear();
    };

    const QTextDocument* doc = text_->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QString first_anchor;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            for (const QString& name : format.anchorNames()) {
                anchors_.insert(name);
                if (first_anchor.isEmpty())
                    first_anchor = name;
            }
            const QString href = format.isAnchor() ? format.anchorHref() : QString();
            if (href != link_href)
                flush_link();
            link_href = href;
            if (!href.isEmpty())
                link_text += fragment.text();
        }
        flush_link();

        const int level = block.blockFormat().headingLevel();
        if (level <= 0)
            continue;
        in_index = first_anchor == kIndexAnchor;
        while (!open_levels.empty() && open_levels.back()->data(0, kLevelRole).toInt() >= level)
            open_levels.pop_back();
        auto* item = open_levels.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(open_levels.back());
        item->setText(0, block.text().simplified());
        item->setData(0, kAnchorRole, first_anchor);
        item->setData(0, kPositionRole, block.position());
        item->setData(0, kLevelRole, level);
        open_levels.push_back(item);
    }
    contents_->expandToDepth(0);
}

void HelpViewer::showContents()
{
    tabs_->setCurrentIndex(0);
    text_->setSource(QUrl::fromLocalFile(file_), QTextDocument::HtmlResource);
    text_->verticalScrollBar()->setValue(0);
    if (contents_->topLevelItemCount() > 0)
        contents_->setCurrentItem(contents_->topLevelItem(0));
}

bool HelpViewer::showContext(int context)
{
    if (context > 0 && showAnchor(contextAnchor(context))) {
        tabs_->setCurrentIndex(0);
        return true;
    }
    showContents();
    return false;
}

bool HelpViewer::showAnchor(const QString& anchor)
{
    if (file_.isEmpty() || !anchors_.contains(anchor))
        return false;
    QUrl url = QUrl::fromLocalFile(file_);
    url.setFragment(anchor);
    text_->setSource(url, QTextDocument::HtmlResource);
    return true;
}

QString HelpViewer::currentAnchor() const { return text_->source().fragment(); }

QStringList HelpViewer::contentsTitles() const
{
    QStringList titles;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it)
        titles << (*it)->text(0);
    return titles;
}

QStringList HelpViewer::indexKeywords() const
{
    QStringList words;
    for (int i = 0; i < index_->count(); ++i)
        words << index_->item(i)->text();
    return words;
}

QString HelpViewer::indexTarget(const QString& keyword) const
{
    for (int i = 0; i < index_->count(); ++i)
        if (index_->item(i)->text() == keyword)
            return index_->item(i)->data(kAnchorRole).toString();
    return {};
}

void HelpViewer::filterIndex(const QString& text)
{
    const QString wanted = text.trimmed();
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < index_->count(); ++i) {
        QListWidgetItem* item = index_->item(i);
        const bool match = item->text().contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!match);
        if (match && !first)
            first = item;
    }
    if (first)
        index_->setCurrentItem(first);
}

void HelpViewer::activateFirstIndexItem()
{
    QListWidgetItem* item = index_->currentItem();
    for (int i = 0; (!item || item->isHidden()) && i < index_->count(); ++i)
        item = index_->item(i);
    if (item && !item->isHidden())
        activateIndexItem(item);
}

void HelpViewer::activateIndexItem(QListWidgetItem* item)
{
    if (item)
        showAnchor(item->data(kAnchorRole).toString());
}

void HelpViewer::selectContentsFor(const QString& anchor)
{
    if (anchor.isEmpty())
        return;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it)
        if ((*it)->data(0, kAnchorRole).toString() == anchor) {
            contents_->setCurrentItem(*it);
            return;
        }
}

QString helpFilePath() { return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("varnok.hlp")); }

int helpContextFor(const QWidget* widget)
{
    for (; widget; widget = widget->parentWidget()) {
        bool ok = false;
        const int context = widget->property("helpContext").toInt(&ok);
        if (ok && context > 0)
            return context;
    }
    return 0;
}

}  // namespace varnok
