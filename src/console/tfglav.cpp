#include "console/tfglav.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QShortcut>
#include <QDate>
#include <QLocale>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <cstdio>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "console/busy.h"
#include "console/calib/calib_page.h"
#include "console/check/tfcheck.h"
#include "console/clickable.h"
#include "console/console_context.h"
#include "console/digit_filter.h"
#include "console/exchange_log.h"
#include "console/frame_log.h"
#include "console/help_viewer.h"
#include "console/message_box.h"
#include "console/params/params_page.h"
#include "console/port_list.h"
#include "console/profile_files.h"
#include "console/readable_colours.h"
#include "console/readings_page.h"
#include "console/search/device_search.h"
#include "console/search/tfmsg.h"
#include "console/tfabout.h"
#include "console/tfcomdcb.h"
#include "console/trend/tftrend.h"
#include "console/value_text.h"
#include "ui_tfglav.h"

namespace varnok {

namespace {

struct ToolButtonDesc {
    const char* name;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap icon;
};

constexpr ToolButtonDesc kPageButtons[] = {
    {"ToolButton9", "параметры", "параметры прибора", QStyle::SP_FileDialogDetailedView},
    {"ToolButton10", "показания", "показания прибора", QStyle::SP_ComputerIcon},
    {"ToolButton11", "калибровка", "калибровка прибора", QStyle::SP_DriveHDIcon},
};

constexpr ToolButtonDesc kExitButtons[] = {
    {"ToolButton13", "справка", "встроенная справка", QStyle::SP_DialogHelpButton},
    {"ToolButton14", "ВЫХОД", "завершение программы", QStyle::SP_DialogCloseButton},
};

struct PanelDesc {
    int width;
    const char* design_text;
};

constexpr std::array<PanelDesc, 6> kPanels = {{
    {80, "ПОРТ:"},
    {80, "Адрес"},
    {120, "Скорость:"},
    {100, "паритет:"},
    {100, "стопбит:"},
    {50, ""},
}};

// What a screen reader calls each panel: its design text, or what the message panel is for.
constexpr std::array<const char*, 6> kPanelNames = {"ПОРТ:", "Адрес", "Скорость:", "паритет:", "стопбит:", "сообщение"};

}  // namespace

TFglav::TFglav(ConsoleContext& ctx, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), ui_(std::make_unique<Ui::TFglav>())
{
    ui_->setupUi(this);
    setProperty("helpContext", 1);
    ctx_.notices.set_parent(this);

    log_ = new ExchangeLog(ui_->LBtuda, ui_->LBsuda, ui_->ListBox1, this);
    QSizePolicy keep = ui_->ListBox1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ui_->ListBox1->setSizePolicy(keep);

    build_tool_bar();
    build_status_bar();
    build_fast_exchange_box();

    readings_ = new ReadingsPage(
        ctx_, *log_, tool_button("ToolButton1"), [this](const QString& text) { set_status_panel(5, text); },
        ui_->TabSheet1);
    add_page(ui_->TabSheet1, readings_);
    calib_ = new CalibPage(
        ctx_, *log_, [this](const QString& text) { set_status_panel(5, text); },
        [this](bool set) { readings_->show_jumper(set); }, ui_->TabSheet3);
    add_page(ui_->TabSheet3, calib_);
    check_ = new TFcheck(ctx_, *log_, [this](const QString& text) { set_status_panel(5, text); }, this);
    connect(calib_, &CalibPage::checkRequested, this, &TFglav::N_checkClick);

    ParamsPage::Shell shell;
    shell.status = [this](const QString& text) { set_status_panel(5, text); };
    shell.show_line = [this](int row) { show_line_setting(row); };
    shell.show_sys_num = [this] { ui_->Esysnum->setText(QString::number(ctx_.link.settings().sys_num)); };
    params_ = new ParamsPage(ctx_, *log_, std::move(shell));
    add_page(ui_->TabSheet2, params_);
    // A click on a "Max" field of the readings page re-reads that channel's setpoints.
    connect(readings_, &ReadingsPage::setpointsClicked, params_, &ParamsPage::LE_maxClick);
    connect(params_, &ParamsPage::scaleWritten, readings_, &ReadingsPage::scale_written);

    ui_->UpDown_adr->setAssociate(ui_->Esysnum);
    ui_->UpDown_adr->setRange(1, 247);
    DigitFilter::install(ui_->Esysnum);
    Clickable::bind(ui_->Ed_name, [this] { Ed_nameClick(); });
    Clickable::bind(ui_->Ed_version, [this] { Ed_versionClick(); });

    // The separators of the menus carry names of their own.
    ui_->N_file->actions().at(4)->setObjectName(QStringLiteral("N10"));
    ui_->N_help->actions().at(2)->setObjectName(QStringLiteral("N16"));
    build_frame_log_item();
    build_profile_items();

    Timer_system.setObjectName(QStringLiteral("Timer_system"));
    Timer_system.setInterval(1000);
    ctx_.pump.hold_back(&Timer_system);
    connect(&Timer_system, &QTimer::timeout, this, &TFglav::Timer_systemTimer);

    connect_controls();
    // Every window of the program keeps its fixed colours readable on the palette in force.
    new ReadableColours(this);
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, &TFglav::context_help);
    FormCreate();
    Timer_system.start();
}

