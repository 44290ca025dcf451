#pragma once
// Rows of cells laid out as a plain-text table for a terminal: each column as
// wide as its widest cell, two spaces between columns, one line a row.
#include <QString>
#include <QStringList>
#include <vector>

namespace TextColumns {

// rows (the header first) as lines; text columns are aligned to the left, the
// columns from firstFigure on (figures) to the right. Cells are shown as given:
// text from outside is made safe before.
QString lay(const std::vector<QStringList> &rows, int firstFigure = -1);

} // namespace TextColumns
