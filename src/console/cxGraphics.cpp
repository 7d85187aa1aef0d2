#include "console/cxGraphics.h"

#include "console/UrlMatch.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <stdexcept>

// ---------------------------------------------------------------- draw box

TCustomDrawBox::TCustomDrawBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_color = palette().color(QPalette::Base);
    m_enabledColor = m_color;
    resize(185, 90);
}

void TCustomDrawBox::SetColor(const QColor& color)
{
    m_color = color;
    if (isEnabled())
        m_enabledColor = color;
    update();
}

void TCustomDrawBox::SetEnabled(bool enabled)
{
    if (enabled == isEnabled())
        return;
    if (!enabled)
        m_enabledColor = m_color;
    setEnabled(enabled);
    m_color = enabled ? m_enabledColor : palette().color(QPalette::Button);
    update();
}

void TCustomDrawBox::resizeEvent(QResizeEvent* e)
{
    QFrame::resizeEvent(e);
    if (OnResize)
        OnResize(this);
}

void TCustomDrawBox::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    p.fillRect(contentsRect(), m_color);
    QFrame::paintEvent(e);
}

// ---------------------------------------------------------------- console

TCustomConsole::TCustomConsole(QWidget* parent) : TCustomDrawBox(parent)
{
    m_url.BackColor = palette().color(QPalette::Base);
    // Every pixel is painted here: lets scroll() move pixels instead of
    // repainting the whole area.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setRange(1, 1);
    m_scrollBar->setEnabled(false);
    connect(m_scrollBar, &QScrollBar::actionTriggered, this, [this](int) {
        // The bar's value is applied after this signal: read it then.
        QTimer::singleShot(0, this, [this] {
            setPosition(m_scrollBar->value());
            update();
            m_relayoutTimer.start();
        });
    });
    m_relayoutTimer.setSingleShot(true);
    m_relayoutTimer.setInterval(20);
    connect(&m_relayoutTimer, &QTimer::timeout, this, [this] {
        relayoutVisible();
        update();
    });
    setMouseTracking(false);
    updateFontMetrics();
}

TCustomConsole::~TCustomConsole() = default;

QRect TCustomConsole::textRect() const
{
    QRect r = contentsRect();
    if (m_scrollBarOn)
        r.setRight(r.right() - m_barWidth);
    return r;
}

void TCustomConsole::updateFontMetrics()
{
    const QFontMetrics fm(font());
    m_lineHeight = std::max(1, fm.height());
    m_wideChar = std::max(1, fm.maxWidth());
    m_asciiReady.fill(false);
    m_otherAdvance.clear();
    // Asked at every line added; the style's answer changes only with the
    // style or the font.
    m_barWidth = m_scrollBar ? m_scrollBar->sizeHint().width() : 0;
}

int TCustomConsole::charAdvance(uint8_t style, QChar c, const QFontMetrics& fm) const
{
    const size_t s = style & 15;
    if (c.unicode() >= 128) {
        // Shaping one character is dear; a log repeats the same few
        // non-ASCII characters line after line.
        const uint32_t key = static_cast<uint32_t>(s) << 16 | c.unicode();
        if (auto it = m_otherAdvance.find(key); it != m_otherAdvance.end())
            return it->second;
        if (m_otherAdvance.size() >= 8192)
            m_otherAdvance.clear();
        return m_otherAdvance[key] = fm.horizontalAdvance(c);
    }
    if (!m_asciiReady[s]) {
        for (char16_t ch = 0; ch < 128; ++ch)
            m_asciiAdvance[s][ch] = fm.horizontalAdvance(QChar(ch));
        m_asciiReady[s] = true;
    }
    return m_asciiAdvance[s][c.unicode()];
}

QFont TCustomConsole::styledFont(uint8_t style) const
{
    QFont f = font();
    f.setBold(style & fsBold);
    f.setItalic(style & fsItalic);
    f.setUnderline(style & fsUnderline);
    f.setStrikeOut(style & fsStrikeOut);
    return f;
}

// ---------------------------------------------------------------- properties

void TCustomConsole::SetMaxRecords(int value)
{
    if (value < 0 || value > 32768)
        return;
    m_maxRecords = value;
    if (value < m_maxRemove)
        m_maxRemove = value;
}

void TCustomConsole::SetMaxRemove(int value)
{
    if (value < 0 || value > 200 || value >= m_maxRecords)
        return;
    m_maxRemove = value;
}

void TCustomConsole::SetScrollDir(TScrollDir dir)
{
    m_scrollDir = dir;
    m_scrollBar->setInvertedAppearance(dir == sdDown);
    update();
}

