#include "../ui/WidgetTestMain.h"
#include "MacAddSheet.h"
#include "MacConfirmSheet.h"
#include "MacEditSheet.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "Video.h"
#include "VideoStore.h"

#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>

using namespace clipvane;
using namespace clipvane::test;

namespace {

QPushButton *button(QWidget &sheet, const QString &text)
{
    for (QPushButton *candidate : sheet.findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

} // namespace

class SheetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addSheet_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<QString>("field"); // after opening (and pasting)
        QTest::addColumn<bool>("addEnabled");
        const QString watch = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1&t=42"_qs;
        QTest::newRow("link on the clipboard") << watch << false << watch << true;
        QTest::newRow("other text on the clipboard") << u"groceries"_qs << false << QString() << false;
        QTest::newRow("pasting other text") << u"groceries"_qs << true << u"groceries"_qs << false;
        QTest::newRow("pasting nothing") << QString() << true << QString() << false;
    }
    void addSheet()
    {
        QFETCH(QString, clipboard);
        QFETCH(bool, paste);
        QFETCH(QString, field);
        QFETCH(bool, addEnabled);
        TestLibrary library;
        QGuiApplication::clipboard()->setText(clipboard);
        MacAddSheet sheet(library.session->engine(), library.session->store());
        if (paste) {
            sheet.setLink(u"something typed"_qs);
            sheet.pasteFromClipboard();
        }
        QCOMPARE(sheet.link(), field);
        QCOMPARE(button(sheet, u"Add"_qs)->isEnabled(), addEnabled);

        sheet.add();
        QCOMPARE(sheet.result(), addEnabled ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(sheet.error().value_or(QString()),
                 addEnabled ? QString() : u"That doesn't look like a YouTube link."_qs);
        QCOMPARE(library.session->store().all().size(), addEnabled ? 1 : 0);
        if (addEnabled) {
            const Video *video = library.session->store().find(u"dQw4w9WgXcQ"_qs);
            QCOMPARE(video->syncStateRaw, SyncStateRaw::needsAdd);
            QVERIFY(!library.session->store().hasUnsavedChanges());
        }
    }

    void editSheet_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("synced is to be patched") << SyncStateRaw::synced << SyncStateRaw::needsPatch;
        QTest::newRow("unknown state is to be patched") << u"somethingNew"_qs << SyncStateRaw::needsPatch;
        QTest::newRow("not yet added stays to be added") << SyncStateRaw::needsAdd << SyncStateRaw::needsAdd;
        QTest::newRow("to be deleted stays so") << SyncStateRaw::needsDelete << SyncStateRaw::needsDelete;
    }
    void editSheet()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        TestLibrary library;
        VideoStore &store = library.session->store();
        store.insert(Video(u"abcdefghijk"_qs, u"Old"_qs, u"https://youtu.be/abcdefghijk"_qs, u"2020-01-02"_qs,
                           u"3:04"_qs, false, u"web"_qs, 1, 2, before));
        store.save();

        MacEditSheet cancelled(u"abcdefghijk"_qs, library.session->engine(), store);
        cancelled.setFields(u"Changed"_qs, QString(), QString());
        cancelled.reject();
        QCOMPARE(store.find(u"abcdefghijk"_qs)->title, u"Old"_qs);

        MacEditSheet sheet(u"abcdefghijk"_qs, library.session->engine(), store);
        QSignalSpy edited(&sheet, &MacEditSheet::edited);
        sheet.setFields(QString(), u"2020/01/02"_qs, u"about 3 min"_qs);
        sheet.save();
        const Video *video = store.find(u"abcdefghijk"_qs);
        QCOMPARE(video->title, QString());
        QCOMPARE(video->uploadDate, u"2020/01/02"_qs);
        QCOMPARE(video->duration, u"about 3 min"_qs);
        QCOMPARE(video->syncStateRaw, after);
        QCOMPARE(edited.size(), 1);
        QVERIFY(!store.hasUnsavedChanges());

        // The record went away while the sheet was open: saving closes it and writes nothing.
        MacEditSheet orphan(u"gone-away00"_qs, library.session->engine(), store);
        orphan.save();
        QCOMPARE(orphan.result(), int(QDialog::Accepted));
    }

    void confirmSheet()
    {
        int runs = 0;
        MacConfirmSheet cancelled(u"t"_qs, u"m"_qs, u"Delete video"_qs, [&] { ++runs; });
        cancelled.reject();
        QCOMPARE(runs, 0);
        MacConfirmSheet confirmed(MacConfirmSheet::deleteTitle(u"A “quoted” %1 title"_qs), QString(),
                                  u"Delete video"_qs, [&] { ++runs; });
        QCOMPARE(confirmed.windowTitle(), u"Delete “A “quoted” %1 title”?"_qs);
        confirmed.confirm();
        confirmed.confirm();
        QCOMPARE(runs, 1);
        QCOMPARE(confirmed.result(), int(QDialog::Accepted));
    }
};

CLIPVANE_WIDGET_TEST_MAIN(SheetsTest)
#include "SheetsTest.moc"
