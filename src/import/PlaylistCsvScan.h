#pragma once

#include "LinkScan.h"

#include <QCoreApplication>

namespace clipvane {

// A video site's playlist export: below the header whose first column is the video ID, one
// video per row. Each ID becomes a watch link; a row whose first column is no ID is refused.
class PlaylistCsvScan : public LinkScan
{
    Q_DECLARE_TR_FUNCTIONS(PlaylistCsvScan)

public:
    using LinkScan::LinkScan;

    void take(const LinePiece &piece) override;

    // The first column of a CSV row, unquoted and trimmed.
    static QString firstColumn(QStringView row);
    static bool isHeader(QStringView firstColumn);

private:
    bool m_header = false; // the rows below are videos
};

} // namespace clipvane
