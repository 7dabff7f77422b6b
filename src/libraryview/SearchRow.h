#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace clipvane {

class AppState;

// The search field at the top of the library column, bound to the window state's search text:
// every keystroke filters the list. The clear button shows while there is text.
class SearchRow : public QWidget
{
    Q_OBJECT

public:
    explicit SearchRow(AppState &state, QWidget *parent = nullptr);

    // "Search 1,234 videos": the placeholder, and the field's accessible name with it.
    void setRecordCount(qsizetype count);
    void focusField();
    QLineEdit &field() const { return *m_field; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showSearch(const QString &search);

    AppState &m_state;
    QLineEdit *m_field;
    QToolButton *m_clear;
    qsizetype m_count = -1;
};

} // namespace clipvane
