#include "CliCommands.h"

#include "APIClient.h"
#include "AppPaths.h"
#include "ChangeStream.h"
#include "CliFamily.h"
#include "GroupSettings.h"
#include "LibraryFilter.h"
#include "LibrarySession.h"
#include "LinkImport.h"
#include "LinkParser.h"
#include "LocalEdits.h"
#include "MemorySecretStore.h"
#include "SecretStore.h"
#include "SortMode.h"
#include "StopSignals.h"
#include "SyncEngine.h"
#include "TerminalText.h"
#include "TokenInput.h"
#include "Video.h"
#include "VideoStore.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>

namespace clipvane {

namespace {

// Every text that comes from the library, the service or the command line goes to the terminal
// through here.
QString shown(const QString &text)
{
    return TerminalText::shown(text);
}

// How long writers wait for the library: CLIPVANE_LOCK_WAIT_MS (whole milliseconds), else the
// default.
std::chrono::milliseconds lockWait()
{
    bool ok = false;
    const qint64 given = qEnvironmentVariable("CLIPVANE_LOCK_WAIT_MS").toLongLong(&ok);
    return ok && given >= 0 ? std::chrono::milliseconds(given) : CliCommands::kLockWait;
}

// The smallest page: enough to learn whether the service takes a token.
constexpr int kProbeLimit = 1;

QJsonObject videoJson(const Video &video)
{
    return QJsonObject{
        {u"youtube_id"_qs, video.youtubeID},
        {u"title"_qs, video.title},
        {u"url"_qs, video.url},
        {u"upload_date"_qs, video.uploadDate},
        {u"duration"_qs, video.duration},
        {u"excluded"_qs, video.excluded},
        {u"source"_qs, video.source},
        {u"created_at"_qs, video.createdAt},
        {u"updated_at"_qs, video.updatedAt},
        {u"sync_state"_qs, video.syncStateRaw},
        {u"owner_email"_qs, video.ownerEmail},
        {u"read_only"_qs, video.readOnly},
        {u"watched"_qs, video.watched},
        {u"position"_qs, video.position},
    };
}

// One line per record: ID, date, length, title, then what sets the record apart.
void printTable(QTextStream &out, const QList<const Video *> &videos)
{
    qsizetype idWidth = 11;
    for (const Video *video : videos)
        idWidth = std::max(idWidth, shown(video->youtubeID).size());
    for (const Video *video : videos) {
        out << shown(video->youtubeID).leftJustified(idWidth) << u"  "_qs << shown(video->uploadDate).leftJustified(10)
            << u"  "_qs << shown(video->duration).rightJustified(8) << u"  "_qs << shown(video->title);
        if (video->excluded)
            out << u"  "_qs << QCoreApplication::translate("CliCommands", "[excluded]");
        if (video->syncStateRaw != SyncStateRaw::synced)
            out << u"  ["_qs << shown(video->syncStateRaw) << u']';
        if (video->readOnly)
            out << u"  "_qs
                << QCoreApplication::translate("CliCommands", "[shared by %1]").arg(shown(video->ownerEmail));
        out << u'\n';
    }
}

SortMode sortModeFromOption(const QString &option)
{
    if (option == u"oldest")
        return SortMode::oldest;
    if (option == u"title")
        return SortMode::title;
    if (option == u"longest")
        return SortMode::longest;
    return SortMode::newest;
}

// Why a text handed to add or share was not taken, as a line for err.
QString refusalLine(const AddOutcome &outcome)
{
    if (outcome.kind == AddOutcome::Kind::refused)
        return u"clipvane-cli: "_qs + QCoreApplication::translate("CliCommands", "not added “%1”: %2\n")
                                          .arg(shown(outcome.text), shown(outcome.reason));
    return u"clipvane-cli: "_qs +
           QCoreApplication::translate("CliCommands", "no YouTube video in “%1”\n").arg(shown(outcome.text));
}

// The texts naming a video the library can take, in order; the others are named on err.
QStringList videoLinks(const QStringList &texts, QTextStream &err)
{
    QStringList links;
    for (const QString &text : texts) {
        const AddOutcome outcome = LocalEdits::check(text);
        if (outcome.kind == AddOutcome::Kind::added)
            links.append(text);
        else
            err << refusalLine(outcome);
    }
    return links;
}

} // namespace

CliCommands::CliCommands(CliArguments arguments, QTextStream &out, QTextStream &err, bool progress)
    : m_arguments(std::move(arguments))
    , m_out(out)
    , m_err(err)
    , m_progress(progress)
{}

CliCommands::~CliCommands() = default;

QCoro::Task<int> CliCommands::run()
{
    if (m_arguments.help) {
        m_out << CliArguments::usage();
        co_return success;
    }
    if (!m_arguments.profile.isEmpty())
        AppPaths::setProfile(QFileInfo(m_arguments.profile).absoluteFilePath());
    AppPaths::keepPrivate();
    m_base = APIClient::resolveBase();
    if (!m_arguments.api.isEmpty()) {
        const std::optional<QUrl> given = APIClient::acceptableBase(m_arguments.api);
        if (!given) {
            m_err << u"clipvane-cli: "_qs
                  << tr("“%1” is not a usable service address (https, or http on this machine only)\n")
                         .arg(shown(m_arguments.api));
            co_return usageError;
        }
        m_base = *given;
    }

    const QString &command = m_arguments.command;
    if (command == u"share")
        co_return share();
    if (command == u"signin")
        co_return co_await signIn();
    if (command == u"signout")
        co_return signOut();
    if (command == u"status")
        co_return status();
    if (command == u"add")
        co_return add();
    if (command == u"import")
        co_return co_await importFiles();
    if (command == u"exclude" || command == u"include")
        co_return setExcluded(command == u"exclude");
    if (command == u"edit")
        co_return edit();
    if (command == u"mark")
        co_return mark();
    if (command == u"delete")
        co_return remove();
    if (command == u"sync")
        co_return co_await sync();
    if (command == u"family")
        co_return co_await family();
    co_return list();
}

bool CliCommands::openForWriting(int *exitCode, const QString &inUseHint)
{
    QString error;
    LibrarySession::Failure why = LibrarySession::Failure::none;
    LibrarySession::Options options;
    options.apiBase = m_base;
    // Another command usually lets go within moments; the wait is said, so a script that
    // seems to hang tells why.
    options.lockWait = lockWait();
    options.lockWaiting = [this, seconds = (options.lockWait.count() + 999) / 1000](const QString &holder) {
        m_err
            << u"clipvane-cli: "_qs
            << (holder.isEmpty()
                    ? tr("the library is in use by another Clipvane process; waiting up to %1 seconds…\n").arg(seconds)
                    : tr("the library is in use by another Clipvane process (%1); waiting up to %2 seconds…\n")
                          .arg(shown(holder))
                          .arg(seconds));
        m_err.flush();
    };
    // One command, one cycle at most (or, following, one after another): no reachability watch
    // is needed, and no one else waits.
    options.liveChanges = m_arguments.command == u"sync" && m_arguments.follow;
    m_session = LibrarySession::open(options, &error, &why);
    if (!m_session) {
        const bool inUse = why == LibrarySession::Failure::libraryInUse;
        m_err << u"clipvane-cli: "_qs << shown(error) << (inUse ? inUseHint : QString()) << u'\n';
        *exitCode = inUse ? libraryInUse : why == LibrarySession::Failure::notWritable ? notWritable : failure;
        return false;
    }
    m_store = &m_session->store();
    m_engine = &m_session->engine();
    // Connected before any cycle can start, so the first page is drawn too.
    if (m_progress)
        QObject::connect(m_engine, &SyncEngine::progressReceivedChanged, m_engine, [this] { drawProgress(); });
    return true;
}

bool CliCommands::openForReading()
{
    const QString path = AppPaths::storePath();
    if (!QFileInfo::exists(path))
        return true;
    QString error;
    m_readOnlyStore = VideoStore::open(path, &error);
    if (!m_readOnlyStore) {
        m_err << u"clipvane-cli: "_qs << shown(error) << u'\n';
        return false;
    }
    m_store = m_readOnlyStore.get();
    return true;
}

int CliCommands::share()
{
    const QStringList links = videoLinks(m_arguments.operands, m_err);
    if (!links.isEmpty()) {
        GroupSettings group(AppPaths::groupSettingsPath());
        if (!group.appendToShareInbox(links)) {
            m_err << u"clipvane-cli: "_qs << tr("the links could not be queued: %1\n").arg(shown(group.lastError()));
            return failure;
        }
        m_out << (links.size() == 1 ? tr("Queued 1 link.\n") : tr("Queued %1 links.\n").arg(links.size()));
    }
    return links.size() == m_arguments.operands.size() ? success : failure;
}

std::optional<QString> CliCommands::signInToken()
{
    QString error;
    std::optional<QString> token;
    if (m_arguments.tokenFile) {
        token = TokenInput::fromFile(*m_arguments.tokenFile, &error);
    } else if (m_arguments.token == u"-") {
        token = TokenInput::fromStandardInput(&error);
    } else {
        m_err << u"clipvane-cli: warning: a token given with --token is visible to other users of this computer "
                 "while the command runs; use --token-file FILE or --token - (standard input) instead\n"_qs;
        token = m_arguments.token;
    }
    if (!token)
        m_err << u"clipvane-cli: "_qs << shown(error) << u'\n';
    return token;
}

QCoro::Task<int> CliCommands::signIn()
{
    const std::optional<QString> token = signInToken();
    if (!token)
        co_return failure;
    int exitCode = failure;
    if (!openForWriting(&exitCode))
        co_return exitCode;
    // Signing in replaces the stored credentials; a token the service refuses must not cost the
    // sign-in that worked, so it is tried first. An unreachable service decides nothing here.
    MemorySecretStore candidate;
    candidate.keychainSave(*token, SecretKeys::token);
    APIClient prober(m_base, candidate, APIClient::sharedNetwork());
    const ApiResult<VideoPage> probe = co_await prober.videos(0, 0, kProbeLimit);
    if (!probe && probe.error().kind() == APIError::Kind::unauthorized) {
        m_err << u"clipvane-cli: "_qs << tr("the service refused the token; nothing was changed\n");
        co_return failure;
    }
    if (!m_engine->signIn(*token, m_arguments.email.value_or(QString()))) {
        m_err << u"clipvane-cli: "_qs << shown(m_engine->lastError()) << u'\n';
        co_return failure;
    }
    // Signing in starts the first sync; it tells whether the service takes the token.
    co_await waitWhileSyncing();
    if (!m_engine->isLoggedIn()) {
        m_err << u"clipvane-cli: "_qs << tr("the service refused the token (%1)\n").arg(shown(m_engine->lastError()));
        co_return failure;
    }
    const QString who = m_arguments.email.value_or(QString());
    m_out << (who.isEmpty() ? tr("Signed in.\n") : tr("Signed in as %1.\n").arg(shown(who)));
    if (m_engine->hasError()) {
        m_err << u"clipvane-cli: "_qs << tr("the first sync failed: %1\n").arg(shown(m_engine->lastError()));
        co_return failure;
    }
    co_return success;
}

int CliCommands::signOut()
{
    int exitCode = failure;
    if (!openForWriting(&exitCode))
        return exitCode;
    m_engine->signOut();
    m_out << tr("Signed out. The library stays on this computer.\n");
    return success;
}

int CliCommands::status()
{
    if (!openForReading())
        return failure;
    SecretStore &secrets = defaultSecretStore();
    const bool signedIn = secrets.keychainRead(SecretKeys::token).has_value();
    const QString email = signedIn ? secrets.keychainRead(SecretKeys::email).value_or(QString()) : QString();
    const GroupSettings group(AppPaths::groupSettingsPath());

    qsizetype total = 0;
    qsizetype pending = 0;
    if (m_store) {
        total = m_store->all().size();
        pending = m_store->pending().size();
    }
    const auto line = [this](const QString &label, const QString &value) {
        m_out << (label + u':').leftJustified(18) << shown(value) << u'\n';
    };
    line(tr("Signed in"), signedIn ? (email.isEmpty() ? tr("yes") : tr("yes, as %1").arg(email)) : tr("no"));
    line(tr("Service"), m_base.toString());
    if (const QString refused = APIClient::baseRefusal(); !refused.isEmpty() && m_arguments.api.isEmpty())
        line(tr("Refused address"), refused);
    line(tr("Library"), AppPaths::storePath());
    line(tr("Videos"), QString::number(total));
    line(tr("Pending changes"), QString::number(pending));
    line(tr("Queued links"), QString::number(group.shareInbox().size()));
    line(tr("Sync cursor"), QString::number(group.syncCursor()));
    line(tr("Family revision"), group.familyRev());
    return success;
}

int CliCommands::add()
{
    int exitCode = failure;
    if (!openForWriting(&exitCode, tr(" Use “clipvane-cli share” to queue links for it.")))
        return exitCode;
    const QList<AddOutcome> outcomes = m_engine->edits().add(m_arguments.operands);
    // Nothing is reported added before it is on the disk.
    if (!savedByDoor())
        return saveFailed;
    bool allTaken = true;
    for (const AddOutcome &outcome : outcomes) {
        if (outcome.kind == AddOutcome::Kind::added)
            m_out << tr("Added %1\n").arg(shown(outcome.youtubeID));
        else if (outcome.kind == AddOutcome::Kind::alreadyThere)
            m_out << tr("Already in the library: %1\n").arg(shown(outcome.youtubeID));
        else
            m_err << refusalLine(outcome);
        allTaken = allTaken && outcome.inLibrary();
    }
    return allTaken ? success : failure;
}

QCoro::Task<int> CliCommands::importFiles()
{
    int exitCode = failure;
    if (!openForWriting(&exitCode, tr(" Use “clipvane-cli share” to queue links for it.")))
        co_return exitCode;
    LinkImport import(m_engine->edits(), m_arguments.operands);
    if (m_progress)
        QObject::connect(&import, &LinkImport::progress, &import,
                         [this](qint64 read, qint64 total, int found) { drawImportProgress(read, total, found); });
    import.start();
    const ImportSummary summary = co_await qCoro(&import, &LinkImport::finished);
    if (m_progressShown) {
        m_err << u'\n';
        m_progressShown = false;
    }
    // Nothing is reported added before it is on the disk.
    if (!savedByDoor())
        co_return saveFailed;

    const auto problemJson = [](const ImportProblem &problem) {
        QJsonObject object{{u"file"_qs, problem.file}, {u"reason"_qs, problem.reason}};
        if (problem.line > 0) {
            object.insert(u"line"_qs, problem.line);
            object.insert(u"text"_qs, problem.text);
        }
        return object;
    };
    if (m_arguments.json) {
        QJsonArray refused;
        for (const ImportProblem &problem : summary.refused)
            refused.append(problemJson(problem));
        QJsonArray unreadable;
        for (const ImportProblem &problem : summary.unreadable)
            unreadable.append(problemJson(problem));
        const QJsonObject object{
            {u"added"_qs, summary.added},   {u"already_there"_qs, summary.alreadyThere},
            {u"refused"_qs, refused},       {u"refused_count"_qs, summary.refusedCount},
            {u"unreadable"_qs, unreadable}, {u"added_ids"_qs, QJsonArray::fromStringList(summary.addedIDs)}};
        m_out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
    } else {
        m_out << summary.text() << u'\n';
        for (const ImportProblem &problem : summary.refused)
            m_err << u"clipvane-cli: "_qs
                  << tr("%1:%2: not added “%3”: %4\n")
                         .arg(shown(problem.file))
                         .arg(problem.line)
                         .arg(shown(problem.text), shown(problem.reason));
        if (summary.refusedCount > summary.refused.size())
            m_err << u"clipvane-cli: "_qs
                  << tr("…and %L1 more not added\n").arg(summary.refusedCount - summary.refused.size());
        for (const ImportProblem &problem : summary.unreadable)
            m_err << u"clipvane-cli: "_qs << shown(problem.reason) << u'\n';
    }
    co_return summary.allFilesRead() ? success : failure;
}

void CliCommands::drawImportProgress(qint64 bytesRead, qint64 bytesTotal, int videosFound)
{
    const QLocale locale(QLocale::English);
    const qint64 percent = bytesTotal > 0 ? std::min<qint64>(100, bytesRead * 100 / bytesTotal) : 100;
    m_err << u'\r' << tr("Importing… %1% (%2 videos found)").arg(percent).arg(locale.toString(videosFound))
          << u"\x1b[K"_qs;
    m_err.flush();
    m_progressShown = true;
}

const Video *CliCommands::recordToChange(int *exitCode)
{
    *exitCode = failure;
    if (!openForWriting(exitCode))
        return nullptr;
    const QString id = m_arguments.operands.constFirst();
    const Video *video = m_store->find(id);
    if (!video)
        report(EditOutcome::notFound, id, QString());
    return video;
}

bool CliCommands::savedByDoor()
{
    if (m_engine->edits().saveError().isEmpty())
        return true;
    m_err << u"clipvane-cli: "_qs << shown(m_engine->edits().saveError()) << u'\n';
    return false;
}

int CliCommands::report(EditOutcome outcome, const QString &youtubeID, const QString &message)
{
    switch (outcome) {
    case EditOutcome::done:
        m_out << message;
        return success;
    case EditOutcome::notFound:
        m_err << u"clipvane-cli: "_qs << tr("no video with the ID “%1” in the library\n").arg(shown(youtubeID));
        return failure;
    case EditOutcome::readOnly: {
        const Video *video = m_store->find(youtubeID);
        m_err << u"clipvane-cli: "_qs
              << tr("%1 is shared by %2 and cannot be changed here\n")
                     .arg(shown(youtubeID), shown(video ? video->ownerEmail : QString()));
        return failure;
    }
    case EditOutcome::saveFailed:
        savedByDoor();
        return saveFailed;
    }
    return failure;
}

int CliCommands::setExcluded(bool excluded)
{
    int exitCode = failure;
    const Video *video = recordToChange(&exitCode);
    if (!video)
        return exitCode;
    const QString id = video->youtubeID;
    if (video->excluded == excluded && !video->readOnly) {
        m_out << (excluded ? tr("%1 is already excluded.\n") : tr("%1 is not excluded.\n")).arg(shown(id));
        return success;
    }
    return report(m_engine->edits().setExcluded(id, excluded), id,
                  (excluded ? tr("Excluded %1\n") : tr("Included %1 again\n")).arg(shown(id)));
}

int CliCommands::edit()
{
    int exitCode = failure;
    const Video *video = recordToChange(&exitCode);
    if (!video)
        return exitCode;
    const QString id = video->youtubeID;
    return report(m_engine->edits().edit(id, m_arguments.title.value_or(video->title),
                                         m_arguments.date.value_or(video->uploadDate),
                                         m_arguments.length.value_or(video->duration)),
                  id, tr("Edited %1\n").arg(shown(id)));
}

int CliCommands::mark()
{
    int exitCode = failure;
    const Video *video = recordToChange(&exitCode);
    if (!video)
        return exitCode;
    const QString id = video->youtubeID;
    if (m_arguments.watched)
        return report(
            m_engine->edits().setWatched(id, *m_arguments.watched), id,
            (*m_arguments.watched ? tr("Marked %1 as watched.\n") : tr("Marked %1 as not watched.\n")).arg(shown(id)));
    const int seconds = m_arguments.position.value_or(0);
    return report(m_engine->edits().setPosition(id, seconds), id,
                  tr("Marked %1 to resume at %2 seconds.\n").arg(shown(id)).arg(seconds));
}

int CliCommands::remove()
{
    int exitCode = failure;
    const Video *video = recordToChange(&exitCode);
    if (!video)
        return exitCode;
    const QString id = video->youtubeID;
    const EditOutcome outcome = m_engine->edits().remove(id); // removes a never-added record at once
    return report(
        outcome, id,
        (m_store->find(id) ? tr("Deleted %1; the next sync deletes it on the service.\n") : tr("Deleted %1\n"))
            .arg(shown(id)));
}

QCoro::Task<int> CliCommands::sync()
{
    int exitCode = failure;
    if (!openForWriting(&exitCode))
        co_return exitCode;
    if (!m_engine->isLoggedIn()) {
        m_err << u"clipvane-cli: "_qs << tr("not signed in (use “clipvane-cli signin --token-file FILE”)\n");
        co_return failure;
    }
    QObject::connect(m_engine, &SyncEngine::refilling, m_engine, [this] {
        m_err << u"clipvane-cli: "_qs
              << tr("the library on this computer is new or was replaced: fetching all of it again\n");
        m_err.flush();
    });
    if (m_arguments.follow) {
        // Taken before the first cycle, so an interrupt during it lets that cycle finish too.
        m_stop = std::make_unique<StopSignals>();
        QObject::connect(m_stop.get(), &StopSignals::requested, m_stop.get(), [this] { m_stopRequested = true; });
    }
    co_await m_engine->sync();
    co_await waitWhileSyncing();
    if (!reportCycle())
        co_return failure;
    if (m_arguments.follow)
        co_return co_await follow();
    co_return success;
}

bool CliCommands::reportCycle()
{
    if (m_engine->hasError()) {
        m_err << u"clipvane-cli: "_qs << shown(m_engine->lastError()) << u'\n';
        m_err.flush();
        return false;
    }
    const qsizetype count = m_store->all().size();
    m_out << (count == 1 ? tr("Synced: 1 video, %1 pending.\n") : tr("Synced: %1 videos, %2 pending.\n").arg(count))
                 .arg(m_store->pending().size());
    m_out.flush();
    return true;
}

QCoro::Task<int> CliCommands::follow()
{
    ChangeStream *const stream = m_session->changeStream();
    StopSignals &stop = *m_stop;
    bool unavailable = stream == nullptr || stream->state() == ChangeStream::State::unavailable;
    if (!unavailable && !m_stopRequested) {
        QObject::connect(stream, &ChangeStream::stateChanged, &stop, [&](ChangeStream::State state) {
            if (state != ChangeStream::State::unavailable)
                return;
            unavailable = true;
            stop.request();
        });
        QObject::connect(m_engine, &SyncEngine::syncingChanged, &stop, [&](bool syncing) {
            if (syncing)
                return;
            reportCycle();
            // The service no longer takes the token: nothing more can sync.
            if (!m_engine->isLoggedIn())
                stop.request();
        });
        co_await qCoro(&stop, &StopSignals::requested);
    }
    if (unavailable) {
        m_err << u"clipvane-cli: "_qs << tr("the service does not offer live changes\n");
        m_err.flush();
        co_return success;
    }
    // Interrupted: the cycle under way finishes and is saved, so the library is let go whole
    // (a second interrupt ends the process at once).
    if (stream)
        stream->stop();
    co_await waitWhileSyncing();
    co_return m_engine->isLoggedIn() ? success : failure;
}

QCoro::Task<void> CliCommands::waitWhileSyncing()
{
    const QPointer<SyncEngine> engine(m_engine);
    while (engine && engine->syncing())
        co_await qCoro(engine.get(), &SyncEngine::syncingChanged);
    if (m_progressShown) {
        m_err << u'\n';
        m_err.flush();
        m_progressShown = false;
    }
}

void CliCommands::drawProgress()
{
    if (!m_engine->hasProgress())
        return;
    const QLocale locale(QLocale::English);
    m_err << u'\r'
          << tr("Received %1 of %2 videos")
                 .arg(locale.toString(m_engine->progressReceived()), locale.toString(m_engine->progressTotal()))
          << u"\x1b[K"_qs;
    m_err.flush();
    m_progressShown = true;
}

int CliCommands::list()
{
    if (!openForReading())
        return failure;
    QList<const Video *> videos;
    if (m_store) {
        if (m_arguments.all) {
            videos = m_store->all();
        } else {
            LibraryFilter filter;
            filter.search = m_arguments.search.value_or(QString());
            filter.year = m_arguments.year.value_or(QString());
            filter.sort = sortModeFromOption(m_arguments.sort.value_or(QString()));
            filter.showExcluded = m_arguments.excluded;
            videos = filter.apply(m_store->all());
        }
    }
    if (m_arguments.json) {
        QJsonArray array;
        for (const Video *video : std::as_const(videos))
            array.append(videoJson(*video));
        m_out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    } else {
        printTable(m_out, videos);
    }
    return success;
}

QCoro::Task<int> CliCommands::family()
{
    SecretStore &secrets = defaultSecretStore();
    if (!secrets.keychainRead(SecretKeys::token)) {
        m_err << u"clipvane-cli: "_qs << tr("not signed in (use “clipvane-cli signin --token-file FILE”)\n");
        co_return failure;
    }
    APIClient api(m_base, secrets, APIClient::sharedNetwork());
    CliFamily family(api, m_out, m_err);
    const QStringList &operands = m_arguments.operands;
    const bool done = operands.isEmpty() ? co_await family.list(m_arguments.json)
                                         : co_await family.change(operands.at(0), operands.at(1));
    co_return done ? success : failure;
}

} // namespace clipvane
