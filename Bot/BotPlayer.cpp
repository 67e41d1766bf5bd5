#include "Bot/BotPlayer.h"

#include "Bot/AttackPatternDesign.h"
#include "Bot/ScaledTicker.h"
#include "Client/net/QtTicker.h"
#include "Common/MessageCodec.h"

#include <QCryptographicHash>
#include <QThread>

namespace gemvolt::bot {

namespace {

// A server's words made safe for a terminal: one line without control
// characters (no escape sequences that move the cursor, recolour or retitle
// it), no line or paragraph separators or hidden format characters, and short.
QString printable(const QString& text) {
    constexpr qsizetype MaxShown = 200;
    QString shown;
    for (const QChar c : text.left(MaxShown + 1)) {
        const QChar::Category category = c.category();
        const bool unsafe = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph;
        shown += unsafe ? QChar(u'?') : c;
    }
    if (shown.size() > MaxShown) {
        shown.truncate(MaxShown);
        if (shown.back().isHighSurrogate())
            shown.chop(1);
        shown += QStringLiteral("...");
    }
    return shown;
}

} // namespace

QString BotPlayer::boardDigest(const common::Bytes& snapshot) {
    const QByteArray bytes(reinterpret_cast<const char*>(snapshot.data()),
                           static_cast<qsizetype>(snapshot.size()));
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(12));
}

QString BotPlayer::greeting(Level level) {
    switch (level) {
    case Level::Easy:
        return QStringLiteral("Hello! I am still learning, please be gentle.");
    case Level::Normal:
        return QStringLiteral("Hello everybody, good luck and have fun!");
    case Level::Hard:
        return QStringLiteral("Hello. Ready when you are.");
    }
    return QStringLiteral("Hello!");
}

BotPlayer::BotPlayer(const BotOptions& options, QObject* parent)
    : QObject(parent), m_options(options) {
    const double speed = m_options.Fast ? BotOptions::FastFactor : 1.0;
    std::unique_ptr<net::Ticker> ticker = std::make_unique<net::QtTicker>();
    if (m_options.Fast)
        ticker = std::make_unique<ScaledTicker>(std::move(ticker), speed);
    m_client = std::make_unique<net::HeadlessClient>(static_cast<net::SessionDialogs&>(*this),
                                                     std::move(ticker));
    net::ClientPorts ports;
    ports.pause = static_cast<board::PausePort*>(this);
    m_client->setPorts(ports);
    m_brain = std::make_unique<BotBrain>(*m_client, m_client->session(),
                                         LevelSettings::forLevel(m_options.Which), speed,
                                         static_cast<std::uint32_t>(m_options.Port) ^ 0x5eed);

    m_brain->setFightOverHandler([this] {
        if (m_options.Games > 0 && m_brain->fightsPlayed() >= m_options.Games)
            QTimer::singleShot(0, this, [this] { leave(0); });
    });

    net::Session& session = m_client->session();
    connect(&session, &net::Session::messageArrived, this, &BotPlayer::onMessage);
    connect(&session, &net::Session::connected, this, [this] {
        // Greet once the server knows us; the pattern goes with every
        // standings change anyway, but the room should have it at once.
        m_client->cmdApply_Click();
        m_client->Say(greeting(m_options.Which));
    });
    connect(&session, &net::Session::connectFailed, this,
            [this](const QString& host, const QString& reason) {
                emit problem(QStringLiteral("gemvolt-bot: could not connect to %1 port %2: %3")
                                 .arg(host)
                                 .arg(m_options.Port)
                                 .arg(printable(reason)));
                finish(1);
            });
    // A blip the session resumes changes nothing for the bot: no new greeting,
    // no leaving, the brain plays on; its moves go out once the session is back.
    connect(&session, &net::Session::connectionInterrupted, this, [this] { ++m_interruptions; });
    connect(&session, &net::Session::connectionResumed, this, [this] { ++m_resumes; });
    connect(&session, &net::Session::connectionLost, this, [this] {
        emit problem(QStringLiteral("gemvolt-bot: lost the connection to the server at %1 port %2")
                         .arg(m_options.Host)
                         .arg(m_options.Port));
        finish(1);
    });

    m_pollTimer.setTimerType(Qt::PreciseTimer);
    m_pollTimer.setInterval(m_options.Fast ? 1 : 10);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { m_brain->poll(m_clock.elapsed()); });
}

BotPlayer::~BotPlayer() {
    m_pollTimer.stop();
    // The brain is the client's sender: the client must not outlive it as such.
    if (m_client)
        m_client->handlers().setSender(&m_client->session());
}

void BotPlayer::start() {
    AttackPatternDesign::enterIntoEditor(m_client->core(),
                                         AttackPatternDesign::forLevel(m_options.Which));
    m_clock.start();
    m_pollTimer.start();
    if (!m_client->ConnectToServer())
        finish(1);
}

void BotPlayer::leave(int exitCode) {
    if (m_done)
        return;
    m_pollTimer.stop();
    // MsgPlayerLeft, then the connection closes after what was sent.
    m_client->DisconnectFromServer();
    finish(exitCode);
}

void BotPlayer::finish(int exitCode) {
    if (m_done)
        return;
    m_done = true;
    m_pollTimer.stop();
    emit finished(exitCode);
}

void BotPlayer::setDrawPort(board::DrawPort* draw) {
    net::ClientPorts ports;
    ports.pause = static_cast<board::PausePort*>(this);
    ports.draw = draw;
    m_client->setPorts(ports);
}

BotStats BotPlayer::stats() const {
    BotStats s;
    s.MessagesReceived = m_received;
    s.MessagesUndecodable = m_undecodable;
    s.Fights = m_brain->fightsPlayed();
    s.Losses = m_brain->fightsLost();
    s.Wins = s.Fights - s.Losses;
    s.Pairs = m_brain->pairsPlanned();
    s.Keys = m_brain->keysPressed();
    s.Interruptions = m_interruptions;
    s.Resumes = m_resumes;
    for (const common::Bytes& board : m_brain->boardsAtLoss())
        s.BoardsAtLoss << boardDigest(board);
    return s;
}

void BotPlayer::onMessage(const QByteArray& message) {
    ++m_received;
    const auto decoded = common::decodeMessage(
        common::ByteView(reinterpret_cast<const std::uint8_t*>(message.data()),
                         static_cast<std::size_t>(message.size())),
        common::Direction::ServerToClient);
    if (!decoded.ok())
        ++m_undecodable;
}

QString BotPlayer::promptText(const QString& message, const QString& /*title*/,
                              const QString& /*defaultAnswer*/) {
    if (message.startsWith(QLatin1String("Please enter a hostname"))) {
        const QString host = m_options.Host.contains(QLatin1Char(':'))
                                 ? QStringLiteral("[%1]").arg(m_options.Host)
                                 : m_options.Host;
        return QStringLiteral("%1:%2").arg(host).arg(m_options.Port);
    }
    return m_options.Name;
}

void BotPlayer::showCriticalError(const QString& title, const QString& text) {
    emit problem(QStringLiteral("gemvolt-bot: %1: %2").arg(title, text));
}

void BotPlayer::endProgram() {
    QTimer::singleShot(0, this, [this] { finish(1); });
}

void BotPlayer::pause(int milliseconds) {
    // The animation blocks the client's thread on purpose, as it does for a person.
    const double speed = m_options.Fast ? BotOptions::FastFactor : 1.0;
    QThread::usleep(static_cast<unsigned long>(milliseconds * 1000.0 / speed));
}

} // namespace gemvolt::bot
