#include "console/tfabout.h"

#include "ui_tfabout.h"

// The resources live in a static library: nothing else would pull them into the program.
static void init_console_resources() { Q_INIT_RESOURCE(varnok); }

namespace varnok {

QIcon programIcon()
{
    init_console_resources();
    return QIcon(QStringLiteral(":/varnok/varnok.png"));
}

TFabout::TFabout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TFabout>())
{
    init_console_resources();
    ui->setupUi(this);
    setWindowIcon(programIcon());
}

TFabout::~TFabout() = default;

}  // namespace varnok