TFglav::~TFglav() { ctx_.link.set_tap(nullptr); }

void TFglav::set_windows(TFabout* about, TFcomdcb* comdcb, TFmsg* notice)
{
    about_ = about;
    comdcb_ = comdcb;

    auto* tool_bar = findChild<QToolBar*>(QStringLiteral("ToolBar1"));
    search_ = std::make_unique<DeviceSearch>(ctx_, DeviceSearch::Shell{*log_, *notice,
                                                                       [this](int panel, const QString& text) {
                                                                           set_status_panel(panel, text);
                                                                           panels_.at(size_t(panel))->repaint();
                                                                       },
                                                                       [this] { readings_->Timer_opros.stop(); },
                                                                       [this] {
                                                                           if (readings_->periodic_opros)
                                                                               readings_->Timer_opros.start();
                                                                       },
                                                                       [tool_bar] { tool_bar->setVisible(true); }});
    // The notice gone, the main window is where the engineer is back: the activation runs,
    // so that the device found is asked and shown. Done here rather than left to the focus,
    // which the notice never takes.
    connect(ui_->N_poisk_pribor, &QAction::triggered, this, [this] {
        search_->N_poisk_priborClick();
        FormActivate();
    });
    connect(ui_->N_poisk_num, &QAction::triggered, this, [this] {
        search_->N_poisk_numClick();
        FormActivate();
    });
    connect(ui_->N_poisk_scor, &QAction::triggered, this, [this] {
        search_->N_poisk_scorClick();
        FormActivate();
    });
    connect(ui_->N_yes_otvet, &QAction::triggered, this, [this] { search_->N_yes_otvetClick(); });
}

