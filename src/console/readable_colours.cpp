#include "console/readable_colours.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QAbstractScrollArea>
#include <QRegularExpression>
#include <QWidget>
#include <QPalette>
#include <algorithm>
#include <utility>
#include <cmath>

namespace varnok {

namespace {

double channel(double c)
{
    c /= 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

// Steps the lightness of `c` up or down until it reads on `against`; the last step when none does.
QColor step(const QColor& c, const QColor& against, double minimum, int direction)
{
    const QColor hsl = c.toHsl();
    QColor out = c;
    for (int l = hsl.lightness(); l >= 0 && l <= 255; l += direction * 4) {
        out = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), l);
        if (contrast_ratio(out, against) >= minimum)
            return out;
    }
    return direction > 0 ? QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), 255)
                         : QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), 0);
}

const char* const kDesignedSheet = "varnokDesignedSheet";
const char* const kDesignedPalette = "varnokDesignedPalette";
const char* const kAdjusting = "varnokAdjusting";  // set while the palette set is our own

// What a widget's text is drawn on: a field's own base; otherwise the window colour of the
// nearest widget that fills its background (a label fills none of its own).
// A widget without a palette of its own takes the application's, which may be newer than
// the one it holds while a change of palette is on its way to it.
QColor drawn_on(const QWidget* w, QPalette::ColorGroup group, QPalette::ColorRole back)
{
    if (back == QPalette::Window)
        while (!w->autoFillBackground() && !w->isWindow() && w->parentWidget())
            w = w->parentWidget();
    const QPalette p = w->testAttribute(Qt::WA_SetPalette) ? w->palette() : QApplication::palette(w);
    return p.color(group, back);
}

// A text colour a widget's own palette fixes (a label in green, a notice in red) made
// readable on the background it is drawn on, from the designed palette each time.
void keep_palette_readable(QWidget* w)
{
    QVariant designed = w->property(kDesignedPalette);
    if (!designed.isValid()) {
        if (!w->testAttribute(Qt::WA_SetPalette))
            return;
        designed = QVariant::fromValue(w->palette());
        w->setProperty(kDesignedPalette, designed);
    }
    const QPalette own = designed.value<QPalette>();
    QPalette p = w->palette();
    bool changed = false;
    for (const auto& [text, back] :
         {std::pair{QPalette::WindowText, QPalette::Window}, std::pair{QPalette::Text, QPalette::Base}})
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            if (!own.isBrushSet(group, text))
                continue;
            const QColor readable = readable_on(own.color(group, text), drawn_on(w, group, back));
            if (readable != p.color(group, text)) {
                p.setColor(group, text, readable);
                changed = true;
            }
        }
    if (changed) {
        w->setProperty(kAdjusting, true);
        w->setPalette(p);
        w->setProperty(kAdjusting, QVariant());
    }
}

}  // namespace

double contrast_ratio(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readable_on(const QColor& wanted, const QColor& against)
{
    if (contrast_ratio(wanted, against) >= kLegible)
        return wanted;
    const double minimum = kReadable;
    // Away from the background first: darker on a light one, lighter on a dark one.
    const int away = luminance(against) > 0.18 ? -1 : 1;
    const QColor first = step(wanted, against, minimum, away);
    if (contrast_ratio(first, against) >= minimum)
        return first;
    const QColor second = step(wanted, against, minimum, -away);
    return contrast_ratio(second, against) > contrast_ratio(first, against) ? second : first;
}

QString readable_style(const QString& sheet, const QColor& text, const QColor& base)
{
    static const QRegularExpression rule(QStringLiteral(R"(\{([^{}]*)\})"));
    // A colour is a hexadecimal value or a name ("white"); anything else is left alone.
    static const QRegularExpression fg(
        QStringLiteral(R"((?:^|[;\s])color\s*:\s*(#[0-9A-Fa-f]{3,6}|[A-Za-z]+)\s*(?:;|$))"));
    static const QRegularExpression bg(
        QStringLiteral(R"((?:^|[;\s])background(?:-color)?\s*:\s*(#[0-9A-Fa-f]{3,6}|[A-Za-z]+)\s*(?:;|$))"));
    QString out;
    qsizetype done = 0;
    for (auto it = rule.globalMatch(sheet); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString body = m.captured(1);
        QRegularExpressionMatch f = fg.match(body);
        QRegularExpressionMatch b = bg.match(body);
        if (f.hasMatch() && !QColor::isValidColorName(f.captured(1)))
            f = {};
        if (b.hasMatch() && !QColor::isValidColorName(b.captured(1)))
            b = {};
        const QColor own_fg = f.hasMatch() ? QColor::fromString(f.captured(1)) : text;
        const QColor own_bg = b.hasMatch() ? QColor::fromString(b.captured(1)) : base;
        // Only a colour that changes is rewritten; the rest of the text stays as designed.
        if (b.hasMatch()) {
            if (const QColor c = readable_on(own_bg, own_fg); c != own_bg)
                body.replace(b.capturedStart(1), b.capturedLength(1), c.name());
        } else if (f.hasMatch()) {
            if (const QColor c = readable_on(own_fg, own_bg); c != own_fg)
                body.replace(f.capturedStart(1), f.capturedLength(1), c.name());
        }
        out += sheet.mid(done, m.capturedStart(1) - done) + body;
        done = m.capturedEnd(1);
    }
    return out + sheet.mid(done);
}

ReadableColours::ReadableColours(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

void ReadableColours::apply(QWidget* root)
{
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        keep_palette_readable(w);
        QVariant designed = w->property(kDesignedSheet);
        if (!designed.isValid()) {
            if (w->styleSheet().isEmpty())
                continue;
            designed = w->styleSheet();
            w->setProperty(kDesignedSheet, designed);
        }
        // What the sheet's colours are drawn with and on when it does not say: an edit's or a
        // list's text on its field, anything else's on the window.
        const QPalette p = QApplication::palette(w);
        const bool field = qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractScrollArea*>(w);
        const QString sheet =
            readable_style(designed.toString(), p.color(field ? QPalette::Text : QPalette::WindowText),
                           p.color(field ? QPalette::Base : QPalette::Window));
        if (sheet != w->styleSheet())
            w->setStyleSheet(sheet);
    }
}

bool ReadableColours::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show || type == QEvent::ApplicationPaletteChange) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->isWindow())
            apply(w);
    } else if (type == QEvent::PaletteChange) {
        // A page giving a label a colour of its own while it runs: that colour is the design now.
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->testAttribute(Qt::WA_SetPalette) && !w->property(kAdjusting).isValid()) {
            w->setProperty(kDesignedPalette, QVariant::fromValue(w->palette()));
            keep_palette_readable(w);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace varnok
