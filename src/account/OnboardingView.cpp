#include "OnboardingView.h"

#include "FilledButton.h"
#include "Fonts.h"
#include "GoogleAuth.h"
#include "OnboardedFlag.h"
#include "Palette.h"
#include "SyncEngine.h"
#include "TextLabel.h"

#include <QCoroTask>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr int kBlockSpacing = 18;
constexpr int kWordmarkSpacing = 8;
constexpr int kButtonStackSpacing = 10;
constexpr int kButtonStackWidth = 300;
constexpr qreal kWordmarkSize = 30;

QFont wordmarkSuffixFont()
{
    QFont font = Fonts::font(FontFace::display, kWordmarkSize);
    font.setItalic(true);
    return font;
}

QLabel *centred(QLabel *label)
{
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

OnboardingView::OnboardingView(SyncEngine &sync, OnboardedFlag &onboarded, GoogleAuth &auth, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_onboarded(onboarded)
    , m_auth(auth)
    , m_glow(kWordmarkSuffix, wordmarkSuffixFont(), Palette::accent(), {{0.85, 7}, {0.5, 18}})
{
    setAutoFillBackground(false);

    auto *name = centred(
        TextLabel::create(tr("Clipvane"), Fonts::font(FontFace::display, kWordmarkSize), Palette::text(), this));
    m_suffix = centred(TextLabel::create(kWordmarkSuffix, wordmarkSuffixFont(), Palette::accent(), this));
    name->setAccessibleName(tr("Clipvane") + u' ' + kWordmarkSuffix);
    m_suffix->setAccessibleName(QString());
    auto *wordmark = new QHBoxLayout;
    wordmark->setSpacing(kWordmarkSpacing);
    wordmark->addWidget(name, 0, Qt::AlignVCenter);
    wordmark->addWidget(m_suffix, 0, Qt::AlignVCenter);

    auto *sentence = centred(TextLabel::create(tr("Your library follows your account across every device."),
                                               Fonts::font(FontFace::regular, 14), Palette::muted(), this));

    m_button = new FilledButton(tr("Continue with Google"), this);
    m_button->setFont(Fonts::font(FontFace::semiBold, 16));
    m_button->setSymbol(QStringLiteral("g.circle.fill"));
    m_button->setColors(Qt::white, Qt::black);
    m_button->setCornerRadius(10);
    m_button->setVerticalPadding(12);
    m_button->setSpacing(8);
    m_button->setFixedWidth(kButtonStackWidth);
    connect(m_button, &QAbstractButton::clicked, this, &OnboardingView::continueWithGoogle);

    m_errorLabel = centred(TextLabel::create(QString(), Fonts::font(FontFace::regular, 12), Palette::errorRed(), this));
    m_errorLabel->setObjectName(QStringLiteral("error"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setFixedWidth(kButtonStackWidth);
    m_errorLabel->setAccessibleDescription(tr("Sign-in error"));
    m_errorLabel->hide();

    auto *buttonStack = new QVBoxLayout;
    buttonStack->setSpacing(kButtonStackSpacing);
    buttonStack->addWidget(m_button, 0, Qt::AlignHCenter);
    buttonStack->addWidget(m_errorLabel, 0, Qt::AlignHCenter);

    auto *block = new QVBoxLayout;
    block->setSpacing(kBlockSpacing);
    block->addLayout(wordmark);
    block->setAlignment(wordmark, Qt::AlignHCenter);
    block->addWidget(sentence, 0, Qt::AlignHCenter);
    block->addLayout(buttonStack);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addStretch(1);
    column->addLayout(block);
    column->addStretch(1);
}

void OnboardingView::setError(std::optional<QString> error)
{
    m_error = std::move(error);
    m_errorLabel->setText(m_error.value_or(QString()));
    m_errorLabel->setVisible(m_error.has_value());
}

void OnboardingView::continueWithGoogle()
{
    setError(std::nullopt);
    [](QPointer<OnboardingView> self) -> QCoro::Task<void> {
        const GoogleAuth::Result result = co_await self->m_auth.signIn();
        if (!self)
            co_return;
        switch (result.outcome) {
        case GoogleAuth::Result::Outcome::cancelled:
            break;
        case GoogleAuth::Result::Outcome::browserUnavailable:
            self->setError(tr("Couldn't open your web browser to sign in."));
            break;
        case GoogleAuth::Result::Outcome::badResponse:
            self->setError(tr("Google sign-in failed. Check your connection."));
            break;
        case GoogleAuth::Result::Outcome::signedIn:
            if (self->m_sync.signIn(result.token, result.email)) {
                self->m_onboarded.set(true);
            } else {
                const QString engineError = self->m_sync.lastError();
                self->setError(engineError.isEmpty() ? tr("Couldn't save your sign-in.") : engineError);
            }
            break;
        }
    }(this);
}

void OnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::ink());
    // The glow spreads beyond the suffix's label, so the view draws it behind the label.
    const QRect suffix = m_suffix->geometry();
    const QImage &glow = m_glow.image(suffix.size(), devicePixelRatioF());
    painter.drawImage(suffix.topLeft() - QPoint(m_glow.reach(), m_glow.reach()), glow);
}

} // namespace clipvane