void TFglav::build_tool_bar()
{
    QToolBar* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    addToolBar(Qt::TopToolBarArea, bar);

    auto add = [&](const ToolButtonDesc& desc) {
        auto* b = new QToolButton(bar);
        b->setObjectName(QLatin1String(desc.name));
        b->setText(QString::fromUtf8(desc.caption));
        b->setToolTip(QString::fromUtf8(desc.hint));
        b->setAccessibleName(b->text());
        b->setIcon(style()->standardIcon(desc.icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setMinimumWidth(72);
        bar->addWidget(b);
        return b;
    };
    QToolButton* pusk = add({"ToolButton1", "пуск", "запуск\\останов периодического опроса", QStyle::SP_MediaPlay});
    pusk->setCheckable(true);
    // Toggled, not clicked: a screen reader's toggle must start and stop polling as a click does.
    connect(pusk, &QToolButton::toggled, this, [this] { readings_->ToolButton1Click(); });
    QToolButton* stop = add({"ToolButton2", "стоп", "", QStyle::SP_MediaStop});
    bar->actions().last()->setVisible(false);
    stop->setAccessibleName(QStringLiteral("стоп"));
    for (int i = 0; i < 3; ++i)
        bar->addSeparator();
    for (const auto& desc : kPageButtons)
        add(desc);
    bar->addSeparator();
    for (const auto& desc : kExitButtons)
        add(desc);
}

// "журнал обмена в файл" in the menu "файл", above the separator before "выход". The link
// tells the log of every frame; the file is written only while the item is checked.
void TFglav::build_frame_log_item()
{
    FrameLog& frames = log_->frames();
    ctx_.link.set_tap(&frames);
    // The link, not this window: the log writes its last answer while the window is destroyed.
    frames.set_port([&link = ctx_.link] {
        const std::string path = link.last_path().empty() ? std::string() : " " + link.last_path();
        return QString::fromStdString(link.settings().name_comport + path);
    });
    ctx_.pump.hold_back(&frames.settle_timer);
    auto* item = new QAction(QStringLiteral("журнал обмена в файл"), this);
    item->setObjectName(QStringLiteral("N_zhurnal"));
    item->setCheckable(true);
    item->setToolTip(QStringLiteral("запись всех запросов и ответов в ") + FrameLog::folder());
    ui_->N_file->insertAction(ui_->N_file->actions().at(4), item);
    connect(item, &QAction::toggled, this, &TFglav::N_zhurnalClick);
}

// "конфигурация прибора в файл…", "…из файла…" and "калибровка прибора из файла…" in the
// menu "файл", above the frame log.
void TFglav::build_profile_items()
{
    profiles_ = std::make_unique<ProfileFiles>(
        ctx_, *log_,
        ProfileFiles::Shell{this, [this](const QString& text) { set_status_panel(5, text); },
                            [this] {
                                show_connection();
                                ui_->Esysnum->setText(QString::number(ctx_.link.settings().sys_num));
                            },
                            [this] { readings_->zapros_par(1); }});
    QAction* frame_log = findChild<QAction*>(QStringLiteral("N_zhurnal"));
    const std::pair<const char*, void (ProfileFiles::*)()> items[] = {
        {"N_conf_save", &ProfileFiles::N_conf_saveClick},
        {"N_conf_load", &ProfileFiles::N_conf_loadClick},
        {"N_conf_load_calib", &ProfileFiles::N_conf_load_calibClick},
    };
    const QString captions[] = {QStringLiteral("конфигурация прибора в файл…"),
                                QStringLiteral("конфигурация прибора из файла…"),
                                QStringLiteral("калибровка прибора из файла…")};
    for (size_t i = 0; i < std::size(items); ++i) {
        auto* item = new QAction(captions[i], this);
        item->setObjectName(QLatin1String(items[i].first));
        ui_->N_file->insertAction(frame_log, item);
        connect(item, &QAction::triggered, this,
                [this, handler = items[i].second] { when_idle([this, handler] { (profiles_.get()->*handler)(); }); });
    }
}

void TFglav::N_zhurnalClick(bool on)
{
    log_->frames().set_enabled(on);
    if (!ctx_.settings.set_frame_log(on))
        log_->append(QString::fromStdString(ctx_.settings.problem()));
}

void TFglav::apply_frame_log(bool on)
{
    auto* item = findChild<QAction*>(QStringLiteral("N_zhurnal"));
    const QSignalBlocker quiet(item);
    item->setChecked(on);
    log_->frames().set_enabled(on);
}

void TFglav::build_status_bar()
{
    for (size_t i = 0; i < kPanels.size(); ++i) {
        auto* panel = new QLabel(QString::fromUtf8(kPanels[i].design_text), ui_->StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setAccessibleName(QString::fromUtf8(kPanelNames[i]));
        panel->setMinimumWidth(kPanels[i].width);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        ui_->StatusBar1->addWidget(panel, i + 1 == kPanels.size() ? 1 : 0);
        panels_[i] = panel;
    }
}

// The opt-in fast exchange, a check box under the poll period.
void TFglav::build_fast_exchange_box()
{
    auto* box = new QCheckBox(QStringLiteral("быстрый обмен"), ui_->Panel_left);
    box->setObjectName(QStringLiteral("ChBfast_obmen"));
    box->setAccessibleName(box->text());
    box->setToolTip(
        QStringLiteral("быстрый обмен: ответ принимается, как только пришёл целиком, "
                       "паузы вокруг запроса - 3,5 символа линии"));
    QGridLayout* column = ui_->leftLayout;
    int row = 0, col = 0, rows = 0, cols = 0;
    column->getItemPosition(column->indexOf(ui_->leftSpacer), &row, &col, &rows, &cols);
    column->removeItem(ui_->leftSpacer);
    column->addWidget(box, row, 0, 1, 2);
    column->addItem(ui_->leftSpacer, row + 1, 0, 1, 2);
    // Toggled, not clicked: a screen reader's toggle must switch the mode as a click does.
    connect(box, &QCheckBox::toggled, this, &TFglav::ChBfast_obmenClick);
}

// A page fills its sheet, and scrolls where the window is smaller than the page.
void TFglav::add_page(QWidget* sheet, QWidget* page)
{
    auto* scroll = new QScrollArea(sheet);
    scroll->setObjectName(sheet->objectName() + QStringLiteral("_scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(scroll);
}

QToolButton* TFglav::tool_button(const char* name) const { return findChild<QToolButton*>(QLatin1String(name)); }

QString TFglav::status_panel(int index) const { return panels_.at(size_t(index))->text(); }

void TFglav::set_status_panel(int index, const QString& text) { panels_.at(size_t(index))->setText(text); }

void TFglav::connect_controls()
{
    using Combo = QComboBox;
    connect(ui_->CBport, &Combo::activated, this, &TFglav::CBportChange);
    connect(ui_->CBport, &PortList::opening, this, &TFglav::show_port_paths);
    connect(ui_->CBscor, &Combo::activated, this, &TFglav::CBscorChange);
    connect(ui_->CBparity, &Combo::activated, this, &TFglav::CBparityChange);
    connect(ui_->CBstopbit, &Combo::activated, this, &TFglav::CBstopbitChange);
    connect(ui_->CBtime_opros, &Combo::activated, this,
            [this](int i) { readings_->CBtime_oprosChange(i); });
    connect(ui_->Binitport, &QPushButton::clicked, this, &TFglav::BinitportClick);
    connect(ui_->UpDown_adr, &UpDown::changingEx, this, &TFglav::UpDown_adrChangingEx);
    connect(ui_->Esysnum, &QLineEdit::textChanged, this, &TFglav::EsysnumChange);
    connect(ui_->PageControl1, &QTabWidget::currentChanged, this, &TFglav::page_changed);

    connect(tool_button("ToolButton9"), &QToolButton::clicked, this, &TFglav::ToolButton9Click);
    connect(tool_button("ToolButton10"), &QToolButton::clicked, this, &TFglav::ToolButton10Click);
    connect(tool_button("ToolButton11"), &QToolButton::clicked, this, &TFglav::ToolButton11Click);
    connect(tool_button("ToolButton13"), &QToolButton::clicked, this, &TFglav::N_spravkaClick);
    connect(tool_button("ToolButton14"), &QToolButton::clicked, this, &TFglav::N_closeClick);

    connect(ui_->N_pokazania, &QAction::triggered, this, &TFglav::ToolButton10Click);
    connect(ui_->N_params, &QAction::triggered, this, &TFglav::ToolButton9Click);
    connect(ui_->N_calibr, &QAction::triggered, this, &TFglav::ToolButton11Click);
    connect(ui_->N_check, &QAction::triggered, this, &TFglav::N_checkClick);
    connect(ui_->N_spravka, &QAction::triggered, this, &TFglav::N_spravkaClick);
    connect(ui_->N_about, &QAction::triggered, this, &TFglav::N_aboutClick);
    connect(ui_->N_obCOM, &QAction::triggered, this, &TFglav::N_obCOMClick);
    connect(ui_->N_close, &QAction::triggered, this, &TFglav::N_closeClick);
    connect(ui_->N_close1, &QAction::triggered, this, &TFglav::N_closeClick);
}

void TFglav::FormCreate()
{
    help_file_ = QStringLiteral("varnok.hlp");
    // The designed size where the screen has room for it; a smaller screen (a 1366 x 768
    // laptop) gets a window that fits, with pages that scroll.
    const QRect screen = QApplication::primaryScreen() ? QApplication::primaryScreen()->availableGeometry() : QRect();
    if (screen.isValid()) {
        const QSize frame = frameGeometry().size() - geometry().size();
        resize(size().boundedTo(screen.size() - frame));
        move(screen.center() - rect().center());
    }
    ui_->PageControl1->setCurrentWidget(ui_->TabSheet1);

    Link& link = ctx_.link;
    link.set_line(kDefaultLinkSettings);
    ctx_.settings.set_poll_period(kDefaultPollPeriod);
    ParamsPage& p = *params_;
    p.new_sys_num = 1;
    p.new_scor = 2;
    p.new_parity = 0;
    p.new_stopbit = 1;
    for (auto* pending : {&p.new_ustavka, &p.new_max, &p.new_min})
        pending->fill(0);
    for (auto* pending : {&p.new_decpos, &p.new_mes, &p.new_decposmax, &p.new_decposmin})
        pending->fill(0);

    readings_->Timer_opros.stop();
    readings_->periodic_opros = false;
    readings_->periodic_opros_in_process = false;
    calib_->FormCreate();
    ui_->Esysnum->setText(QString::number(link.settings().sys_num));
    ui_->UpDown_adr->setPosition(link.settings().sys_num);
}

void TFglav::show_connection()
{
    const LinkSettings& line = ctx_.link.settings();
    ui_->CBport->setCurrentIndex(line.num_name_comport - 1);
    for (int row : {kRowScor, kRowParity, kRowStopbit})
        show_line_setting(row);
    ui_->CBtime_opros->setCurrentIndex(ctx_.settings.poll_period_index());
    auto* fast = findChild<QCheckBox*>(QStringLiteral("ChBfast_obmen"));
    const QSignalBlocker quiet(fast);
    fast->setChecked(line.fast_exchange);
    show_port_paths();
}

// The speed list shows the speed the port runs at: `num_scor` may hold the code the
// device reported, which need not be the line's.
void TFglav::show_line_setting(int row)
{
    const LinkSettings& line = ctx_.link.settings();
    switch (row) {
    case kRowScor: ui_->CBscor->setCurrentIndex(number_scor(line.scor_obmena) - 1); break;
    case kRowParity: ui_->CBparity->setCurrentIndex(line.parity <= 2 ? line.parity : -1); break;
    case kRowStopbit:
        ui_->CBstopbit->setCurrentIndex(line.stopbit == 1 || line.stopbit == 2 ? line.stopbit - 1 : -1);
        break;
    default: break;
    }
}

// Each port name's tool tip tells the device it stands for now: adapters come and go.
void TFglav::show_port_paths()
{
    const std::vector<std::string> present = PortMap::present_devices();
    for (int i = 0; i < ui_->CBport->count(); ++i) {
        const std::string path = ctx_.ports.resolve(txt_name_comport[size_t(i)], present);
        ui_->CBport->setItemData(i, path.empty() ? QStringLiteral("нет устройства") : QString::fromStdString(path),
                                 Qt::ToolTipRole);
    }
}

void TFglav::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_page_ < 0)
        page_changed(ui_->PageControl1->currentIndex());
}

void TFglav::page_changed(int index)
{
    if (shown_page_ == 0)
        readings_->TabSheet1Hide();
    else if (shown_page_ == 2)
        calib_->TabSheet3Hide();
    shown_page_ = index;
    if (index == 0)
        readings_->TabSheet1Show();
    else if (index == 1)
        params_->TabSheet2Show();
    else if (index == 2)
        calib_->TabSheet3Show();
}

void TFglav::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        activation_changed();
}

// Activation runs on the first activation and on each return from another window of the
// program; a modal box coming and going, or another program taking the focus, does not count.
// The help viewer counts as another program: reading help neither pauses polling nor
// re-runs the activation.
void TFglav::activation_changed()
{
    if (isActiveWindow()) {
        const bool run = !activated_once_ || left_for_own_window_;
        activated_once_ = true;
        left_for_own_window_ = false;
        // After the events already queued, the window's first painting among them: the
        // activation blocks while it asks the device, which on a silent line takes a while.
        if (run)
            QTimer::singleShot(0, this, [this] { when_idle([this] { FormActivate(); }); });
        return;
    }
    if (QApplication::activeModalWidget())
        return;
    QWidget* other = QApplication::activeWindow();
    // The trend window is watched while polling goes on: it does not pause the poll either.
    // The search notice is no window of its own either, wherever a platform gives it the
    // focus: the search ends with the activation itself.
    if (other && other != this && !qobject_cast<HelpViewer*>(other) && !qobject_cast<TFtrend*>(other) &&
        !qobject_cast<TFmsg*>(other)) {
        left_for_own_window_ = true;
        FormDeactivate();  // stopping a timer is safe inside any handler
    }
}

// Runs `action` now, or once the handler that is talking to the device has finished.
void TFglav::when_idle(std::function<void()> action)
{
    if (ctx_.busy == 0) {
        action();
        return;
    }
    QTimer::singleShot(10, this, [this, action = std::move(action)]() mutable { when_idle(std::move(action)); });
}

void TFglav::FormActivate()
{
    Busy busy(ctx_.busy);
    const LinkSettings& line = ctx_.link.settings();
    ui_->Esysnum->setText(QString::number(line.sys_num));
    ui_->Ecur_sysnum->setText(QString::number(line.sys_num));
    ui_->Esysnum->repaint();
    ui_->Ecur_sysnum->repaint();
    {
        const QSignalBlocker quiet(ui_->CBtime_opros);
        ui_->CBtime_opros->setCurrentIndex(ctx_.settings.poll_period_index());
    }
    calib_->calibration().start_session();
    if (readings_->polling().attach()) {
        readings_->zapros_par(1);
        Ed_nameClick();
        Ed_versionClick();
        findChild<QToolBar*>(QStringLiteral("ToolBar1"))->setVisible(true);
    }
    set_status_panel(0, QStringLiteral(" Порт: ") + QString::fromStdString(line.name_comport));
    set_status_panel(1, QStringLiteral(" Адрес: ") + QString::number(line.sys_num));
    set_status_panel(2, QStringLiteral(" Скорость: ") + QString::number(line.scor_obmena));
    set_status_panel(3, QStringLiteral(" паритет: ") + QString::fromStdString(parity_text(line.parity)));
    set_status_panel(4, QStringLiteral(" стопбит:") + QString::number(line.stopbit));
    readings_->Timer_opros.setInterval(1000);
}

void TFglav::FormDeactivate() { readings_->Timer_opros.stop(); }

void TFglav::closeEvent(QCloseEvent* event)
{
    // The line settings and the poll period go to the settings file. A failure is told before
    // the program ends (the information window is closing with it), and on standard error.
    if (!ctx_.settings.ToIni(false) && !ctx_.settings.problem().empty()) {
        const QString problem = QString::fromStdString(ctx_.settings.problem());
        std::fprintf(stderr, "varnok: %s\n", ctx_.settings.problem().c_str());
        log_->append(problem);
        MessageBox::show(this, QStringLiteral("Настройки не сохранены"), problem);
    }
    event->accept();
    // Closing the main window ends the program, whatever else of it is open (the help viewer).
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
}

// The status panels stay in view: hints are in tool tips, never in the status bar.
bool TFglav::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

QMenu* TFglav::createPopupMenu() { return nullptr; }

void TFglav::BinitportClick()
{
    Busy busy(ctx_.busy);
    ctx_.link.set_up_port();
    const LinkSettings& line = ctx_.link.settings();
    const QString lines[] = {
        QStringLiteral("U=") + QString::number(line.scor_obmena),
        QStringLiteral("bytesize=") + QString::number(line.bytesize),
        QStringLiteral("P=") + QString::number(line.parity),
        QStringLiteral("Sp=") + QString::number(line.stopbit),
        QStringLiteral("RTI=") + QString::number(line.timeouts.R_IntervalTimeout),
        QStringLiteral("RTTM=") + QString::number(line.timeouts.R_TotalTimeoutMultiplier),
        QStringLiteral("RTTC=") + QString::number(line.timeouts.R_TotalTimeoutConstant),
        QStringLiteral("WTTM=") + QString::number(line.timeouts.W_TotalTimeoutMultiplier),
        QStringLiteral("WTTC=") + QString::number(line.timeouts.W_TotalTimeoutConstant),
    };
    QListWidget* list = ui_->LB_initport;
    for (int i = 0; i < int(std::size(lines)); ++i) {
        if (i < list->count())
            list->item(i)->setText(lines[i]);
        else
            list->addItem(lines[i]);
    }
}

// The list's items are the port names in order, "COM1" to "COM16".
void TFglav::CBportChange(int index) { ctx_.link.set_port(static_cast<uint8_t>(index + 1)); }

// The list's items are the six speeds in order of their codes.
void TFglav::CBscorChange(int index) { ctx_.link.set_speed_code(static_cast<uint8_t>(index + 1)); }

void TFglav::CBparityChange(int index) { ctx_.link.set_parity(static_cast<uint8_t>(index)); }

void TFglav::CBstopbitChange(int index) { ctx_.link.set_stopbit(static_cast<uint8_t>(index + 1)); }

void TFglav::UpDown_adrChangingEx(bool& AllowChange, int NewValue, int /*Direction*/)
{
    if (NewValue >= ui_->UpDown_adr->min() && NewValue <= ui_->UpDown_adr->max())
        ctx_.link.set_sys_num(static_cast<uint8_t>(NewValue));
    AllowChange = true;
}

void TFglav::ChBfast_obmenClick(bool checked) { ctx_.link.set_fast_exchange(checked); }

void TFglav::EsysnumChange() { ui_->Ecur_sysnum->setText(QString::number(ctx_.link.settings().sys_num)); }

void TFglav::ToolButton10Click() { ui_->PageControl1->setCurrentIndex(0); }

void TFglav::ToolButton9Click() { ui_->PageControl1->setCurrentIndex(1); }

void TFglav::ToolButton11Click() { ui_->PageControl1->setCurrentIndex(2); }

void TFglav::N_closeClick() { close(); }

void TFglav::N_checkClick()
{
    when_idle([this] { check_->open(); });
}

void TFglav::N_aboutClick()
{
    if (about_)
        about_->exec();
}

void TFglav::N_obCOMClick()
{
    if (comdcb_) {
        comdcb_->refresh();
        comdcb_->show();
    }
}

// A bare help file name is looked for beside the program, as the help viewer expects.
QString TFglav::help_path() const { return QDir(QCoreApplication::applicationDirPath()).filePath(help_file_); }

void TFglav::N_spravkaClick()
{
    help_file_ = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("varnok.hlp"));
    QString error;
    if (!HelpViewer::openFinder(help_path(), &error))
        MessageBox::show(this, error);
}

void TFglav::context_help()
{
    QWidget* focused = QApplication::focusWidget();
    const int context = helpContextFor(focused ? focused : this);
    QString error;
    if (!HelpViewer::openContext(help_path(), context, &error))
        MessageBox::show(this, error);
}

void TFglav::Timer_systemTimer()
{
    const QDateTime now = QDateTime::currentDateTime();
    ui_->Edit_cur_date->setText(QStringLiteral("дата ") + QLocale().toString(now.date(), QLocale::ShortFormat));
    ui_->Edit_cur_time->setText(QStringLiteral(" время ") + long_time(now.time()));
    ui_->Edit_cur_date->repaint();
    ui_->Edit_cur_time->repaint();
}

void TFglav::show_text(bool read, QLineEdit* field)
{
    if (read)
        field->setText(QString::fromStdString(ctx_.device.tmp_text()));
    field->repaint();
}

void TFglav::Ed_nameClick()
{
    Busy busy(ctx_.busy);
    show_text(readings_->polling().read_name(), ui_->Ed_name);
}

void TFglav::Ed_versionClick()
{
    Busy busy(ctx_.busy);
    show_text(readings_->polling().read_version(), ui_->Ed_version);
}

}  // namespace varnok
