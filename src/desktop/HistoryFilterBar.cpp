#include "HistoryFilterBar.h"

#include "HistoryKinds.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

HistoryFilter HistoryFilterBar::filterOf(const Texts& texts, qint64 now, QStringList* problems)
{
    HistoryFilter filter;
    const auto problem = [problems](const char* text) {
        if (problems)
            problems->append(QString::fromLatin1(text));
    };
    if (!texts.address.trimmed().isEmpty()) {
        filter.addresses = HistoryFilter::parseAddress(texts.address);
        if (!filter.addresses)
            problem("Address: not an address or prefix");
    }
    if (!texts.port.trimmed().isEmpty()) {
        const std::optional<int> port = HistoryFilter::parsePort(texts.port.trimmed());
        filter.port = port.value_or(0);
        if (!port)
            problem("Port: not a port 1-65535");
    }
    if (!texts.kind.isEmpty())
        filter.kinds = HistoryFilter::parseKinds(texts.kind).value_or(0);
    if (!texts.since.trimmed().isEmpty()) {
        const std::optional<qint64> age = HistoryFilter::parseAge(texts.since.trimmed());
        filter.since = age ? now - *age : 0;
        if (!age)
            problem("Since: not a time like 24h or 7d");
    }
    filter.text = texts.text.trimmed();
    return filter;
}

HistoryFilterBar::HistoryFilterBar(QWidget* parent)
    : QWidget(parent)
    , m_address(new QLineEdit(this))
    , m_port(new QLineEdit(this))
    , m_kind(new QComboBox(this))
    , m_since(new QComboBox(this))
    , m_text(new QLineEdit(this))
    , m_problems(new QLabel(this))
{
    m_address->setPlaceholderText(QStringLiteral("192.0.2.0/24, 2001:db8::/32"));
    m_port->setPlaceholderText(QStringLiteral("any"));
    m_port->setMaxLength(5);
    m_text->setPlaceholderText(QStringLiteral("address, country, owner, ports"));
    m_kind->addItem(QStringLiteral("any kind"), QString());
    for (const char* name : HistoryKinds::Names)
        m_kind->addItem(QString::fromLatin1(name), QString::fromLatin1(name));
    m_since->setEditable(true);
    m_since->setInsertPolicy(QComboBox::NoInsert);
    for (const char* age : { "", "1h", "24h", "7d", "30d" })
        m_since->addItem(QString::fromLatin1(age));
    m_since->lineEdit()->setPlaceholderText(QStringLiteral("any time"));
    m_since->setMinimumContentsLength(8);
    m_since->setToolTip(QStringLiteral("How far back: 90m, 24h, 7d"));

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    const auto field = [this, row](const char* caption, QWidget* input, int stretch) {
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        label->setBuddy(input);
        row->addWidget(label);
        row->addWidget(input, stretch);
    };
    field("A&ddress:", m_address, 3);
    field("&Port:", m_port, 1);
    field("&Kind:", m_kind, 0);
    field("Si&nce:", m_since, 0);
    field("&Search:", m_text, 3);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    column->addWidget(m_problems);
    m_problems->hide();
    QPalette warning = m_problems->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x20, 0x20));
    m_problems->setPalette(warning);

    m_delay.setSingleShot(true);
    m_delay.setInterval(DelayMs);
    connect(&m_delay, &QTimer::timeout, this, &HistoryFilterBar::apply);
    const auto typed = [this] { m_delay.start(); };
    for (QLineEdit* edit : { m_address, m_port, m_text })
        connect(edit, &QLineEdit::textChanged, this, typed);
    connect(m_since, &QComboBox::currentTextChanged, this, typed);
    for (QLineEdit* edit : { m_address, m_port, m_text, m_since->lineEdit() }) {
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            if (m_delay.isActive())
                apply();
            emit finished();
        });
    }
    connect(m_kind, &QComboBox::currentIndexChanged, this, &HistoryFilterBar::apply);
}

void HistoryFilterBar::showAddress(const QString& address)
{
    const QSignalBlocker quiet(m_address);
    m_address->setText(address);
    apply();
}

void HistoryFilterBar::apply()
{
    m_delay.stop();
    QStringList problems;
    const HistoryFilter filter = filterOf({ m_address->text(), m_port->text(), m_kind->currentData().toString(),
                                              m_since->currentText(), m_text->text() },
        QDateTime::currentMSecsSinceEpoch(), &problems);
    m_problems->setText(problems.join(QLatin1String("; ")));
    m_problems->setVisible(!problems.isEmpty());
    emit filterChanged(filter);
}
