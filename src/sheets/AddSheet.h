#pragma once

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace clipvane {

class SyncEngine;
class VideoStore;

// Adds one video by its link. Nothing goes over the network here: the video is recorded
// locally for upload and the next sync sends it.
class AddSheet : public QDialog
{
    Q_OBJECT

public:
    AddSheet(SyncEngine &sync, VideoStore &store, QWidget *parent = nullptr);

    QString link() const;
    void setLink(const QString &link);
    std::optional<QString> error() const { return m_error; }

    // Adds the video and closes; with text that holds no link, or a link the library refuses,
    // says why and stays open.
    void add();
    // Puts the clipboard's text into the field, whatever it is (none: empty).
    void pasteFromClipboard();

private:
    bool linkIsValid() const;
    void updateAddButton();
    void showError(const QString &error);

    SyncEngine &m_sync;
    VideoStore &m_store;
    std::optional<QString> m_error;
    QLineEdit *m_field;
    QLabel *m_errorLabel;
    QPushButton *m_add;
};

} // namespace clipvane
