#include "services/aboutrain.h"

#include <QRandomGenerator>

namespace {

RainColour shade(int v)
{
    return RainColour{v * 150 / 255, v, v * 100 / 255};
}

int randomBetween(int low, int high)
{
    return int(QRandomGenerator::global()->bounded(low, high + 1));
}

} // namespace

RainColour rainHeadColour(int brightness)
{
    return shade(brightness * 255 / 100);
}

RainColour rainTrailColour(int brightness)
{
    return shade(brightness * 255 / 100 / 3);
}

int rainTailRow(int row, int rows)
{
    int tail = row - 40;
    while (tail < 0)
        tail += rows + 1;
    return tail;
}

void LetterRain::start(const QString &characters, int width, int height)
{
    m_characters = characters;
    m_columns = width / kRainCellWidth;
    m_rows = height / kRainCellHeight;
    m_frame = 0;
    reset();
}

void LetterRain::reset()
{
    m_drops.clear();
    if (m_columns <= 0 || m_rows <= 0)
        return;
    for (int i = 0; i < 2 * m_columns && m_drops.size() < kRainMaxDrops; ++i) {
        RainDrop drop;
        drop.column = i % m_columns;
        drop.row = randomBetween(0, m_rows - 1);
        drop.speed = randomBetween(1, 3);
        drop.brightness = randomBetween(0, 99);
        m_drops.append(drop);
    }
}

QList<RainCell> LetterRain::tick()
{
    QList<RainCell> cells;
    cells.reserve(m_drops.size() * 3);
    for (RainDrop &drop : m_drops) {
        const QChar ch = m_characters.isEmpty()
                             ? QChar(QLatin1Char(' '))
                             : m_characters.at(randomBetween(0, int(m_characters.size()) - 1));
        cells.append(RainCell{RainCell::Erase, drop.column, rainTailRow(drop.row, m_rows), QChar(), {}});
        if (drop.row > 0)
            cells.append(RainCell{RainCell::Trail, drop.column, drop.row - 1, ch, rainTrailColour(drop.brightness)});
        cells.append(RainCell{RainCell::Head, drop.column, drop.row, ch, rainHeadColour(drop.brightness)});
        drop.last = ch;
        if (m_frame % drop.speed == 0) {
            ++drop.row;
            if (drop.row > m_rows + 1) {
                drop.row = 0;
                drop.speed = randomBetween(1, 3);
                drop.brightness = randomBetween(0, 99);
            }
        }
    }
    ++m_frame;
    return cells;
}
