#include "Client/net/HeadlessClient.h"

#include "Client/net/QtTicker.h"

namespace gemvolt::net {

bool HeadlessClient::Say(const QString& typed) {
    return SendChat(m_session.LocalPlayerName() + QStringLiteral(":>") + typed);
}

HeadlessClient::HeadlessClient(SessionDialogs& dialogs, std::unique_ptr<Ticker> ticker,
                               QObject* parent)
    : QObject(parent), m_flow(m_core), m_handlers(m_core, m_chat, m_flow), m_session(dialogs),
      m_ticker(ticker ? std::move(ticker) : std::make_unique<QtTicker>()) {
    m_ticker->setHandler([this](ClientTimer t) { tick(t); });
    m_handlers.setSender(&m_session);
    applyPorts();

    connect(&m_session, &Session::connectStarting, this, [this] {
        m_handlers.SessionStarting();
        emit stateChanged();
    });
    connect(&m_session, &Session::connected, this, [this](qint32 id) {
        m_handlers.SessionConnected(id);
        emit stateChanged();
    });
    connect(&m_session, &Session::connectFailed, this,
            [this](const QString& host, const QString& reason) {
                m_handlers.SessionConnectFailed(host, reason);
                emit stateChanged();
            });
    connect(&m_session, &Session::messageArrived, this, [this](const QByteArray& message) {
        m_handlers.Receive(common::ByteView(reinterpret_cast<const std::uint8_t*>(message.data()),
                                            static_cast<std::size_t>(message.size())));
        emit stateChanged();
    });
    // A blip the transport resumes is only news for the player: the game and
    // its timers go on, and what they send waits in the transport meanwhile.
    connect(&m_session, &Session::connectionInterrupted, this, [this] {
        m_chat.AppendChatLine(QString::fromLatin1(ReconnectingLine));
        emit stateChanged();
    });
    connect(&m_session, &Session::connectionResumed, this, [this] {
        m_chat.AppendChatLine(QString::fromLatin1(ReconnectedLine));
        emit stateChanged();
    });
    connect(&m_session, &Session::connectionLost, this, [this] {
        // Our own way out may make the server drop us first: that is no loss.
        if (!m_exiting)
            m_handlers.SessionLost();
        emit stateChanged();
    });
}

HeadlessClient::~HeadlessClient() {
    m_ticker->setHandler({});
    m_core.detachPorts();
    m_session.CloseSession();
}

void HeadlessClient::setPorts(const ClientPorts& ports) {
    m_ports = ports;
    applyPorts();
}

void HeadlessClient::applyPorts() {
    board::Ports p;
    p.draw = m_ports.draw;
    p.pause = m_ports.pause;
    p.sound = m_ports.sound;
    p.messageBox = m_ports.messageBox;
    p.messages = &m_handlers;
    p.timers = this;
    m_core.setPorts(p);
    m_handlers.setChatWindow(m_ports.chatWindow);
}

bool HeadlessClient::ConnectToServer() {
    if (m_hasSession)
        DisconnectFromServer();
    m_exiting = false;
    if (!m_session.DirectPlayInit())
        return false;
    m_hasSession = true;
    const bool ok = m_session.ConnectToServer();
    emit stateChanged();
    return ok;
}

void HeadlessClient::DisconnectFromServer() {
    m_core.setTimerEnabled(board::Timer::FallGems, false);
    m_core.setTimerEnabled(board::Timer::Update, false);
    m_handlers.SendPlayerLeft();
    // Gone means gone: without this the "disconnected" player would still
    // receive and send chat.
    m_session.CloseSession();
    m_hasSession = false;
    emit stateChanged();
}

void HeadlessClient::Exit() {
    m_core.setTimerEnabled(board::Timer::FallGems, false);
    beginExit();
    if (m_ports.chatWindow)
        m_ports.chatWindow->showChatWindow();
    emit stateChanged();
}

void HeadlessClient::CloseRequested() {
    beginExit();
    emit stateChanged();
}

void HeadlessClient::beginExit() {
    m_exiting = true;
    m_handlers.SendPlayerLeft();
    m_chat.appendRaw(QStringLiteral("\nPlease Wait While Program Exits"));
    // A second way out during the exit keeps the running timer and its
    // doubled interval: the program still ends at the tick it would have.
    if (!m_ticker->isActive(ClientTimer::Exit))
        m_ticker->start(ClientTimer::Exit, ExitFirstInterval);
}

void HeadlessClient::tick(ClientTimer timer) {
    switch (timer) {
    case ClientTimer::FallGems:
        m_core.FallTick();
        break;
    case ClientTimer::Update:
        m_core.BoardUpdateTick();
        break;
    case ClientTimer::CountDown:
        m_flow.CountDownTick();
        break;
    case ClientTimer::Exit: {
        const int next = m_ticker->interval(ClientTimer::Exit) * 2;
        if (next > ExitLastInterval) {
            m_ticker->stop(ClientTimer::Exit);
            m_session.CloseSession();
            m_hasSession = false;
            emit stateChanged();
            emit exitFinished();
            return;
        }
        m_ticker->start(ClientTimer::Exit, next);
        break;
    }
    }
    emit stateChanged();
}

void HeadlessClient::timerChanged(board::Timer timer, bool enabled) {
    ClientTimer which = ClientTimer::FallGems;
    int interval = FallGemsInterval;
    switch (timer) {
    case board::Timer::FallGems:
        break;
    case board::Timer::Update:
        which = ClientTimer::Update;
        interval = UpdateInterval;
        break;
    case board::Timer::CountDown:
        which = ClientTimer::CountDown;
        interval = CountDownInterval;
        break;
    }
    if (enabled)
        m_ticker->start(which, interval);
    else
        m_ticker->stop(which);
}

} // namespace gemvolt::net
