// Fixed colours against light and dark palettes: every enabled field and label of the main
// window, its pages and the search notice is legible, also after the desktop's palette
// changed under a running console.
#include "console_fixture.h"
#include "console/readable_colours.h"

namespace varnok::test {
namespace {

QPalette dark_palette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::AlternateBase, QColor(0x42, 0x42, 0x42));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, Qt::white);
    return p;
}

TEST(ReadableColours, ContrastAndAdjustment)
{
    EXPECT_NEAR(contrast_ratio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(contrast_ratio(QColor("#87CEFA"), Qt::white), 1.72, 0.01);
    struct Case {
        QColor wanted, against;
    } cases[] = {
        {QColor("#8B0000"), QColor("#2a2a2a")},  // dark red digits on a dark field
        {QColor("#C0C0C0"), Qt::white},          // a grey field behind white text
        {QColor("#87CEFA"), Qt::white},          // light blue behind white text
        {QColor("#1f3a60"), QColor("#2a2a2a")},  // a dark heading on a dark page
    };
    for (const Case& c : cases) {
        const QColor got = readable_on(c.wanted, c.against);
        EXPECT_GE(contrast_ratio(got, c.against), kReadable) << c.wanted.name().toStdString();
        EXPECT_EQ(got.hslHue(), c.wanted.hslHue()) << "the hue is kept";
    }
    // Legible designed colours stay as they are: dark red digits, the search's red and magenta.
    for (const QColor& legible : {QColor("#8B0000"), QColor(Qt::red), QColor(Qt::magenta)})
        EXPECT_EQ(readable_on(legible, Qt::white), legible) << legible.name().toStdString();
}

// Light; dark from the start; dark chosen while the console runs.
enum class Theme { light, dark, turned_dark };

// A style sheet's rules, each checked on its own: a text colour against the base, a
// background against the text, a rule with both gives way with its background; legible
// rules and everything else in the text stay as they are.
TEST(ReadableColours, StyleSheetRules)
{
    const QString sheet = QStringLiteral(
        "h1 { color: #1f3a60; } pre { font-family: monospace; background-color: #f2f2f2; }\n"
        "QLineEdit { background-color: #87CEFA; color: white; font-weight: bold; } .ok { color: #9ACD32; }");
    const QString dark = readable_style(sheet, Qt::white, QColor("#2a2a2a"));
    static const QRegularExpression rule(QStringLiteral(R"((\S+) \{([^}]*)\})"));
    static const QRegularExpression colour(QStringLiteral(R"((background-color|color): (#[0-9a-f]{6}|\w+))"));
    QStringList seen;
    for (auto it = rule.globalMatch(dark); it.hasNext();) {
        const auto r = it.next();
        QMap<QString, QColor> c{{"color", Qt::white}, {"background-color", QColor("#2a2a2a")}};
        for (auto ci = colour.globalMatch(r.captured(2)); ci.hasNext();) {
            const auto m = ci.next();
            c[m.captured(1)] = QColor::fromString(m.captured(2));
        }
        EXPECT_GE(contrast_ratio(c["color"], c["background-color"]), kLegible) << r.captured(0).toStdString();
        seen << r.captured(1);
    }
    EXPECT_EQ(seen, QStringList({"h1", "pre", "QLineEdit", ".ok"}));
    EXPECT_TRUE(dark.contains("color: white; font-weight: bold;")) << "the text colour of a rule with both stays";
    EXPECT_TRUE(dark.contains("font-family: monospace;"));
    EXPECT_TRUE(dark.contains(".ok { color: #9ACD32; }")) << "legible on the dark base";
    EXPECT_FALSE(dark.contains("#87CEFA"));
}

class Readable : public ConsoleOnSim, public ::testing::WithParamInterface<Theme> {
protected:
    ~Readable() override { QApplication::setPalette(QApplication::style()->standardPalette()); }
};

TEST_P(Readable, EveryFieldAndLabelReads)
{
    if (GetParam() == Theme::dark)
        QApplication::setPalette(dark_palette());
    start_all();
    click(glav->tool_button("ToolButton11"));  // the calibration page colours its title when shown
    if (GetParam() == Theme::turned_dark) {
        QApplication::setPalette(dark_palette());
        QCoreApplication::processEvents();  // the new palette reaches every widget
    }
    msg->show();  // the search notice, with colours of its own
    QList<QWidget*> all = glav->findChildren<QWidget*>() + msg->findChildren<QWidget*>();
    QStringList poor;
    for (QWidget* w : all) {
        if (!w->isEnabled())
            continue;  // greyed out on purpose
        w->ensurePolished();
        const QPalette p = w->palette();
        QColor fg, bg;
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QListWidget*>(w)) {
            fg = p.color(QPalette::Text);
            bg = p.color(QPalette::Base);
        } else if (qobject_cast<QLabel*>(w) && !w->objectName().startsWith("StatusPanel")) {
            // A label is drawn on the nearest widget that fills its background.
            const QWidget* under = w;
            while (!under->autoFillBackground() && !under->isWindow())
                under = under->parentWidget();
            fg = p.color(QPalette::WindowText);
            bg = under->palette().color(QPalette::Window);
        } else {
            continue;
        }
        if (contrast_ratio(fg, bg) < kLegible)
            poor << QStringLiteral("%1 %2 on %3").arg(w->objectName(), fg.name(), bg.name());
    }
    EXPECT_TRUE(poor.isEmpty()) << poor.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Themes, Readable, ::testing::Values(Theme::light, Theme::dark, Theme::turned_dark));

}  // namespace
}  // namespace varnok::test
