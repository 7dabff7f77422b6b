#include "WindowMemory.h"

#include "SettingsKeys.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWidget>

namespace clipvane {

namespace {

// Enough of the title bar to take hold of the window and drag it back.
constexpr QSize kMinimumVisible{120, 40};

void placeByDefault(QWidget &window, QSize size)
{
    window.resize(size);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size);
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

// The window's frame as saveGeometry wrote it: restoreGeometry moves a frame that lies off the
// screens only as far as the nearest edge, where the default placement is what people expect.
std::optional<QRect> keptFrame(const QByteArray &geometry)
{
    constexpr quint32 kMagic = 0x1D9D0CB;
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0;
    quint16 minor = 0;
    QRect frame;
    stream >> magic >> major >> minor >> frame;
    if (stream.status() != QDataStream::Ok || magic != kMagic)
        return std::nullopt;
    return frame;
}

} // namespace

WindowMemory::WindowMemory(QSettings &standard)
    : m_standard(standard)
{}

bool WindowMemory::isOnAnyScreen(const QRect &frame)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.cbegin(), screens.cend(), [&frame](const QScreen *screen) {
        const QRect seen = screen->availableGeometry().intersected(frame);
        return seen.width() >= kMinimumVisible.width() && seen.height() >= kMinimumVisible.height();
    });
}

void WindowMemory::restoreWindow(QWidget &window, QSize defaultSize) const
{
    const QByteArray kept = m_standard.value(SettingsKeys::windowGeometry).toByteArray();
    const std::optional<QRect> frame = keptFrame(kept);
    if (!frame || !isOnAnyScreen(*frame) || !window.restoreGeometry(kept))
        placeByDefault(window, defaultSize);
}

void WindowMemory::restoreSplitter(QSplitter &splitter) const
{
    const QByteArray kept = m_standard.value(SettingsKeys::windowSplitter).toByteArray();
    if (!kept.isEmpty())
        splitter.restoreState(kept);
}

std::optional<QString> WindowMemory::selection(const std::function<bool(const QString &)> &exists) const
{
    const QString kept = m_standard.value(SettingsKeys::windowSelection).toString();
    if (kept.isEmpty() || !exists(kept))
        return std::nullopt;
    return kept;
}

void WindowMemory::save(const QWidget &window, const QSplitter *splitter, const std::optional<QString> &selected)
{
    m_standard.setValue(SettingsKeys::windowGeometry, window.saveGeometry());
    if (splitter)
        m_standard.setValue(SettingsKeys::windowSplitter, splitter->saveState());
    if (selected)
        m_standard.setValue(SettingsKeys::windowSelection, *selected);
    else
        m_standard.remove(SettingsKeys::windowSelection);
}

} // namespace clipvane
