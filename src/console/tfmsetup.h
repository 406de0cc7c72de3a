#pragma once
// The settings window. It is never shown: creating it reads the settings file (or writes
// it at first start) and then probes the device at the stored speed.

#include <QWidget>

namespace varnok {

struct ConsoleContext;
class TFglav;

class TFMsetup : public QWidget {
public:
    TFMsetup(ConsoleContext& ctx, TFglav& glav);

    void FormCreate();

private:
    ConsoleContext& ctx_;
    TFglav& glav_;
};

}  // namespace varnok
