#pragma once
// The log console: a self-drawn, read-only, bounded text control of coloured
// segments with word wrap, scrolling that moves pixels and paints only the
// new strip, mouse selection copied on release, and recognised addresses.

#include <QColor>
#include <QFontMetrics>
#include <QFrame>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class QMenu;
class QScrollBar;

enum TScrollDir { sdDown, sdUp };

// Font styles as a bit set.
enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A plain self-drawn control: background colour, border, resize event.
class TCustomDrawBox : public QFrame {
    Q_OBJECT

public:
    explicit TCustomDrawBox(QWidget* parent = nullptr);
    QColor Color() const { return m_color; }
    void SetColor(const QColor& color);
    void SetEnabled(bool enabled);  // disabled shows the button-face colour
    std::function<void(TCustomDrawBox*)> OnResize;
    QSize sizeHint() const override { return {185, 90}; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QColor m_color;
    QColor m_enabledColor;
};

struct TURLData {
    bool Enabled = true;
    bool Clickable = true;
    QColor ForeColor = Qt::blue;
    QColor BackColor;  // invalid: the window colour
    uint8_t FontStyle = fsUnderline;
};

class TCustomConsole : public TCustomDrawBox {
    Q_OBJECT

public:
    static constexpr int MaxLineLength = 1024;

    explicit TCustomConsole(QWidget* parent = nullptr);
    ~TCustomConsole() override;

    // ---- lines
    virtual bool AddSegment(const QString& text, const QColor& fore, bool newRow, uint8_t style, const QColor& back);
    virtual bool EndLine(bool wrap);
    virtual bool AppendSegment(const QString& text, const QColor& fore, uint8_t style, const QColor& back);
    virtual bool AddLine(const QString& text);
    virtual void Clear();
    virtual QString GetLineText(int index) const;
    bool AddColoredLine(const QString& text, const QColor& color);
    int LineCount() const { return static_cast<int>(m_lines.size()); }
    void CopyAll() const;
    // Writes every line and a line break; throws std::runtime_error on a file error.
    void SaveToFile(const QString& path, bool overwrite) const;

    // ---- properties
    int MaxRecords() const { return m_maxRecords; }
    void SetMaxRecords(int value);
    int MaxRemove() const { return m_maxRemove; }
    void SetMaxRemove(int value);
    bool NoColors = false;
    QColor SelectColor = QColor(0, 128, 128);
    TScrollDir ScrollDir() const { return m_scrollDir; }
    void SetScrollDir(TScrollDir dir);
    bool ScrollBarVisible() const;
    void SetScrollBarVisible(bool on);
    const TURLData& URLText() const { return m_url; }
    void SetURLText(const TURLData& data) { m_url = data; }
    QMenu* Menu = nullptr;
    std::function<void(TCustomConsole*, const QString& address)> OnUrlClick;

    // ---- state, for the program and for tests
    int TotalRows() const { return m_totalRows; }
    int Position() const { return m_position; }
    int LineRows(int index) const;
    int LineHeight() const { return m_lineHeight; }
    QString SelectedText() const;
    // The colour of a line's first segment.
    QColor LineColour(int index) const;
    // Where the address attributes of a line start (character positions).
    std::vector<int> LinkStarts(int index) const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    struct Attr {
        uint8_t style = 0;
        QColor fore, back;
    };
    struct Line {
        QString text;
        int rows = 1;
        bool wrap = false;
        std::map<int, Attr> attrs;      // position -> segment start
        std::vector<int> rowStarts{0};  // first character of each screen row
        int selStart = -1, selEnd = -1;
    };
    struct Hit {
        int line = -1;
        int ch = 0;
    };

    QRect textRect() const;
    void updateFontMetrics();
    bool layout(Line& line) const;
    void relayoutVisible();
    void trim();
    void markAddresses(Line& line) const;
    void updateScrollBar();
    void setPosition(int position);
    Attr attrAt(const Line& line, int pos) const;
    // Calls f(lineIndex, row, rect) for each screen row shown, from the row at
    // the position outwards; stops when f returns false.
    void forEachVisibleRow(const std::function<bool(int, int, const QRect&)>& f) const;
    Hit hitTest(const QPoint& p) const;
    static std::pair<int, int> rowRange(const Line& line, int row);  // [first, end) characters
    QFont styledFont(uint8_t style) const;
    void clearSelection();

    std::vector<std::unique_ptr<Line>> m_lines;
    std::unique_ptr<Line> m_pending;
    int m_maxRecords = 500;
    int m_maxRemove = 10;
    TScrollDir m_scrollDir = sdUp;
    TURLData m_url;
    long long m_totalChars = 0;
    int m_totalRows = 0;
    int m_position = 0;
    int m_lineHeight = 13;
    int m_wideChar = 8;
    // Advances of the ASCII characters per style (4 style bits), measured
    // once per font: a log line's layout asks for each of its characters.
    mutable std::array<std::array<int, 128>, 16> m_asciiAdvance{};
    mutable std::array<bool, 16> m_asciiReady{};
    mutable std::unordered_map<uint32_t, int> m_otherAdvance;  // (style << 16 | character) -> advance
    int charAdvance(uint8_t style, QChar c, const QFontMetrics& fm) const;
    int m_layoutWidth = 0;
    QScrollBar* m_scrollBar = nullptr;
    bool m_scrollBarOn = true;
    int m_barWidth = 0;
    QPoint m_downPoint;
    Hit m_anchor;
    bool m_selecting = false;
    QTimer m_relayoutTimer;
};

// The published form used by the windows.
class TWinConsole : public TCustomConsole {
    Q_OBJECT

public:
    using TCustomConsole::TCustomConsole;
};