bool TCustomConsole::ScrollBarVisible() const
{
    return m_scrollBarOn;
}

void TCustomConsole::SetScrollBarVisible(bool on)
{
    m_scrollBarOn = on;
    m_scrollBar->setVisible(on);
    relayoutVisible();
    update();
}

int TCustomConsole::LineRows(int index) const
{
    return index >= 0 && index < LineCount() ? m_lines[static_cast<size_t>(index)]->rows : 0;
}

// ---------------------------------------------------------------- adding lines

bool TCustomConsole::AddSegment(const QString& text, const QColor& fore, bool newRow, uint8_t style, const QColor& back)
{
    if (!m_pending)
        m_pending = std::make_unique<Line>();
    if (newRow)
        ++m_pending->rows;
    const int room = MaxLineLength - static_cast<int>(m_pending->text.size());
    if (room <= 0)
        return true;
    m_pending->attrs[static_cast<int>(m_pending->text.size())] = Attr{style, fore, back};
    m_pending->text += text.left(room);
    return true;
}

bool TCustomConsole::AppendSegment(const QString& text, const QColor& fore, uint8_t style, const QColor& back)
{
    return text.isEmpty() || AddSegment(text, fore, false, style, back);
}

bool TCustomConsole::AddLine(const QString& text)
{
    if (text.isEmpty())
        return false;
    AddSegment(text, palette().color(QPalette::Text), false, 0, Color());
    return EndLine(true);
}

bool TCustomConsole::AddColoredLine(const QString& text, const QColor& color)
{
    if (text.isEmpty())
        return false;
    const QFont f = font();
    const uint8_t style = (f.bold() ? fsBold : 0) | (f.italic() ? fsItalic : 0) | (f.underline() ? fsUnderline : 0) |
                          (f.strikeOut() ? fsStrikeOut : 0);
    AddSegment(text, color, false, style, Color());
    const bool ok = EndLine(true);
    if (LineCount() % 5 == 0)
        update();
    return ok;
}

bool TCustomConsole::EndLine(bool wrap)
{
    if (!m_pending)
        return false;
    std::unique_ptr<Line> line = std::move(m_pending);
    line->wrap = wrap;
    line->selStart = line->selEnd = -1;
    if (m_url.Enabled)
        markAddresses(*line);
    const bool laidOut = layout(*line);
    Line& added = *line;
    m_lines.push_back(std::move(line));
    if (!laidOut)
        return false;  // stored; counted once the window is wide enough
    const bool following = m_position == m_totalRows;
    m_totalChars += added.text.size();
    trim();
    m_totalRows += added.rows;
    if (following)
        m_position = m_totalRows;
    updateScrollBar();
    if (following && isVisible() && updatesEnabled()) {
        // Move the pixels already shown and paint only the uncovered strip
        // (while painting is held back, the next paint shows it all).
        const QRect r = textRect();
        const int dy = std::min(added.rows * m_lineHeight, r.height());
        scroll(0, m_scrollDir == sdUp ? -dy : dy, r);
    }
    return true;
}

void TCustomConsole::trim()
{
    if (static_cast<int>(m_lines.size()) <= m_maxRecords)
        return;
    // A batch of MaxRemove, never less than one line (MaxRemove 0) and never
    // less than what brings the list back to MaxRecords (after it shrank).
    const size_t excess = m_lines.size() - static_cast<size_t>(m_maxRecords);
    const size_t drop = std::min(m_lines.size(), std::max(excess, static_cast<size_t>(std::max(1, m_maxRemove))));
    const bool following = m_position == m_totalRows;
    for (size_t i = 0; i < drop; ++i) {
        m_totalChars -= m_lines[i]->text.size();
        m_totalRows -= m_lines[i]->rows;
    }
    m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<long>(drop));
    if (following)
        m_position = m_totalRows;
    m_position = std::clamp(m_position, 0, m_totalRows);
}

void TCustomConsole::Clear()
{
    m_lines.clear();
    m_pending.reset();
    m_totalChars = 0;
    m_totalRows = 0;
    m_position = 0;
    updateScrollBar();
    update();
}

QString TCustomConsole::GetLineText(int index) const
{
    return index >= 0 && index < LineCount() ? m_lines[static_cast<size_t>(index)]->text : QString();
}

// ---------------------------------------------------------------- addresses

TCustomConsole::Attr TCustomConsole::attrAt(const Line& line, int pos) const
{
    auto it = line.attrs.upper_bound(pos);
    if (it == line.attrs.begin())
        return Attr{0, palette().color(QPalette::Text), Color()};
    return std::prev(it)->second;
}

