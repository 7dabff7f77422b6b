#include "../ui/WidgetTestMain.h"
#include "AccountSettingsTab.h"
#include "AddingSettingsTab.h"
#include "FakeHttpServer.h"
#include "FamilySettingsModel.h"
#include "FamilySettingsTab.h"
#include "MacSettingsView.h"
#include "OnboardedFlag.h"
#include "PrivacySettingsTab.h"
#include "SettingsKeys.h"
#include "SyncEngine.h"
#include "TestLibrary.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace clipvane;
using namespace clipvane::test;

namespace {

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
    std::unique_ptr<MacSettingsView> window =
        std::make_unique<MacSettingsView>(session->engine(), session->api(), secrets, onboardedFlag);
};

void settle(QObject *sender, const char *signal)
{
    QSignalSpy spy(sender, signal);
    QVERIFY(spy.wait(10000));
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_fake.start()); }

    void cleanup()
    {
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

        QSignalSpy signedOut(profile->window.get(), &MacSettingsView::signedOut);
        QTest::mouseClick(tab->signOutButton(), Qt::LeftButton);
        QCOMPARE(signedOut.size(), 1);
        QVERIFY(!profile->engine().isLoggedIn());
        QVERIFY(!profile->onboarded());
        QCOMPARE(tab->signedInAs(), u"\u2014"_qs);
        QVERIFY(profile->window->isVisible());
    }

    // The family tab loads both lists; an invite or a removal is sent and the lists are loaded
    // again; a failure keeps what was shown and says so.
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
        QTest::newRow("remove refused keeps the member")
            << u"remove"_qs << QList<int>{200, 500} << u"That didn't work \u2014 check the address and try again."_qs
            << one;
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
            const QJsonObject body = QJsonDocument::fromJson(family.at(1).body).object();
            QCOMPARE(body.value(u"action"_qs).toString(), action);
            QCOMPARE(body.value(u"email"_qs).toString(), u"a@x.org"_qs);
        }
        QTEST(tab->errorText(), "error");
        QTEST(tab->model().members(), "members");
        QTRY_COMPARE(bool(tab->removeButton(u"a@x.org"_qs)), !tab->model().members().isEmpty());
        QVERIFY(!tab->model().busy());
        m_fake.setDefaultReply(FakeReply::json("{}", 404));
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
        m_fake.setDefaultReply(FakeReply::json("{}", 404));
    }

    // Copy link reads "Copied" until the first press's reset; the link the service hands out is
    // opened only when it is a web or Telegram address.
    void copyLinkAndLinkAccount_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
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
        QTEST(!opened.isEmpty(), "opened");
        if (!opened.isEmpty())
            QCOMPARE(opened.at(0), QUrl(link));
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
        QTest::addColumn<QString>("status1");
        QTest::addColumn<bool>("asked");
        QTest::newRow("saved") << 200 << "mine.json"
                               << "Saved to mine.json." << true;
        QTest::newRow("cancel keeps the status") << 200 << ""
                                                 << "Earlier." << true;
        QTest::newRow("failing write") << 200 << "missing/mine.json"
                                       << "Export failed \u2014 try again." << true;
        QTest::newRow("request fails") << 500 << "mine.json"
                                       << "Export failed \u2014 try again." << false;
    }
    void exportWritesTheServiceBytes()
    {
        QFETCH(int, status);
        QFETCH(QString, chosen);
        QFETCH(QString, status1);
        QFETCH(bool, asked);
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
        QCOMPARE(wasAsked, asked);
        QCOMPARE(tab->status(), status1 == u"Earlier."_qs ? u"Saved to earlier.json."_qs : status1);
        if (status1.startsWith(u"Saved"_qs)) {
            QFile file(folder.filePath(chosen));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), body);
        }
        const QList<QPair<QString, QString>> query = requestsTo("/api/account.php").constLast().queryItems();
        QCOMPARE(query.size(), 1);
        QCOMPARE(query.at(0).second, u"export"_qs);
    }

    void deletionNeedsConfirmation_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("cancelled: nothing is sent") << false << 0 << QString() << true;
        QTest::newRow("refused: still signed in")
            << true << 500 << u"Couldn't delete the account \u2014 try again."_qs << true;
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
        QSignalSpy signedOut(profile->window.get(), &MacSettingsView::signedOut);
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
        m_fake.setDefaultReply(FakeReply::json("{}", 404));
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
        QList<RecordedRequest> matching;
        for (const RecordedRequest &request : m_fake.requests()) {
            if (request.path == path)
                matching.append(request);
        }
        return matching;
    }

    FakeHttpServer m_fake;
    std::vector<std::unique_ptr<Profile>> m_profiles;
};

CLIPVANE_WIDGET_TEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
