#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

namespace clipvane {

class SyncEngine;
class VideoStore;

// Corrects the title, upload date and length of one video by hand. What the user types is
// what is stored and sent: no checks, no formatting.
class EditSheet : public QDialog
{
    Q_OBJECT

public:
    // The record is named by its ID: a sync may remove it while the sheet is open.
    EditSheet(const QString &youtubeID, SyncEngine &sync, VideoStore &store, QWidget *parent = nullptr);

    void setFields(const QString &title, const QString &uploadDate, const QString &duration);
    // Writes the fields into the record (marking it for upload), saves, and closes.
    void save();

Q_SIGNALS:
    // A record was edited: the library recomputes its list.
    void edited();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitTitleHeight();

    QString m_youtubeID;
    SyncEngine &m_sync;
    VideoStore &m_store;
    QPlainTextEdit *m_title;
    QLineEdit *m_date;
    QLineEdit *m_length;
};

} // namespace clipvane