void TCustomConsole::markAddresses(Line& line) const
{
    const Attr link{m_url.FontStyle, m_url.ForeColor, m_url.BackColor.isValid() ? m_url.BackColor : Color()};
    const QString& text = line.text;
    if (!text.contains(QLatin1Char(' '))) {
        if (IsConsoleAddress(text)) {
            line.attrs.clear();
            line.attrs[0] = link;
        }
        return;
    }
    int start = 0;
    while (start <= text.size()) {
        int end = text.indexOf(QLatin1Char(' '), start);
        if (end < 0)
            end = static_cast<int>(text.size());
        if (end > start && IsConsoleAddress(text.mid(start, end - start))) {
            const Attr after = attrAt(line, end - 1);
            line.attrs.erase(line.attrs.lower_bound(start), line.attrs.lower_bound(end));
            line.attrs[start] = link;
            line.attrs[end] = after;  // the text after the link keeps its colour
        }
        start = end + 1;
    }
}

QColor TCustomConsole::LineColour(int index) const
{
    if (index < 0 || index >= LineCount())
        return {};
    return attrAt(*m_lines[static_cast<size_t>(index)], 0).fore;
}

std::vector<int> TCustomConsole::LinkStarts(int index) const
{
    std::vector<int> out;
    if (index < 0 || index >= LineCount())
        return out;
    for (auto& [pos, a] : m_lines[static_cast<size_t>(index)]->attrs)
        if (a.fore == m_url.ForeColor && a.style == m_url.FontStyle)
            out.push_back(pos);
    return out;
}

// ---------------------------------------------------------------- layout

bool TCustomConsole::layout(Line& line) const
{
    const int width = textRect().width();
    if (width < 2 * m_wideChar)
        return false;
    line.rowStarts.assign(1, 0);
    if (!line.wrap || line.text.isEmpty()) {
        line.rows = std::max(1, line.rows);
        if (!line.wrap)
            line.rows = 1;
        return true;
    }
    // Character advances under each segment's font; break after the last
    // blank of a row, or before the character that overflows it.
    std::vector<int> advance(static_cast<size_t>(line.text.size()));
    {
        uint8_t style = 0;
        QFontMetrics fm(styledFont(style));
        for (int i = 0; i < line.text.size(); ++i) {
            auto it = line.attrs.find(i);
            if (it != line.attrs.end() && it->second.style != style) {
                style = it->second.style;
                fm = QFontMetrics(styledFont(style));
            }
            advance[static_cast<size_t>(i)] = charAdvance(style, line.text[i], fm);
        }
    }
    const int limit = width - 16;
    int x = 4;
    int rowStart = 0;
    int lastBlank = -1;
    for (int i = 0; i < line.text.size(); ++i) {
        if (x + advance[static_cast<size_t>(i)] >= limit && i > rowStart) {
            const int next = lastBlank >= rowStart && lastBlank + 1 <= i ? lastBlank + 1 : i;
            line.rowStarts.push_back(next);
            rowStart = next;
            lastBlank = -1;
            x = 4;
            for (int k = next; k < i; ++k)
                x += advance[static_cast<size_t>(k)];
        }
        if (line.text[i] == QLatin1Char(' '))
            lastBlank = i;
        x += advance[static_cast<size_t>(i)];
    }
    line.rows = static_cast<int>(line.rowStarts.size());
    return true;
}

void TCustomConsole::relayoutVisible()
{
    // Widths change seldom; laying every stored line out again keeps the
    // totals exact (at most MaxRecords lines).
    const bool following = m_position == m_totalRows;
    const int oldTotal = m_totalRows;
    int total = 0;
    long long chars = 0;
    for (auto& line : m_lines) {
        if (!layout(*line))
            return;
        total += line->rows;
        chars += line->text.size();
    }
    m_totalRows = total;
    m_totalChars = chars;
    if (following || oldTotal == 0)
        m_position = total;
    else
        m_position = std::clamp(static_cast<int>(std::lround(double(total) * m_position / oldTotal)), 1, total);
    m_layoutWidth = textRect().width();
    updateScrollBar();
}

void TCustomConsole::resizeEvent(QResizeEvent* e)
{
    TCustomDrawBox::resizeEvent(e);
    const QRect c = contentsRect();
    m_scrollBar->setGeometry(c.right() - m_barWidth + 1, c.top(), m_barWidth, c.height());
    if (textRect().width() != m_layoutWidth && textRect().width() > 60)
        relayoutVisible();
    update();
}

void TCustomConsole::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        updateFontMetrics();
        relayoutVisible();
        update();
    }
    TCustomDrawBox::changeEvent(e);
}

