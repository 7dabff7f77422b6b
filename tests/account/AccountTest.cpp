#include "../ui/WidgetTestMain.h"
#include "AccountSettingsTab.h"
#include "AddingSettingsTab.h"
#include "BrowserLauncher.h"
#include "ExportWriter.h"
#include "FakeHttpServer.h"
#include "FamilyInvite.h"
#include "FamilySettingsModel.h"
#include "FamilySettingsTab.h"
#include "LastSyncText.h"
#include "OnboardedFlag.h"
#include "PrivacySettingsTab.h"
#include "SettingsKeys.h"
#include "SettingsView.h"
#include "SyncEngine.h"
#include "TestLibrary.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace clipvane;
using namespace clipvane::test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Makes every write beyond `bytes` fail, as a full disk would (even for the superuser, unlike modes).
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    rlimit saved{};
    void (*oldHandler)(int) = nullptr;
};

// One installation of the application, onboarded, signed in or not, talking to the service at base.
struct Profile : TestLibrary
{
    explicit Profile(const QUrl &base)
        : TestLibrary(base)
    {
        onboardedFlag.set(true);
    }
    SyncEngine &engine() { return session->engine(); }
    // What the next launch reads, and what the main window follows now.
    bool onboarded() const
    {
        return session->standard().value(SettingsKeys::onboarded).toBool() && onboardedFlag.value();
    }

    OnboardedFlag onboardedFlag{session->standard()};
    std::unique_ptr<SettingsView> window =
        std::make_unique<SettingsView>(session->engine(), session->api(), secrets, onboardedFlag, session->standard());
};

void settle(QObject *sender, const char *signal)
{
    QSignalSpy spy(sender, signal);
    QVERIFY(spy.wait(10000));
}

} // namespace

class AccountTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inviteAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("buttonEnabled");
        QTest::addColumn<QString>("sent"); // empty: nothing is sent
        const QString ann = u"ann@example.com"_qs;
        QTest::newRow("plain") << ann << false << true << ann;
        QTest::newRow("spaces and tabs trimmed") << " \tann@example.com \t" << false << true << ann;
        QTest::newRow("case, inner space kept") << "Ann Smith@Example.COM" << false << true << "Ann Smith@Example.COM";
        QTest::newRow("no format check") << "not an address" << false << true << "not an address";
        QTest::newRow("line break is not trimmed") << ann + u'\n' << false << true << ann + u'\n';
        QTest::newRow("only spaces: button on, nothing sent") << "   " << false << true << "";
        QTest::newRow("empty") << "" << false << false << "";
        QTest::newRow("busy: button off, Return still sends") << ann << true << false << ann;
    }
    void inviteAddress()
    {
        QFETCH(QString, typed);
        QFETCH(bool, busy);
        QTEST(FamilyInvite::canInvite(typed, busy), "buttonEnabled");
        QTEST(FamilyInvite::address(typed), "sent");
    }

    void exportWriter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<int>("sizeLimit"); // 0: none
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray old = "{\"old\":true}";
        const QString name = u"clipvane-export.json"_qs;
        QTest::newRow("new file") << name << false << 0 << true << QByteArray("EXPORT");
        QTest::newRow("replaces the old file") << name << true << 0 << true << QByteArray("EXPORT");
        QTest::newRow("failing write keeps the old file") << name << true << 4096 << false << old;
        QTest::newRow("failing write leaves no new file") << name << false << 4096 << false << QByteArray("<missing>");
        QTest::newRow("a folder that is gone") << u"gone/"_qs + name << false << 0 << false << QByteArray("<missing>");
    }
    void exportWriter()
    {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        QFETCH(int, sizeLimit);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (oldFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"old\":true}");
        }
        // Bytes are written as received: a large body with every byte value, or a short marker.
        QByteArray bytes = "EXPORT";
        if (sizeLimit > 0) {
            bytes.resize(256 * 1024);
            for (qsizetype i = 0; i < bytes.size(); ++i)
                bytes[i] = char(i % 256);
        }
        bool written = false;
        QString error;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0)
                limit.emplace(rlim_t(sizeLimit));
            written = ExportWriter::write(path, bytes, &error);
        }
        QCOMPARE(written, ok);
        QCOMPARE(error.isEmpty(), ok);
        QTEST(readAll(path), "expected");
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), oldFile || ok ? 1 : 0);
    }

    void lastSync_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("lastSync");
        QTest::addColumn<QString>("text");
        const QDateTime time(QDate(2026, 12, 7), QTime(9, 5, 42), Qt::LocalTime);
        QTest::newRow("never") << "en_US" << QDateTime() << "\u2014";
        QTest::newRow("US English") << "en_US" << time << "Dec 7, 2026 9:05 AM";
        QTest::newRow("British English") << "en_GB" << time << "7 Dec 2026 09:05";
        QTest::newRow("German") << "de_DE" << time << "7. Dez. 2026 09:05";
        QTest::newRow("C: its short time has seconds") << "C" << time << "7 Dec 2026 09:05";
    }
    void lastSync()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, lastSync);
        QTEST(LastSyncText::format(lastSync, QLocale(locale)), "text");
    }

    // The desktop's opener decides: no browser found is a failure, one still waiting on the
    // browser it started is a success.
    void browserLauncher_data()
    {
        QTest::addColumn<QString>("opener"); // a shell script's body; empty: no such program
        QTest::addColumn<bool>("opened");
        QTest::newRow("opened") << u"printf %s \"$1\" > \"$0.url\""_qs << true;
        QTest::newRow("no browser found") << u"exit 3"_qs << false;
        QTest::newRow("the browser failed") << u"exit 4"_qs << false;
        QTest::newRow("killed") << u"kill -9 $$"_qs << false;
        QTest::newRow("waits on the browser it started") << u"exec sleep 30"_qs << true;
        QTest::newRow("no opener installed") << QString() << false;
    }
    void browserLauncher()
    {
        QFETCH(QString, opener);
        QTemporaryDir folder;
        const QString program = folder.filePath(u"opener"_qs);
        if (!opener.isEmpty()) {
            QFile script(program);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n" + opener.toUtf8() + '\n');
            script.close();
            script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        const QUrl address(u"http://127.0.0.1:8470/gauth/login.php?state=a+b%2F"_qs);
        QTEST(QCoro::waitFor(BrowserLauncher::open(address, program, std::chrono::milliseconds(300))), "opened");
        if (QFile::exists(program + u".url"_qs))
            QCOMPARE(readAll(program + u".url"_qs), address.toEncoded());
    }

    void initTestCase() { QVERIFY(m_fake.start()); }

    void cleanup()
    {
        m_fake.setDefaultReply(FakeReply::json("{}", 404));
        m_profiles.clear();
        m_fake.clearRequests();
    }

    void accountShowsWhoAndWhenAndSignsOut()
    {
        m_fake.enqueue("/api/videos.php", FakeReply::json(R"({"videos":[]})"));
        Profile *profile = onFake();
        AccountSettingsTab *tab = profile->window->accountTab();
        profile->window->show();
        QCOMPARE(tab->signedInAs(), u"ann@example.com"_qs);
        // The sign-in started a cycle; the row follows the engine without reopening.
        if (!profile->engine().lastSync().isValid())
            settle(&profile->engine(), SIGNAL(lastSyncChanged(QDateTime)));
        QVERIFY(tab->lastSyncText() != u"\u2014"_qs);

        QSignalSpy signedOut(profile->window.get(), &SettingsView::signedOut);
        QTest::mouseClick(tab->signOutButton(), Qt::LeftButton);
        QCOMPARE(signedOut.size(), 1);
        QVERIFY(!profile->engine().isLoggedIn());
        QVERIFY(!profile->onboarded());
        QCOMPARE(tab->signedInAs(), u"\u2014"_qs);
        QVERIFY(profile->window->isVisible());
    }

    // A change is sent and both lists are loaded again; a failure keeps what was shown and says so.
    void familyChanges_data()
    {
        QTest::addColumn<QString>("action");      // "add" (typed, then the button), "remove" or none
        QTest::addColumn<QList<int>>("statuses"); // the load, the change, the second load
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("members");
        const QString loadFailed = u"Couldn't load your family list."_qs;
        const QStringList one{u"a@x.org"_qs};
        QTest::newRow("load fails") << QString() << QList<int>{500} << loadFailed << QStringList();
        QTest::newRow("invite") << u"add"_qs << QList<int>{200, 200, 200} << QString() << one;
        QTest::newRow("remove") << u"remove"_qs << QList<int>{200, 200, 200} << QString() << QStringList();
        const QString refused = u"That didn't work \u2014 check the address and try again."_qs;
        QTest::newRow("remove refused keeps the member") << u"remove"_qs << QList<int>{200, 500} << refused << one;
        QTest::newRow("change done, reload fails") << u"remove"_qs << QList<int>{200, 200, 500} << loadFailed << one;
    }
    void familyChanges()
    {
        QFETCH(QString, action);
        QFETCH(QList<int>, statuses);
        Profile *profile = onFake();
        // The owner's list holds a@x.org before a removal and after an invite.
        const auto lists = [](bool member) {
            return QByteArray(R"({"members":[)") + (member ? R"("a@x.org")" : "") +
                   R"(],"shared_with_me":["o@x.org"]})";
        };
        m_fake.enqueue("/api/family.php", FakeReply::json(lists(action == u"remove"), statuses.at(0)));
        for (int i = 1; i < statuses.size(); ++i)
            m_fake.enqueue("/api/family.php", FakeReply::json(i == 1 ? "{}" : lists(action == u"add"), statuses.at(i)));
        FamilySettingsTab *tab = profile->window->familyTab();
        profile->window->tabs()->setCurrentWidget(tab);
        profile->window->show();
        settle(&tab->model(), SIGNAL(settled()));
        QCOMPARE(tab->showsSharedWithMe(), statuses.at(0) == 200);
        if (action == u"add") {
            tab->emailField()->setText(u" a@x.org\t"_qs);
            QTest::mouseClick(tab->inviteButton(), Qt::LeftButton);
            QVERIFY(tab->emailField()->text().isEmpty());
            QVERIFY(tab->model().busy());
            QVERIFY(!tab->inviteButton()->isEnabled());
        } else if (action == u"remove") {
            QTest::mouseClick(tab->removeButton(u"a@x.org"_qs), Qt::LeftButton);
        }
        if (!action.isEmpty()) {
            settle(&tab->model(), SIGNAL(settled()));
            const QList<RecordedRequest> family = requestsTo("/api/family.php");
            QCOMPARE(family.size(), statuses.size());
            QCOMPARE(family.at(1).body, R"({"action":")" + action.toUtf8() + R"(","email":"a@x.org"})");
        }
        QTEST(tab->errorText(), "error");
        QTEST(tab->model().members(), "members");
        QTRY_COMPARE(bool(tab->removeButton(u"a@x.org"_qs)), !tab->model().members().isEmpty());
        QVERIFY(!tab->model().busy());
    }

    // The lists are always the signed-in account's: nothing of the previous one shows, even
    // when its answer comes late.
    void familyFollowsTheAccount_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("signed out, then in as another") << u"sign out"_qs;
        QTest::newRow("switched while the window was closed") << u"switch"_qs;
        QTest::newRow("the previous account's late answer") << u"late"_qs;
    }
    void familyFollowsTheAccount()
    {
        QFETCH(QString, how);
        Profile *profile = onFake();
        FamilySettingsTab *tab = profile->window->familyTab();
        profile->window->tabs()->setCurrentWidget(tab);
        const auto lists = [](const char *member) {
            return FakeReply::json("{\"members\":[\"" + QByteArray(member) + "\"],\"shared_with_me\":[]}");
        };
        FakeReply ann = lists("kin@ann.org");
        if (how == u"late")
            ann.delay = std::chrono::milliseconds(300);
        m_fake.enqueue("/api/family.php", ann);
        m_fake.enqueue("/api/family.php", lists("kin@bob.org"));
        profile->window->show();
        if (how != u"late") {
            settle(&tab->model(), SIGNAL(settled()));
            QCOMPARE(tab->model().members(), QStringList{u"kin@ann.org"_qs});
        }

        if (how == u"switch")
            profile->window->hide();
        else
            profile->engine().signOut();
        QVERIFY(tab->model().members().isEmpty() || how == u"switch");
        QVERIFY(!tab->removeButton(u"kin@ann.org"_qs) || how == u"switch");
        QSignalSpy settled(&tab->model(), &FamilySettingsModel::settled);
        profile->engine().signIn(u"token-2"_qs, u"bob@example.com"_qs);
        profile->window->show();
        QTRY_COMPARE_WITH_TIMEOUT(tab->model().members(), QStringList{u"kin@bob.org"_qs}, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(settled.size(), how == u"late" ? 2 : 1, 5000);
        QCOMPARE(tab->model().members(), QStringList{u"kin@bob.org"_qs});
        QCOMPARE(requestsTo("/api/family.php").size(), 2);
    }

    // Declining asks first, with Cancel as the default; only the confirmed decline is sent, and
    // the lists are loaded again.
    void declineAsksFirst()
    {
        Profile *profile = onFake();
        FamilySettingsTab *tab = profile->window->familyTab();
        profile->window->tabs()->setCurrentWidget(tab);
        const QByteArray shared = R"({"members":[],"shared_with_me":["o@x.org"]})";
        m_fake.enqueue("/api/family.php", FakeReply::json(shared));
        m_fake.enqueue("/api/family.php", FakeReply::json("{}"));
        m_fake.enqueue("/api/family.php", FakeReply::json(R"({"members":[],"shared_with_me":[]})"));
        profile->window->show();
        settle(&tab->model(), SIGNAL(settled()));
        QPushButton *decline = tab->declineButton(u"o@x.org"_qs);
        QVERIFY(decline);
        QCOMPARE(decline->accessibleName(), u"Decline o@x.org"_qs);
        QVERIFY(decline->focusPolicy() & Qt::TabFocus);

        for (const bool confirmed : {false, true}) {
            QTest::mouseClick(decline, Qt::LeftButton);
            QMessageBox *question = tab->declineQuestion();
            QVERIFY(question && question->isVisible());
            QVERIFY(question->text().contains(u"o@x.org"_qs));
            QCOMPARE(question->defaultButton(), question->button(QMessageBox::Cancel));
            QCOMPARE(requestsTo("/api/family.php").size(), 1);
            if (confirmed) {
                auto buttons = question->buttons();
                buttons.removeOne(question->button(QMessageBox::Cancel));
                QCOMPARE(buttons.size(), 1);
                QCOMPARE(buttons.constFirst()->accessibleName(), u"Decline o@x.org"_qs);
                buttons.constFirst()->click();
            } else {
                QTest::keyClick(question, Qt::Key_Return);
            }
            QTRY_VERIFY(!tab->declineQuestion());
        }
        settle(&tab->model(), SIGNAL(settled()));
        const QList<RecordedRequest> family = requestsTo("/api/family.php");
        QCOMPARE(family.size(), 3);
        QCOMPARE(family.at(1).body, QByteArray(R"({"action":"decline","email":"o@x.org"})"));
        QVERIFY(!tab->showsSharedWithMe());
        QVERIFY(tab->errorText().isEmpty());
    }

    void returnInvitesWhileBusy()
    {
        Profile *profile = onFake();
        FamilySettingsModel &model = profile->window->familyTab()->model();
        FakeReply slow = FakeReply::json("{}");
        slow.delay = std::chrono::milliseconds(300);
        m_fake.enqueue("/api/family.php", slow);
        m_fake.setDefaultReply(FakeReply::json(R"({"members":[],"shared_with_me":[]})"));
        QSignalSpy settled(&model, &FamilySettingsModel::settled);
        QLineEdit *field = profile->window->familyTab()->emailField();
        field->setText(u"one@x.org"_qs);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(model.busy());
        field->setText(u"two@x.org"_qs);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(field->text().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(settled.size(), 2, 5000);
        QCOMPARE(requestsTo("/api/family.php").size(), 4);
        QVERIFY(!model.busy());
    }

    // Only a web or Telegram address from the service is opened; "Copied" lasts from the first press.
    void copyLinkAndLinkAccount_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opens");
        QTest::newRow("web address") << 200 << u"https://t.me/clipvane_bot?start=k"_qs << true;
        QTest::newRow("Telegram address") << 200 << u"tg://resolve?domain=clipvane_bot&start=k"_qs << true;
        QTest::newRow("a file is not opened") << 200 << u"file:/etc/passwd"_qs << false;
        QTest::newRow("signed out") << 401 << u"https://t.me/clipvane_bot?start=k"_qs << false;
    }
    void copyLinkAndLinkAccount()
    {
        QFETCH(int, status);
        QFETCH(QString, link);
        Profile *profile = onFake();
        AddingSettingsTab *tab = profile->window->addingTab();
        QList<QUrl> opened;
        tab->setUrlOpener([&opened](const QUrl &url) { opened.append(url); });
        m_fake.enqueue("/api/telegram-code.php",
                       FakeReply::json(QJsonDocument(QJsonObject{{u"link"_qs, link}}).toJson(), status));
        QTest::mouseClick(tab->linkButton(), Qt::LeftButton);
        settle(tab, SIGNAL(linkSettled()));
        QFETCH(bool, opens);
        QCOMPARE(opened, opens ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
        if (status != 200)
            return;

        QTest::mouseClick(tab->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://t.me/clipvane_bot"_qs);
        QCOMPARE(tab->copyButton()->text(), u"Copied"_qs);
        QTest::qWait(1000);
        QTest::mouseClick(tab->copyButton(), Qt::LeftButton);
        // The first press's reset still comes at its own time.
        QTRY_COMPARE_WITH_TIMEOUT(tab->copyButton()->text(), u"Copy link"_qs, 900);
    }

    void exportWritesTheServiceBytes_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("chosen"); // "": cancel; "missing/": a folder that does not exist
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("asked");
        const QString failed = u"Export failed \u2014 try again."_qs;
        QTest::newRow("saved") << 200 << u"mine.json"_qs << u"Saved to mine.json."_qs << true;
        QTest::newRow("cancel keeps the status") << 200 << QString() << u"Saved to earlier.json."_qs << true;
        QTest::newRow("failing write") << 200 << u"missing/mine.json"_qs << failed << true;
        QTest::newRow("request fails") << 500 << u"mine.json"_qs << failed << false;
    }
    void exportWritesTheServiceBytes()
    {
        QFETCH(int, status);
        QFETCH(QString, chosen);
        Profile *profile = onFake();
        PrivacySettingsTab *tab = profile->window->privacyTab();
        QTemporaryDir folder;
        // Bytes that are no valid UTF-8 prove they pass unchanged.
        const QByteArray body = QByteArray("{\"videos\":[]}\n\xff\xfe\x00 end", 18);
        m_fake.enqueue("/api/account.php", FakeReply::json("{}", 200)); // the earlier export
        m_fake.enqueue("/api/account.php", FakeReply::json(body, status));

        QString proposed;
        tab->setSaveChooser([&](const QString &name) {
            proposed = name;
            return folder.filePath(u"earlier.json"_qs);
        });
        QTest::mouseClick(tab->exportButton(), Qt::LeftButton);
        settle(tab, SIGNAL(settled()));
        QCOMPARE(tab->status(), u"Saved to earlier.json."_qs);
        QCOMPARE(proposed, u"clipvane-export.json"_qs);

        bool wasAsked = false;
        tab->setSaveChooser([&](const QString &) {
            wasAsked = true;
            return chosen.isEmpty() ? QString() : folder.filePath(chosen);
        });
        QTest::mouseClick(tab->exportButton(), Qt::LeftButton);
        QVERIFY(tab->busy());
        settle(tab, SIGNAL(settled()));
        QVERIFY(!tab->busy());
        QTEST(wasAsked, "asked");
        QTEST(tab->status().value_or(QString()), "shown");
        if (tab->status()->startsWith(u"Saved to mine"_qs))
            QCOMPARE(readAll(folder.filePath(chosen)), body);
    }

    void deletionNeedsConfirmation_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("cancelled: nothing is sent") << false << 0 << QString() << true;
        QTest::newRow("refused") << true << 500 << u"Couldn't delete the account \u2014 try again."_qs << true;
        QTest::newRow("deleted: back to onboarding") << true << 200 << QString() << false;
    }
    void deletionNeedsConfirmation()
    {
        QFETCH(bool, confirmed);
        QFETCH(int, status);
        QFETCH(bool, signedIn);
        Profile *profile = onFake();
        profile->window->show();
        PrivacySettingsTab *tab = profile->window->privacyTab();
        tab->setDeleteConfirmation([confirmed] { return confirmed; });
        QSignalSpy signedOut(profile->window.get(), &SettingsView::signedOut);
        if (confirmed)
            m_fake.enqueue("/api/account.php", FakeReply::json("{}", status));
        QTest::mouseClick(tab->deleteButton(), Qt::LeftButton);
        if (confirmed)
            settle(tab, SIGNAL(settled()));
        else
            QTest::qWait(100);
        QCOMPARE(requestsTo("/api/account.php").size(), confirmed ? 1 : 0);
        QTEST(tab->status().value_or(QString()), "message");
        QCOMPARE(signedOut.size(), signedIn ? 0 : 1);
        QCOMPARE(profile->engine().isLoggedIn(), signedIn);
        QCOMPARE(profile->onboarded(), signedIn);
        QVERIFY(profile->window->isVisible());
    }

private:
    Profile *onFake()
    {
        auto *profile = new Profile(m_fake.url(u"/api"_qs));
        profile->engine().signIn(u"token-1"_qs, u"ann@example.com"_qs);
        m_profiles.emplace_back(profile);
        return profile;
    }

    QList<RecordedRequest> requestsTo(const QByteArray &path) const
    {
        QList<RecordedRequest> matching = m_fake.requests();
        matching.removeIf([&path](const RecordedRequest &request) { return request.path != path; });
        return matching;
    }

    FakeHttpServer m_fake;
    std::vector<std::unique_ptr<Profile>> m_profiles;
};

CLIPVANE_WIDGET_TEST_MAIN(AccountTest)
#include "AccountTest.moc"
