#include "AskText.h"

#include <QStringList>

namespace clipvane {

namespace {

const QString kMarker = QStringLiteral("**");

} // namespace

QList<AskText::Run> AskText::answerRuns(const QString &answer)
{
    QList<Run> runs;
    const auto append = [&runs](QString text, bool bold) {
        if (text.isEmpty())
            return;
        if (!runs.isEmpty() && runs.last().bold == bold)
            runs.last().text += text;
        else
            runs.append({std::move(text), bold});
    };
    qsizetype position = 0;
    while (true) {
        const qsizetype open = answer.indexOf(kMarker, position);
        const qsizetype close = open < 0 ? -1 : answer.indexOf(kMarker, open + kMarker.size());
        if (close < 0) {
            append(answer.mid(position), false);
            break;
        }
        append(answer.mid(position, open - position), false);
        append(answer.mid(open + kMarker.size(), close - open - kMarker.size()), true);
        position = close + kMarker.size();
    }
    return runs;
}

QString AskText::answerHtml(const QString &answer)
{
    QString html;
    for (const Run &run : answerRuns(answer)) {
        QString escaped = run.text.toHtmlEscaped();
        escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
        if (run.bold)
            html += QStringLiteral("<span style=\"font-weight:600\">") + escaped + QStringLiteral("</span>");
        else
            html += escaped;
    }
    // Keeps runs of spaces as the service wrote them.
    return QStringLiteral("<span style=\"white-space:pre-wrap\">") + html + QStringLiteral("</span>");
}

QString AskText::detailLine(const AskVideo &video)
{
    QStringList parts;
    if (!video.year.isEmpty())
        parts.append(video.year);
    if (!video.duration.isEmpty())
        parts.append(video.duration);
    return parts.join(QStringLiteral(" \u00b7 "));
}

} // namespace clipvane
