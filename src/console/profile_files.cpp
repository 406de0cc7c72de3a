#include "console/profile_files.h"

#include "console/busy.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/file_chooser.h"
#include "console/message_box.h"
#include "ops/profile.h"
#include "settings/file_io.h"

namespace varnok {

namespace {

const QString kFilter = QStringLiteral("конфигурация прибора (*.conf);;все файлы (*)");

// The question's text: each change, then what the load leaves alone, then for a calibration
// the warning that it belongs to one device.
QString confirmation(const Changes& changes, const QString& left, bool calibration)
{
    QString list;
    for (const auto& [w, from] : changes)
        list += QString::fromStdString(w.key() + ": " + from + " -> " + w.text()) + QLatin1Char('\n');
    list.chop(1);
    if (!left.isEmpty())
        list += QStringLiteral("\n\n") + left;
    if (calibration)
        list += QStringLiteral(
            "\n\nкалибровка у каждого прибора своя: записывайте её только в прибор, "
            "из которого сохранён файл");
    return list;
}

}  // namespace

ProfileFiles::ProfileFiles(ConsoleContext& ctx, ExchangeLog& log, Shell shell)
    : ctx_(ctx), log_(log), shell_(std::move(shell)), report_(log, shell_.status, &ctx.written), pauses_(ctx.pump)
{
}

void ProfileFiles::N_conf_saveClick()
{
    Busy busy(ctx_.busy);
    const QString suggested = QStringLiteral("varnok-%1.conf").arg(ctx_.link.settings().sys_num);
    const QString path =
        choose_file(shell_.window, QStringLiteral("конфигурация прибора в файл"), suggested, kFilter, true);
    if (path.isEmpty())
        return;
    const DeviceProfile profile = read_device_profile(ctx_.device, report_, pauses_);
    if (!profile.complete) {
        MessageBox::show(shell_.window, QStringLiteral("конфигурация прочитана не целиком, файл не записан"));
        return;
    }
    file_io::Stamp stamp;
    std::string reason;
    if (!file_io::replace(path.toStdString(), profile.text, stamp, reason)) {
        MessageBox::show(shell_.window, QStringLiteral("файл не записан"),
                         path + QStringLiteral(": ") + QString::fromStdString(reason));
        return;
    }
    log_.append(QStringLiteral("конфигурация прибора записана в ") + path);
    // A value that is not a number no device takes back: the file names it in a comment.
    for (const std::string& key : profile.left_out)
        log_.append(QString::fromStdString(key) + QStringLiteral(": в приборе не число, в файл не записано"));
}

void ProfileFiles::N_conf_loadClick() { load(kLoadedSections); }

void ProfileFiles::N_conf_load_calibClick() { load(kCalibration); }

void ProfileFiles::load(unsigned sections)
{
    Busy busy(ctx_.busy);
    const bool calibration = sections == kCalibration;
    const QString path = choose_file(
        shell_.window,
        calibration ? QStringLiteral("калибровка прибора из файла") : QStringLiteral("конфигурация прибора из файла"),
        QString(), kFilter, false);
    if (path.isEmpty())
        return;
    std::vector<Setting> profile;
    try {
        ProfileFile file = read_profile_file(path.toStdString());
        if (!file.checked)
            log_.append(path + QString::fromUtf8(kUncheckedProfile));
        profile = std::move(file.settings);
    } catch (const ValueError& e) {
        MessageBox::show(shell_.window, QStringLiteral("файл конфигурации не принят"),
                         QString::fromStdString(e.what()));
        return;
    }
    if (calibration && loadable(profile, sections).empty()) {
        MessageBox::show(shell_.window, QStringLiteral("в файле нет калибровки"), path);
        return;
    }
    // The file's calibration that this load leaves alone, said with the question and in the log.
    const QString left = leaves_calibration(profile, sections)
                             ? QStringLiteral(
                                   "калибровка из файла не записывается: у каждого прибора своя "
                                   "(её записывает пункт «калибровка прибора из файла…»)")
                             : QString();
    Configuration config(ctx_.device, report_, pauses_);
    record::Unit unit;  // as it is addressed before a new number is written
    const ProfileLoad r = load_profile(config, profile, sections, [&](const Changes& changes) {
        unit = ctx_.written.unit();
        return MessageBox::confirm(
            shell_.window,
            calibration ? QStringLiteral("записать калибровку в прибор?") : QStringLiteral("записать в прибор?"),
            confirmation(changes, left, calibration));
    });
    if (r.outcome == ProfileLoad::kApplied)
        ctx_.written.loaded(unit, path.toStdString(), r.changes, r.done);
    tell_outcome(r, path, left, calibration);
}

void ProfileFiles::tell_outcome(const ProfileLoad& r, const QString& path, const QString& left, bool calibration)
{
    switch (r.outcome) {
    case ProfileLoad::kReadFailed:
        MessageBox::show(shell_.window,
                         QStringLiteral("конфигурация прибора прочитана не целиком, ничего не записано"));
        return;
    case ProfileLoad::kAlreadyHeld:
        log_.append(QStringLiteral("прибор уже соответствует файлу ") + path +
                    (left.isEmpty() ? QString() : QStringLiteral("; ") + left));
        return;
    case ProfileLoad::kDeclined: return;
    case ProfileLoad::kApplied: break;
    }
    if (r.done.changed_line)
        shell_.line_changed();
    shell_.values_changed();
    if (!r.complete()) {
        QString refused;
        for (const auto& [w, now] : r.done.left)
            refused += QString::fromStdString(w.key() + ": " + now + ", нужно " + w.text()) + QLatin1Char('\n');
        refused.chop(1);
        MessageBox::show(shell_.window, QStringLiteral("конфигурация записана не целиком"), refused);
        return;
    }
    log_.append((calibration ? QStringLiteral("калибровка прибора из ") : QStringLiteral("конфигурация прибора из ")) +
                path + QStringLiteral(" записана и проверена"));
}

}  // namespace varnok