void TCustomConsole::updateScrollBar()
{
    const int visibleRows = std::max(1, textRect().height() / m_lineHeight);
    m_scrollBar->setRange(1, std::max(1, m_totalRows));
    m_scrollBar->setValue(std::max(1, m_position));
    m_scrollBar->setEnabled(m_totalRows > visibleRows);
}

void TCustomConsole::setPosition(int position)
{
    m_position = m_totalRows == 0 ? 0 : std::clamp(position, 1, m_totalRows);
    updateScrollBar();
}

void TCustomConsole::wheelEvent(QWheelEvent* e)
{
    const int steps = e->angleDelta().y() / 40;
    setPosition(m_position + (m_scrollDir == sdUp ? -steps : steps));
    update();
    m_relayoutTimer.start();
}

// ---------------------------------------------------------------- painting

void TCustomConsole::forEachVisibleRow(const std::function<bool(int, int, const QRect&)>& f) const
{
    if (m_totalRows == 0 || m_position < 1)
        return;
    // The line holding the row at the position, and that row within it.
    int li = static_cast<int>(m_lines.size()) - 1;
    int after = m_totalRows;  // rows up to and including line li
    while (li > 0 && after - m_lines[static_cast<size_t>(li)]->rows >= m_position) {
        after -= m_lines[static_cast<size_t>(li)]->rows;
        --li;
    }
    const QRect area = textRect();
    if (m_scrollDir == sdUp) {
        int row = m_lines[static_cast<size_t>(li)]->rows - 1 - (after - m_position);
        for (int y = area.bottom() + 1 - m_lineHeight; y + m_lineHeight > area.top() && li >= 0; y -= m_lineHeight) {
            if (!f(li, row, QRect(area.left(), y, area.width(), m_lineHeight)))
                return;
            if (--row < 0 && --li >= 0)
                row = m_lines[static_cast<size_t>(li)]->rows - 1;
        }
    } else {
        // Newest at the top: the line at the position first, older ones below.
        int row = 0;
        for (int y = area.top(); y < area.bottom() + 1 && li >= 0; y += m_lineHeight) {
            if (!f(li, row, QRect(area.left(), y, area.width(), m_lineHeight)))
                return;
            if (++row >= m_lines[static_cast<size_t>(li)]->rows) {
                --li;
                row = 0;
            }
        }
    }
}

std::pair<int, int> TCustomConsole::rowRange(const Line& line, int row)
{
    const auto r = static_cast<size_t>(row);
    const int to = r + 1 < line.rowStarts.size() ? line.rowStarts[r + 1] : static_cast<int>(line.text.size());
    return {line.rowStarts[r], to};
}

void TCustomConsole::paintEvent(QPaintEvent* e)
{
    TCustomDrawBox::paintEvent(e);
    QPainter p(this);
    p.setClipRect(textRect());
    const QColor textColor = palette().color(QPalette::Text);
    forEachVisibleRow([&](int li, int row, const QRect& r) {
        if (!e->rect().intersects(r))
            return true;  // outside the strip being painted
        const Line& line = *m_lines[static_cast<size_t>(li)];
        const auto [from, to] = rowRange(line, row);
        int x = r.left() + 2;
        int i = from;
        while (i < to) {
            // A run ends at the next attribute entry or selection boundary.
            int end = to;
            auto next = line.attrs.upper_bound(i);
            if (next != line.attrs.end() && next->first < end)
                end = next->first;
            const bool selected = line.selStart >= 0 && i >= line.selStart && i < line.selEnd;
            if (line.selStart >= 0) {
                if (!selected && line.selStart > i && line.selStart < end)
                    end = line.selStart;
                if (selected && line.selEnd < end)
                    end = line.selEnd;
            }
            const Attr a = attrAt(line, i);
            const QFont f = styledFont(a.style);
            p.setFont(f);
            const QString piece = line.text.mid(i, end - i);
            const int w = QFontMetrics(f).horizontalAdvance(piece);
            const QColor back = selected ? SelectColor : (NoColors ? Color() : a.back);
            if (back.isValid() && back != Color())
                p.fillRect(QRect(x, r.top(), w, r.height()), back);
            p.setPen(NoColors ? textColor : (a.fore.isValid() ? a.fore : textColor));
            p.drawText(QRect(x, r.top(), w + m_wideChar, r.height()),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, piece);
            x += w;
            i = end;
        }
        return true;
    });
}

// ---------------------------------------------------------------- mouse

