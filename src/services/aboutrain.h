#pragma once

#include <QChar>
#include <QList>
#include <QString>

// The letter rain of the About box, as arithmetic: which cells each tick
// erases and draws, and in which colours. The window only paints them.

struct RainColour {
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const RainColour &o) const { return red == o.red && green == o.green && blue == o.blue; }
};

// The head and trail colours of a drop of brightness 0-99: v = brightness *
// 255 / 100 and d = v / 3 (integer division); head (v * 150 / 255, v,
// v * 100 / 255), trail the same with d.
RainColour rainHeadColour(int brightness);
RainColour rainTrailColour(int brightness);

// The row of the cell erased for a drop at row: 40 rows above, wrapped by
// rows + 1 while negative.
int rainTailRow(int row, int rows);

constexpr int kRainCellWidth = 8;
constexpr int kRainCellHeight = 12;
constexpr int kRainMaxDrops = 5000;

struct RainDrop {
    int column = 0;
    int row = 0;
    int speed = 1;      // 1-3: moves down on every speed-th tick
    int brightness = 0; // 0-99
    QChar last;
};

// One cell to paint: erased (black) or a character in a colour.
struct RainCell {
    enum Kind { Erase, Trail, Head };
    Kind kind = Erase;
    int column = 0;
    int row = 0;
    QChar character;
    RainColour colour;
};

class LetterRain
{
public:
    // The rain for a window of this outer size: width div 8 columns, height
    // div 12 rows, 2 x columns drops at random rows, speeds and brightnesses.
    void start(const QString &characters, int width, int height);
    // Every drop anew at a random row, with the columns and rows of start().
    void reset();
    // One tick: for each drop its erased cell, its trail and head cells; then
    // the drops move on. Returns the cells in painting order.
    QList<RainCell> tick();

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    const QList<RainDrop> &drops() const { return m_drops; }
    QList<RainDrop> &drops() { return m_drops; }
    qint64 frame() const { return m_frame; }

private:
    QString m_characters;
    int m_columns = 0;
    int m_rows = 0;
    QList<RainDrop> m_drops;
    qint64 m_frame = 0;
};
