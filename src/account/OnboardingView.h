#pragma once

#include "TextGlow.h"

#include <QWidget>
#include <optional>

class QLabel;

namespace clipvane {

class FilledButton;
class GoogleAuth;
class OnboardedFlag;
class SyncEngine;

// What the main window shows until the user has signed in: the wordmark, one sentence on what
// signing in gives, and the "Continue with Google" button with the error line beneath it.
class OnboardingView : public QWidget
{
    Q_OBJECT

public:
    // The wordmark's suffix, shown after the product name.
    static inline const QString kWordmarkSuffix = QStringLiteral("Lib");

    OnboardingView(SyncEngine &sync, OnboardedFlag &onboarded, GoogleAuth &auth, QWidget *parent = nullptr);

    // The message under the button; none while no attempt has failed.
    std::optional<QString> error() const { return m_error; }

    // The button's action: starts an attempt and returns at once.
    void continueWithGoogle();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void setError(std::optional<QString> error);

    SyncEngine &m_sync;
    OnboardedFlag &m_onboarded;
    GoogleAuth &m_auth;
    std::optional<QString> m_error;
    QLabel *m_suffix = nullptr;
    FilledButton *m_button = nullptr;
    QLabel *m_errorLabel = nullptr;
    TextGlow m_glow;
};

} // namespace clipvane
