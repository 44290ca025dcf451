#include "engine/TextColumns.h"

#include <algorithm>

QString TextColumns::lay(const std::vector<QStringList> &rows, int firstFigure)
{
    std::vector<int> width;
    for (const QStringList &row : rows) {
        width.resize(std::max(width.size(), static_cast<size_t>(row.size())), 0);
        for (int c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], static_cast<int>(row.at(c).size()));
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            const bool figure = firstFigure >= 0 && c >= firstFigure;
            line += figure ? row.at(c).rightJustified(width[c]) : row.at(c).leftJustified(width[c]);
            if (c + 1 < row.size())
                line += QStringLiteral("  ");
        }
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}
