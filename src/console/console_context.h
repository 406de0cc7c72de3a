#pragma once
// The state of one run of the console: the platform adapters, the link, the device model
// and the settings file, created once and passed by reference to the windows.

#include <memory>
#include <string>

#include "console/event_pump.h"
#include "console/message_box.h"
#include "console/window_history.h"
#include "device/device.h"
#include "record/history.h"
#include "settings/settings_file.h"

namespace varnok {

struct ConsoleContext {
    explicit ConsoleContext(std::string settings_path)
        : settings(link, std::move(settings_path))
    {
        link.set_wait_pump(&pump);  // the window stays drawn while a connection is being made
    }

    QtNotices notices;
    ThreadSleeper sleeper;
    EventPump pump;
    PortMap ports;
    Link link{notices, sleeper, ports};
    Device device{link, notices};

    SettingsFile settings;  // also keeps the poll period

    // Depth of handlers now exchanging with the device (see Busy).
    int busy = 0;

    // The unit's history, at the settings file's path or the user's default one, opened at its
    // first use; a store that cannot be used is told once in a message box.
    record::RecordKeeper& history()
    {
        if (!history_) {
            // A store the settings name may be a service's, shared by a group; the default is private.
            std::string path = settings.history_file();
            const auto sharing = path.empty() ? record::StoreSharing::Private : record::StoreSharing::Group;
            if (path.empty())
                path = record::default_history_path();
            history_ = std::make_unique<record::RecordKeeper>(
                std::move(path),
                [this](const std::string& line) {
                    ++history_told;
                    notices.message_box(line, "");
                },
                5000, sharing);
        }
        return *history_;
    }
    // How many times the history's notice was shown: a window that refuses for the store says
    // its line only where the notice has not just said it.
    int history_told = 0;

private:
    std::unique_ptr<record::RecordKeeper> history_;

public:
    // The window's writes, recorded in the history; it goes before the store, which its last
    // records reach.
    WindowHistory written{*this};
};

}  // namespace varnok
