#pragma once
// Fixed colours made readable on whatever palette is in force: a designed colour that has
// too little contrast with what it is drawn on (dark red digits on a dark theme's field, a
// light grey field behind a dark theme's white text, white on light blue) is made lighter or
// darker, keeping its hue, until it reads.

#include <QColor>
#include <QObject>
#include <QString>

class QWidget;

namespace varnok {

// Contrast ratio of two colours, 1 (none) to 21 (black on white), as accessibility
// guidelines count it: 4.5 is what normal text needs, 3 what large text needs.
double contrast_ratio(const QColor& a, const QColor& b);

// A designed colour with a contrast of 3 or more is legible and kept as designed.
inline constexpr double kLegible = 3.0;
// One below that is made readable as normal text is.
inline constexpr double kReadable = 4.5;

// `wanted` itself when it is legible on `against`, else the nearest colour of the same hue
// and saturation that is readable on it (or the best one can have).
QColor readable_on(const QColor& wanted, const QColor& against);

// A style sheet (Qt's or an HTML document's CSS) with each rule's colours made readable:
// a rule's own text colour against its own background, or against `base` when it sets none;
// a rule's own background against its own text colour, or against `text` when it sets none.
// Where a rule sets both, the background gives way. Colours are hexadecimal (#RGB, #RRGGBB).
QString readable_style(const QString& sheet, const QColor& text, const QColor& base);

// Keeps the fixed colours of every window of the program readable: the style sheets of a
// window's widgets are rewritten from their designed text, and text colours fixed by a
// widget's own palette adjusted, when the window is shown and whenever the application's
// palette changes; a palette a widget is given while the program runs is adjusted at once.
class ReadableColours : public QObject {
public:
    explicit ReadableColours(QObject* parent = nullptr);
    // The style sheets of `root` and everything in it, from their designed text.
    static void apply(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace varnok
