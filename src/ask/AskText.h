#pragma once

#include "AskVideo.h"

#include <QList>
#include <QString>

namespace clipvane {

// How the texts of an answer are shown: the answer's bold markup and a video card's detail line.
class AskText
{
public:
    struct Run
    {
        QString text;
        bool bold = false;
        bool operator==(const Run &) const = default;
    };

    // The answer split at pairs of "**" markers: the text between a pair is bold and the markers
    // are dropped; a marker without a partner stays visible. Nothing else is interpreted.
    static QList<Run> answerRuns(const QString &answer);
    // The runs as rich text for a label: every run escaped, bold runs in the semibold face.
    static QString answerHtml(const QString &answer);
    // The year and the duration, leaving out empty ones, joined by a middle dot.
    static QString detailLine(const AskVideo &video);
};

} // namespace clipvane
