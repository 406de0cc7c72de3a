#include "console/tfcomdcb.h"

#include <QLineEdit>
#include <cstring>

#include "link/link.h"
#include "ui_tfcomdcb.h"

namespace varnok {

namespace {

const QString kNone = QStringLiteral("—");

// Parity and stop-bit codes of the line record.
QString parity_name(uint8_t code)
{
    static const char* const names[] = {"нет", "нечёт", "чёт", "маркер", "пробел"};
    return code < std::size(names) ? QString::fromUtf8(names[code]) : QString::number(code);
}

QString stop_bits_name(uint8_t code)
{
    switch (code) {
    case 0: return QStringLiteral("1");
    case 1: return QStringLiteral("1,5");
    case 2: return QStringLiteral("2");
    default: return QString::number(code);
    }
}

void put(QLineEdit* edit, const QString& text)
{
    edit->setText(text);
    edit->setToolTip(text);
    edit->setCursorPosition(0);
}

}  // namespace

TFcomdcb::TFcomdcb(const Link& link, QWidget* parent)
    : QWidget(parent, Qt::Tool), link_(link), ui(std::make_unique<Ui::TFcomdcb>())
{
    ui->setupUi(this);
    connect(ui->Brefresh, &QPushButton::clicked, this, &TFcomdcb::refresh);
    refresh();
}

TFcomdcb::~TFcomdcb() = default;

void TFcomdcb::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

void TFcomdcb::refresh()
{
    const bool open = link_.hcom().is_open();
    const std::string& name = link_.settings().name_comport;

    put(ui->Eport, QString::fromStdString(name));
    // While closed, the path the name would resolve to now.
    const std::string path = open ? link_.last_path() : link_.ports().resolve(name);
    put(ui->Edevice,
        path.empty() ? QStringLiteral("не сопоставлен ни одному устройству") : QString::fromStdString(path));
    put(ui->Estate, open ? QStringLiteral("открыт") : QStringLiteral("закрыт"));
    put(ui->Efailure, link_.last_failure().empty() ? QStringLiteral("нет")
                                                 : QString::fromStdString(link_.last_failure()).replace('\n', ' '));

    QLineEdit* const line[] = {ui->Ebaud, ui->Ebytesize, ui->Eparity, ui->Estopbits};
    Dcb dcb;
    const int e = open ? link_.hcom().get_state(dcb) : 0;
    if (!open) {
        for (QLineEdit* edit : line)
            put(edit, kNone);
    } else if (e != 0) {
        put(ui->Ebaud, QStringLiteral("ошибка чтения: %1").arg(QString::fromLocal8Bit(std::strerror(e))));
        for (QLineEdit* edit : {ui->Ebytesize, ui->Eparity, ui->Estopbits})
            put(edit, kNone);
    } else {
        put(ui->Ebaud, QString::number(dcb.BaudRate));
        put(ui->Ebytesize, QString::number(dcb.ByteSize));
        put(ui->Eparity, parity_name(dcb.Parity));
        put(ui->Estopbits, stop_bits_name(dcb.StopBits));
    }

    // The time-outs the last opening set on the port.
    const CommTimeouts& t = link_.commtimeouts();
    const std::pair<QLineEdit*, uint32_t> timeouts[] = {
        {ui->E_RIT, t.ReadIntervalTimeout},        {ui->E_RTTM, t.ReadTotalTimeoutMultiplier},
        {ui->E_RTTC, t.ReadTotalTimeoutConstant},  {ui->E_WTTM, t.WriteTotalTimeoutMultiplier},
        {ui->E_WTTC, t.WriteTotalTimeoutConstant},
    };
    for (const auto& [edit, value] : timeouts)
        put(edit, open ? QString::number(value) : kNone);
}

}  // namespace varnok
