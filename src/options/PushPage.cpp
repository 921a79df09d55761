#include "PushPage.h"

#include "FieldChecks.h"
#include "OptionBindings.h"
#include "OptionsModel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

PushPage::PushPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* group = new QGroupBox(QStringLiteral("Push Notifications"), this);
    auto* serviceBox = new QComboBox(group);
    serviceBox->setObjectName(QStringLiteral("pushServiceBox"));
    serviceBox->setToolTip(QStringLiteral("One push when an incident starts and one when it ends. ntfy: the "
                                          "topic's URL; Gotify: the server's URL and an application token; "
                                          "webhook: the event records as JSON."));
    for (const char* service : Settings::Push::ServiceNames)
        serviceBox->addItem(QString::fromLatin1(service));
    auto* urlBox = new QLineEdit(group);
    urlBox->setObjectName(QStringLiteral("pushUrlBox"));
    urlBox->setPlaceholderText(QStringLiteral("https://ntfy.sh/my-topic"));
    m_urlBox = urlBox;
    m_urlError = problemLabel(group, QStringLiteral("pushUrlError"));
    // Checked when the user leaves the box, as the collector is.
    connect(urlBox, &QLineEdit::editingFinished, this, [this] { checkUrl(); });
    auto* tokenBox = new QLineEdit(group);
    tokenBox->setObjectName(QStringLiteral("pushTokenBox"));
    tokenBox->setEchoMode(QLineEdit::Password);
    tokenBox->setPlaceholderText(QStringLiteral("none"));
    m_testButton = new QPushButton(QStringLiteral("Send &test"), group);
    m_testResult = new QLabel(group);
    m_testResult->setObjectName(QStringLiteral("pushTestResult"));
    m_testResult->setWordWrap(true);
    connect(m_testButton, &QPushButton::clicked, this, &PushPage::sendTest);

    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("&Service:"), serviceBox);
    form->addRow(QStringLiteral("&URL:"), urlBox);
    form->addRow(QString(), m_urlError);
    form->addRow(QStringLiteral("T&oken:"), tokenBox);
    form->addRow(m_testButton, m_testResult);
    body()->addWidget(group);

    using OptionBindings::bindValue;
    OptionsModel& o = options;
    OptionBindings::bindChoice(
        o, serviceBox, [&o]() -> auto& { return o.edit().push.service; });
    bindValue(o, urlBox, [&o]() -> QString& { return o.edit().push.url; });
    bindValue(o, tokenBox, [&o]() -> QString& { return o.edit().push.token; });
    connect(&o, &OptionsModel::reloaded, this, [this] { checkUrl(); });
    checkUrl();
}

bool PushPage::checkUrl()
{
    return showProblem(m_urlError, FieldChecks::pushUrl(options().values().push.url));
}

QWidget* PushPage::refuseFields()
{
    return checkUrl() ? m_urlBox : nullptr;
}

void PushPage::sendTest()
{
    Settings::Push settings = options().values().push;
    settings.url = settings.url.trimmed();
    settings.token = settings.token.trimmed();
    if (!settings.isOn()) {
        m_testResult->setText(QStringLiteral("Choose a service and enter its URL first."));
        return;
    }
    if (checkUrl()) {
        m_testResult->clear();
        return;
    }
    if (!m_testPush)
        return;
    m_testResult->setText(QStringLiteral("Sending..."));
    m_testPush(settings, [page = QPointer(this)](const QString& failure) {
        if (page) {
            page->m_testResult->setText(failure.isEmpty() ? QStringLiteral("Test push delivered.")
                                                          : QStringLiteral("Test push failed: ") + failure);
        }
    });
}