TCustomConsole::Hit TCustomConsole::hitTest(const QPoint& pt) const
{
    Hit hit;
    forEachVisibleRow([&](int li, int row, const QRect& r) {
        if (pt.y() < r.top() || pt.y() > r.bottom())
            return true;
        const Line& line = *m_lines[static_cast<size_t>(li)];
        const auto [from, to] = rowRange(line, row);
        int x = r.left() + 2;
        int ch = from;
        for (; ch < to; ++ch) {
            x += QFontMetrics(styledFont(attrAt(line, ch).style)).horizontalAdvance(line.text[ch]);
            if (x > pt.x())
                break;
        }
        hit.line = li;
        hit.ch = ch;
        return false;
    });
    return hit;
}

void TCustomConsole::clearSelection()
{
    for (auto& line : m_lines)
        line->selStart = line->selEnd = -1;
}

void TCustomConsole::mousePressEvent(QMouseEvent* e)
{
    m_downPoint = e->pos();
    m_anchor = hitTest(e->pos());
    m_selecting = e->button() == Qt::LeftButton;
}

void TCustomConsole::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_selecting || !(e->buttons() & Qt::LeftButton) || m_anchor.line < 0)
        return;
    if (e->pos().y() < m_downPoint.y())
        return;  // upwards from the anchor selects nothing
    const Hit hit = hitTest(e->pos());
    if (hit.line < 0)
        return;
    clearSelection();
    // Screen order: older lines lower for sdDown, higher for sdUp.
    const int step = m_scrollDir == sdUp ? 1 : -1;
    for (int li = m_anchor.line;; li += step) {
        Line& line = *m_lines[static_cast<size_t>(li)];
        const int len = static_cast<int>(line.text.size());
        const int from = li == m_anchor.line ? m_anchor.ch : 0;
        const int to = li == hit.line ? std::min(len, hit.ch + 1) : len;
        if (to > from) {
            line.selStart = from;
            line.selEnd = to;
        }
        if (li == hit.line || (step > 0 ? li > hit.line : li < hit.line))
            break;
    }
    update();
}

QString TCustomConsole::SelectedText() const
{
    QStringList parts;
    const int n = LineCount();
    for (int k = 0; k < n; ++k) {
        const Line& line = *m_lines[static_cast<size_t>(m_scrollDir == sdUp ? k : n - 1 - k)];
        if (line.selStart >= 0)
            parts << line.text.mid(line.selStart, line.selEnd - line.selStart);
    }
    if (parts.size() <= 1)
        return parts.isEmpty() ? QString() : parts.front();
    return parts.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

void TCustomConsole::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::RightButton) {
        if (Menu)
            Menu->popup(e->globalPosition().toPoint());
        return;
    }
    m_selecting = false;
    const QPoint moved = e->pos() - m_downPoint;
    if (std::abs(moved.x()) < m_wideChar && std::abs(moved.y()) < m_lineHeight && m_url.Enabled && m_url.Clickable &&
        m_anchor.line >= 0 && m_anchor.line < LineCount()) {
        const QString& text = m_lines[static_cast<size_t>(m_anchor.line)]->text;
        const int ch = m_anchor.ch;
        if (ch < text.size() && text[ch] != QLatin1Char(' ')) {
            QString address;
            if (!text.contains(QLatin1Char(' '))) {
                if (IsConsoleAddress(text))
                    address = text;
            } else {
                const int start = text.lastIndexOf(QLatin1Char(' '), ch) + 1;
                int end = text.indexOf(QLatin1Char(' '), ch);
                if (end < 0)
                    end = static_cast<int>(text.size());
                const QString word = text.mid(start, end - start);
                if (IsConsoleAddress(word))
                    address = word;
            }
            if (!address.isEmpty() && OnUrlClick)
                OnUrlClick(this, address);
        }
    }
    const QString selected = SelectedText();
    if (!selected.isEmpty())
        QApplication::clipboard()->setText(selected);
    clearSelection();
    update();
}

// ---------------------------------------------------------------- whole log

void TCustomConsole::CopyAll() const
{
    if (m_lines.empty())
        return;
    QString all;
    for (const auto& line : m_lines)
        all += line->text + QStringLiteral("\r\n");
    QApplication::clipboard()->setText(all);
}

void TCustomConsole::SaveToFile(const QString& path, bool overwrite) const
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | (overwrite ? QIODevice::Truncate : QIODevice::Append)))
        throw std::runtime_error(QStringLiteral("%1: %2").arg(path, f.errorString()).toStdString());
    for (const auto& line : m_lines) {
        if (f.write((line->text + QLatin1Char('\n')).toUtf8()) < 0)
            throw std::runtime_error(QStringLiteral("%1: %2").arg(path, f.errorString()).toStdString());
    }
}
