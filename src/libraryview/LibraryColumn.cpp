#include "LibraryColumn.h"

#include "EmptyLibraryView.h"
#include "FilterBar.h"
#include "LibraryListView.h"
#include "Palette.h"
#include "SearchRow.h"
#include "StatusLine.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace clipvane {

namespace {

QColor columnBackground()
{
    return QColor::fromRgbF(0.047f, 0.047f, 0.06f);
}

QWidget *divider(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, Palette::hairline());
    line->setPalette(palette);
    return line;
}

} // namespace

LibraryColumn::LibraryColumn(AppState &state, SyncEngine &sync, VisibleList &list, QWidget *parent)
    : QWidget(parent)
    , m_visible(list)
    , m_search(new SearchRow(state, this))
    , m_filters(new FilterBar(state, list, this))
    , m_stack(new QStackedWidget(this))
    , m_list(new LibraryListView(state, list, m_stack))
    , m_empty(new EmptyLibraryView(sync, m_stack))
    , m_status(new StatusLine(sync, this))
{
    setMinimumWidth(kMinimumWidth);
    setMaximumWidth(kMaximumWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_search);
    layout->addWidget(m_filters);
    layout->addWidget(divider(this));
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);
    layout->addWidget(m_stack, 1);
    layout->addWidget(divider(this));
    layout->addWidget(m_status);

    connect(&list, &VisibleList::recomputed, this, &LibraryColumn::updateCounts);
    updateCounts();
}

bool LibraryColumn::showsEmptyLibrary() const
{
    return m_stack->currentWidget() == m_empty;
}

void LibraryColumn::updateCounts()
{
    const qsizetype count = m_visible.count();
    m_search->setRecordCount(count);
    m_status->setCounts(m_visible.visible().size(), count);
    m_stack->setCurrentWidget(count == 0 ? static_cast<QWidget *>(m_empty) : m_list);
}

void LibraryColumn::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), columnBackground());
}

} // namespace clipvane
