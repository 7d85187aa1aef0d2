// The log console in a real widget under the offscreen platform: trimming,
// wrapping, address recognition, selection through the real clipboard,
// clicks on links, saving, and a screenshot to look at.
#include "console/UrlMatch.h"
#include "console/cxGraphics.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget* w, QPoint from, QPoint to)
{
    mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    mouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    mouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

struct Console {
    TWinConsole c;
    Console(int w = 400, int h = 200)
    {
        c.resize(w, h);
        c.show();
        QApplication::processEvents();
    }
    // A point inside the row `fromBottom` rows above the bottom (sdUp).
    QPoint row(int fromBottom, int x) const
    {
        const QRect r = c.contentsRect();
        return {r.left() + x, r.bottom() - c.LineHeight() * fromBottom - c.LineHeight() / 2};
    }
};

}  // namespace

TEST(ConsoleAddress, RecognitionRules)
{
    const std::pair<const char*, bool> cases[] = {
        {"www.example", false},
        {"www.example.org", true},
        {"www.a", false},
        {"news:comp.lang", true},
        {"news:ab", false},
        {"http://a", false},
        {"http://a.b", true},
        {"ftp://a.b", true},
        {"ftp://ab", false},
        {"me@example.org", true},
        {"mailto:me@example.org", true},
        {"a.b@example", false},
        {"@example.org", false},
        {"abc@x.org", true},
        {"ab.c@xy", false},
        {"192.168.1.1", true},
        {"256.1.1.1", false},
        {"1.2.3", false},
        {"10.0.0.255.9", true},
        {"1.2.3.4x", false},
        {"ftp.example.org", true},
        {"ftp.ab", false},
        {"www.example.org(x)", false},
        {"www.example!.org", false},
        {"www..example.org", false},
        {".www.example.org", false},
        {"www.example.org.", false},
        {"www.例子.org", false},
        {"short", false},
    };
    for (auto [word, expected] : cases)
        EXPECT_EQ(IsConsoleAddress(QString::fromUtf8(word)), expected) << word;
}

TEST(Console, TrimsInBatchesAndAlwaysDropsAtLeastOne)
{
    Console t;
    for (int i = 1; i <= 501; ++i)
        t.c.AddColoredLine(QStringLiteral("line %1").arg(i), Qt::black);
    EXPECT_EQ(t.c.LineCount(), 491);
    EXPECT_EQ(t.c.GetLineText(0), QStringLiteral("line 11"));
    EXPECT_EQ(t.c.Position(), t.c.TotalRows());  // still following

    t.c.SetMaxRemove(0);
    t.c.SetMaxRecords(5);
    EXPECT_EQ(t.c.MaxRemove(), 0);
    for (int i = 0; i < 10; ++i)
        t.c.AddLine(QStringLiteral("more %1").arg(i));
    EXPECT_EQ(t.c.LineCount(), 5);
    EXPECT_EQ(t.c.GetLineText(0), QStringLiteral("more 5"));

    t.c.SetMaxRecords(40000);  // out of range: refused
    EXPECT_EQ(t.c.MaxRecords(), 5);
    t.c.SetMaxRemove(5);  // not below MaxRecords: refused
    EXPECT_EQ(t.c.MaxRemove(), 0);
    t.c.SetMaxRemove(3);
    t.c.SetMaxRecords(2);  // below MaxRemove pulls it down
    EXPECT_EQ(t.c.MaxRemove(), 2);
    t.c.Clear();
    EXPECT_EQ(t.c.LineCount(), 0);
    EXPECT_EQ(t.c.TotalRows(), 0);
}

TEST(Console, WrapsAtBlanksAndCutsAt1024)
{
    Console t(200, 200);
    const QString words = QStringLiteral("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu");
    ASSERT_TRUE(t.c.AddLine(words));
    EXPECT_GT(t.c.LineRows(0), 1);
    EXPECT_EQ(t.c.TotalRows(), t.c.LineRows(0));
    ASSERT_TRUE(t.c.AddLine(QString(300, QLatin1Char('x'))));  // no blank: breaks anyway
    EXPECT_GT(t.c.LineRows(1), 1);
    t.c.AddSegment(QStringLiteral("unwrapped ") + words, Qt::black, false, 0, t.c.Color());
    ASSERT_TRUE(t.c.EndLine(false));
    EXPECT_EQ(t.c.LineRows(2), 1);
    t.c.AddSegment(QString(1000, QLatin1Char('a')), Qt::black, false, 0, t.c.Color());
    t.c.AppendSegment(QString(100, QLatin1Char('b')), Qt::red, 0, t.c.Color());
    t.c.EndLine(true);
    EXPECT_EQ(t.c.GetLineText(3).size(), 1024);

    // Wider: the same lines need fewer rows.
    const int before = t.c.TotalRows();
    t.c.resize(600, 200);
    QApplication::processEvents();
    EXPECT_LT(t.c.TotalRows(), before);
    EXPECT_EQ(t.c.Position(), t.c.TotalRows());
}

