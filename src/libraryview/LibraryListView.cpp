#include "LibraryListView.h"

#include "AppState.h"
#include "CachedThumb.h"
#include "LibraryNavigation.h"
#include "PlayerController.h"
#include "ThumbCache.h"
#include "Video.h"
#include "VideoRow.h"
#include "VisibleList.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>

namespace clipvane {

namespace {

constexpr int kListPadding = 5; // above the first row and below the last, as an inset list has

} // namespace

LibraryListView::LibraryListView(AppState &state, VisibleList &list, QWidget *parent)
    : QListView(parent)
    , m_state(state)
    , m_list(list)
    , m_thumbs(nullptr)
    , m_rows(nullptr)
{
    setModel(&list.model());
    m_thumbs = new CachedThumb(ThumbCache::shared(), *this);
    m_rows = new VideoRow(state, *m_thumbs, this);
    setItemDelegate(m_rows);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(VideoRow::kRowHeight / 2);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A slim scroller on the column's colour rather than a full-height trough.
    verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0px; }"
        "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 64); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setFrameShape(QFrame::NoFrame);
    setViewportMargins(0, kListPadding, 0, kListPadding);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAccessibleName(tr("Videos"));

    connect(&list.model(), &QAbstractItemModel::modelAboutToBeReset, this, &LibraryListView::rememberPlace);
    connect(&list.model(), &QAbstractItemModel::modelReset, this, &LibraryListView::restorePlace);
    // Rows leaving and coming move the current row; the selection stays the state's, and the
    // rows on screen stay where they were.
    connect(&list.model(), &VideoListModel::reshaping, this, [this] {
        m_selecting = true;
        rememberPlace();
    });
    connect(&list.model(), &VideoListModel::reshaped, this, [this] {
        m_selecting = false;
        restorePlace();
    });
    // A new order starts at the top.
    connect(&state, &AppState::sortChanged, this, [this] { m_toTop = true; });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &LibraryListView::currentRowChanged);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_selecting)
            selectionToState();
    });
    connect(&state, &AppState::selectedIDChanged, this, &LibraryListView::showSelection);
    connect(&state.player(), &PlayerController::isPlayingChanged, this, &LibraryListView::repaintSoon);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QModelIndex index = indexAt(at);
        if (const Video *video = m_list.model().videoAt(index))
            Q_EMIT menuRequested(video, viewport()->mapToGlobal(at));
    });
}

LibraryListView::~LibraryListView() = default;

void LibraryListView::rememberPlace()
{
    m_anchor = nullptr;
    const VideoListModel &model = m_list.model();
    const QRect area = viewport()->rect();
    const int selected = currentIndex().row();
    if (selected >= 0 && visualRect(model.index(selected)).intersects(area)) {
        m_anchor = model.videoAt(selected);
        m_anchorOffset = visualRect(model.index(selected)).top();
        return;
    }
    const QModelIndex top = indexAt(QPoint(area.width() / 2, 0));
    if (top.isValid()) {
        m_anchor = model.videoAt(top);
        m_anchorOffset = visualRect(top).top();
    }
}

void LibraryListView::restorePlace()
{
    executeDelayedItemsLayout();
    const VideoListModel &model = m_list.model();
    const int anchorRow = m_anchor ? model.rowOf(m_anchor) : -1;
    m_anchor = nullptr;
    // The selection first: selecting scrolls, the anchor then puts the rows back in place.
    const std::optional<QString> selected = m_state.selectedID();
    const int selectedRow = selected ? LibraryNavigation::rowOf(model.visible(), *selected) : -1;
    selectRow(selectedRow);
    selectAgain();
    if (std::exchange(m_toTop, false))
        scrollToTop();
    else if (anchorRow >= 0)
        verticalScrollBar()->setValue(anchorRow * VideoRow::kRowHeight - m_anchorOffset);
    else if (selectedRow >= 0)
        scrollTo(model.index(selectedRow), QAbstractItemView::EnsureVisible);
    else
        scrollToTop();
}

void LibraryListView::showSelection()
{
    const std::optional<QString> selected = m_state.selectedID();
    const int row = selected ? LibraryNavigation::rowOf(m_list.visible(), *selected) : -1;
    if (row == currentIndex().row() && row >= 0)
        return;
    selectRow(row);
    selectionToState();
    if (row >= 0)
        scrollTo(m_list.model().index(row), QAbstractItemView::EnsureVisible);
    repaintSoon();
}

void LibraryListView::selectRow(int row)
{
    const bool was = m_selecting;
    m_selecting = true;
    if (row >= 0)
        selectionModel()->setCurrentIndex(m_list.model().index(row), QItemSelectionModel::ClearAndSelect);
    else
        selectionModel()->clear();
    m_selecting = was;
}

void LibraryListView::selectAgain()
{
    const QStringList ids = m_state.selectedIDs();
    if (ids.size() > 1) {
        const QSet<QString> wanted(ids.cbegin(), ids.cend());
        const VideoListModel &model = m_list.model();
        // One range per run of selected rows: a selection of the whole library stays one range.
        QItemSelection rows;
        const QList<const Video *> &visible = model.visible();
        const auto size = int(visible.size());
        for (int row = 0; row < size;) {
            if (!wanted.contains(visible.at(row)->youtubeID)) {
                ++row;
                continue;
            }
            const int first = row;
            while (row < size && wanted.contains(visible.at(row)->youtubeID))
                ++row;
            rows.select(model.index(first), model.index(row - 1));
        }
        const bool was = std::exchange(m_selecting, true);
        selectionModel()->select(rows, QItemSelectionModel::Select);
        m_selecting = was;
    }
    // Rows no longer listed leave the selection.
    selectionToState();
}

void LibraryListView::selectionToState()
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QStringList ids;
    ids.reserve(rows.size());
    for (const QModelIndex &row : std::as_const(rows)) {
        if (const Video *video = m_list.model().videoAt(row))
            ids.append(video->youtubeID);
    }
    m_state.setSelectedIDs(ids);
}

void LibraryListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        Q_EMIT deleteRequested();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void LibraryListView::currentRowChanged(const QModelIndex &current)
{
    if (m_selecting || !current.isValid())
        return;
    if (const Video *video = m_list.model().videoAt(current))
        m_state.setSelectedID(video->youtubeID);
}

void LibraryListView::repaintSoon()
{
    if (m_repaintQueued)
        return;
    m_repaintQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_repaintQueued = false;
        viewport()->update();
    });
}

} // namespace clipvane