TEST(Console, LinksAreMarkedWordByWord)
{
    Console t;
    t.c.AddColoredLine(QStringLiteral("see www.example.org now"), Qt::darkGreen);
    EXPECT_EQ(t.c.LinkStarts(0), std::vector<int>{4});
    t.c.AddColoredLine(QStringLiteral("ftp://files.example.org/pub"), Qt::darkGreen);
    EXPECT_EQ(t.c.LinkStarts(1), std::vector<int>{0});
    t.c.AddColoredLine(QStringLiteral("no link (here)"), Qt::darkGreen);
    EXPECT_TRUE(t.c.LinkStarts(2).empty());
    TURLData off = t.c.URLText();
    off.Enabled = false;
    t.c.SetURLText(off);
    t.c.AddColoredLine(QStringLiteral("www.example.org"), Qt::darkGreen);
    EXPECT_TRUE(t.c.LinkStarts(3).empty());
}

TEST(Console, SelectionIsCopiedOnReleaseAndUpwardsSelectsNothing)
{
    Console t;
    t.c.AddLine(QStringLiteral("first line"));
    t.c.AddLine(QStringLiteral("second line"));
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    drag(&t.c, t.row(0, 3), t.row(0, 390));  // the whole newest line
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("second line"));
    drag(&t.c, t.row(1, 3), t.row(0, 390));  // across both lines
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("first line\r\nsecond line\r\n"));
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    drag(&t.c, t.row(0, 3), t.row(1, 390));  // upwards
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("untouched"));
    EXPECT_TRUE(t.c.SelectedText().isEmpty());

    t.c.CopyAll();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("first line\r\nsecond line\r\n"));
}

TEST(Console, ClickOnALinkFiresOnceAndADragDoesNot)
{
    Console t;
    std::vector<QString> clicked;
    t.c.OnUrlClick = [&](TCustomConsole*, const QString& a) { clicked.push_back(a); };
    t.c.AddColoredLine(QStringLiteral("get ftp.example.org today"), Qt::darkBlue);
    const int x = QFontMetrics(t.c.font()).horizontalAdvance(QStringLiteral("get ftp")) + 2;
    drag(&t.c, t.row(0, x), t.row(0, x + 1));
    EXPECT_EQ(clicked, std::vector<QString>{QStringLiteral("ftp.example.org")});
    drag(&t.c, t.row(0, x), t.row(0, x + 60));  // moved: a selection, no click
    EXPECT_EQ(clicked.size(), 1u);
    drag(&t.c, t.row(0, 4), t.row(0, 5));  // on "get": not an address
    EXPECT_EQ(clicked.size(), 1u);
}

TEST(Console, SaveToFileOverwritesOrAppends)
{
    Console t;
    t.c.AddLine(QStringLiteral("一"));
    t.c.AddLine(QStringLiteral("two"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    t.c.SaveToFile(path, true);
    t.c.SaveToFile(path, false);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), QStringLiteral("一\ntwo\n一\ntwo\n"));
    EXPECT_THROW(t.c.SaveToFile(dir.filePath(QStringLiteral("no/dir/x")), true), std::runtime_error);
}

TEST(Console, ScreenshotForTheEye)
{
    Console t(640, 240);
    t.c.SelectColor = Qt::green;
    t.c.AddColoredLine(QStringLiteral("正在连接 127.0.0.1"), QColor(0, 0, 0));
    t.c.AddColoredLine(QStringLiteral("USER ftptest"), QColor(0, 128, 0));
    t.c.AddColoredLine(QStringLiteral("331 Please specify the password."), QColor(0, 0, 128));
    t.c.AddColoredLine(QStringLiteral("PASS xxxxxx"), QColor(0, 128, 0));
    t.c.AddColoredLine(QStringLiteral("230 Login successful. 文件列表见 ftp://127.0.0.1/pub 或 www.example.org"),
                       QColor(0, 0, 128));
    t.c.AddColoredLine(QStringLiteral("错误: 连接被拒绝"), QColor(255, 0, 0));
    t.c.AddSegment(QStringLiteral("混合 "), QColor(0, 128, 0), false, fsBold, t.c.Color());
    t.c.AppendSegment(QStringLiteral("颜色的 "), QColor(255, 0, 0), fsItalic, t.c.Color());
    t.c.AppendSegment(QStringLiteral("一行"), QColor(0, 0, 128), 0, QColor(255, 255, 0));
    t.c.EndLine(true);
    QApplication::processEvents();
    const QImage shot = t.c.grab().toImage();
    const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/console-screenshot.png");
    ASSERT_TRUE(shot.save(out));
    // Red text of the error line is really drawn.
    bool red = false;
    for (int y = 0; y < shot.height() && !red; ++y)
        for (int x = 0; x < shot.width() && !red; ++x)
            red = shot.pixelColor(x, y) == QColor(255, 0, 0);
    EXPECT_TRUE(red);
}

namespace {
// Records the rectangles the console is asked to paint.
struct PaintSpy : QObject {
    std::vector<QRect> rects;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};
}  // namespace

TEST(Console, AddingALinePaintsOnlyTheNewStrip)
{
    Console t(400, 200);
    for (int i = 0; i < 3; ++i)
        t.c.AddLine(QStringLiteral("line %1").arg(i));
    QApplication::processEvents();
    PaintSpy spy;
    t.c.installEventFilter(&spy);
    t.c.AddLine(QStringLiteral("one more"));  // the 4th: not a multiple of 5
    QApplication::processEvents();
    ASSERT_FALSE(spy.rects.empty());
    // Behind the scroll bar (whose thumb moved) the frame paints its backdrop;
    // the text area itself gets only the new line's strip.
    const QRect bar = t.c.findChild<QScrollBar*>()->geometry();
    for (const QRect& r : spy.rects) {
        if (!bar.contains(r)) {
            EXPECT_LE(r.height(), t.c.LineHeight()) << r.y() << "," << r.height();
        }
    }
    spy.rects.clear();
    t.c.AddColoredLine(QStringLiteral("fifth: the whole control"), Qt::black);
    QApplication::processEvents();
    EXPECT_TRUE(std::any_of(spy.rects.begin(), spy.rects.end(),
                            [&](const QRect& r) { return !bar.contains(r) && r.height() > t.c.LineHeight(); }));
    t.c.removeEventFilter(&spy);
}

TEST(Console, ScrolledBackViewKeepsItsPlaceAndNewestFirstOrder)
{
    Console t(400, 100);
    for (int i = 0; i < 50; ++i)
        t.c.AddLine(QStringLiteral("row %1").arg(i));
    QApplication::processEvents();
    QWheelEvent wheel(QPointF(50, 50), QPointF(t.c.mapToGlobal(QPoint(50, 50))), QPoint(), QPoint(0, 400), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&t.c, &wheel);
    const int kept = t.c.Position();
    EXPECT_LT(kept, t.c.TotalRows());
    t.c.AddLine(QStringLiteral("new while scrolled back"));
    EXPECT_EQ(t.c.Position(), kept);

    // Newest at the top: a click on the top row selects the newest line.
    t.c.SetScrollDir(sdDown);
    t.c.Clear();
    t.c.AddLine(QStringLiteral("older"));
    t.c.AddLine(QStringLiteral("newest"));
    QApplication::processEvents();
    const QRect r = t.c.contentsRect();
    drag(&t.c, QPoint(r.left() + 3, r.top() + t.c.LineHeight() / 2),
         QPoint(r.left() + 300, r.top() + t.c.LineHeight() / 2));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("newest"));
}

TEST(Console, RightButtonShowsTheMenuAndDisablingGreysTheBackground)
{
    Console t;
    QMenu menu;
    menu.addAction(QStringLiteral("复制(&C)"));
    t.c.Menu = &menu;
    mouse(&t.c, QEvent::MouseButtonPress, QPoint(20, 20), Qt::RightButton, Qt::RightButton);
    mouse(&t.c, QEvent::MouseButtonRelease, QPoint(20, 20), Qt::RightButton, Qt::NoButton);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();

    const QColor normal = t.c.Color();
    t.c.SetEnabled(false);
    EXPECT_EQ(t.c.Color(), t.c.palette().color(QPalette::Button));
    t.c.SetEnabled(true);
    EXPECT_EQ(t.c.Color(), normal);
}
