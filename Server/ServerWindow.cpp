#include "Server/ServerWindow.h"

#include "Common/NumberText.h"
#include "Server/ServerDialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

namespace gemvolt::server {

namespace {

const QString CaptionStarting = QStringLiteral("Gemvolt Multiplayer - Server [Initilizing]");
const QString CaptionRunning = QStringLiteral("Gemvolt Multiplayer - Server [Server running]");
const QString CaptionNotHosting = QStringLiteral("Gemvolt Multiplayer - Server [Not hosting]");
const QString AddressError = QStringLiteral("Error Reading IP, try 127.0.0.1");

QListWidget* makeColumn(const char* name, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setMinimumHeight(180);
    return list;
}

} // namespace

ServerWindow::ServerWindow(ServerDialogs& dialogs, Options options, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), m_options(std::move(options)) {
    m_port.attach(&m_core);
    m_core.setObserver(this);

    m_frame = new QGroupBox(QStringLiteral("Player List"), this);
    auto* grid = new QGridLayout(m_frame);
    const char* headings[] = {"ID", "Name", "Wins", "Losses"};
    for (int column = 0; column < 4; ++column) {
        grid->addWidget(new QLabel(QString::fromLatin1(headings[column]), m_frame), 0, column);
    }
    PlayerIndex = makeColumn("PlayerIndex", m_frame);
    PlayerName = makeColumn("PlayerName", m_frame);
    PlayerWins = makeColumn("PlayerWins", m_frame);
    PlayerLosses = makeColumn("PlayerLosses", m_frame);
    const QList<QListWidget*> columns = {PlayerIndex, PlayerName, PlayerWins, PlayerLosses};
    for (int column = 0; column < 4; ++column) {
        grid->addWidget(columns[column], 1, column);
        connect(columns[column], &QListWidget::currentRowChanged, this, &ServerWindow::selectRow);
    }
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 5);
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(3, 2);

    cmdKick = new QPushButton(QStringLiteral("Kick Selected Player (ID)"), this);
    cmdKick->setObjectName(QStringLiteral("cmdKick"));
    connect(cmdKick, &QPushButton::clicked, this, &ServerWindow::kickSelected);

    Text1 = new QPlainTextEdit(QStringLiteral("IP/Hostname\n"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setFixedHeight(Text1->fontMetrics().lineSpacing() * 2 + 12);
    Text1->setToolTip(QStringLiteral("Click to refresh"));
    Text1->viewport()->installEventFilter(this);

    lblUptime = new QLabel(QStringLiteral("Uptime: 00:00:00"), this);
    lblUptime->setObjectName(QStringLiteral("lblUptime"));

    tmrUptime = new QTimer(this);
    tmrUptime->setObjectName(QStringLiteral("tmrUptime"));
    tmrUptime->setInterval(1000);
    connect(tmrUptime, &QTimer::timeout, this, &ServerWindow::updateUptime);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_frame, 1);
    layout->addWidget(cmdKick);
    layout->addWidget(Text1);
    layout->addWidget(lblUptime);
    resize(420, 380);
}

ServerWindow::~ServerWindow() {
    m_core.setObserver(nullptr);
    m_core.CloseSession();
}

void ServerWindow::start() {
    setWindowTitle(CaptionStarting);
    show();
    // Let the window paint before the prompt takes over.
    QApplication::processEvents();

    const std::optional<QString> answer = m_dialogs.askText(
        QStringLiteral("Number of Clients Required"),
        QStringLiteral("Please enter the number of Clients (include +1 for server)"),
        QString::number(ServerCore::DefaultPlayerLimit));
    const std::string text = answer ? answer->toStdString() : std::string();
    const InitResult result = m_core.InitServer(
        answer ? std::optional<std::string_view>(text) : std::nullopt, m_options.port);
    if (!result.Hosted) {
        m_dialogs.showCritical(QStringLiteral("InitServer"),
                               QStringLiteral("Error #%1: %2")
                                   .arg(result.ErrorNumber)
                                   .arg(QString::fromStdString(result.Description)));
    }
    // Say so when nobody can connect, rather than claim the server runs.
    setWindowTitle(result.Hosted ? CaptionRunning : CaptionNotHosting);

    m_startTime = now();
    tmrUptime->start();
    refreshAddress();
}

void ServerWindow::updateUptime() {
    const qint64 seconds = std::max<qint64>(0, m_startTime.secsTo(now()));
    // Shown as a time of day, so the hours start again after 24.
    const QTime elapsed = QTime(0, 0).addSecs(static_cast<int>(seconds % 86400));
    lblUptime->setText(QStringLiteral("Uptime: ") + elapsed.toString(QStringLiteral("hh:mm:ss")));
}

void ServerWindow::refreshAddress() {
    const QString address = m_options.address ? m_options.address() : m_port.localAddress();
    const qsizetype first = address.indexOf(QLatin1Char(';'));
    const qsizetype second = first < 0 ? -1 : address.indexOf(QLatin1Char(';'), first + 1);
    if (second < 0) {
        Text1->setPlainText(AddressError);
        return;
    }
    Text1->setPlainText(QStringLiteral("IP / ") + address.mid(first + 1, second - first - 1));
}

void ServerWindow::kickSelected() {
    const int row = PlayerIndex->currentRow();
    QListWidgetItem* item = row < 0 ? nullptr : PlayerIndex->item(row);
    if (!item || !item->isSelected()) {
        return;
    }
    m_core.Kick(common::numberValue32(item->text().toStdString()));
}

void ServerWindow::closeEvent(QCloseEvent* event) {
    tmrUptime->stop();
    m_core.CloseSession();
    event->accept();
}

bool ServerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1->viewport() && event->type() == QEvent::MouseButtonPress) {
        refreshAddress();
    }
    return QWidget::eventFilter(watched, event);
}

void ServerWindow::standingsChanged() {
    // Keep the selection on the same player when the queue moves.
    QString selectedId;
    if (QListWidgetItem* item = PlayerIndex->currentItem(); item && item->isSelected()) {
        selectedId = item->text();
    }
    m_selecting = true;
    for (QListWidget* list : {PlayerIndex, PlayerName, PlayerWins, PlayerLosses}) {
        list->clear();
    }
    int selectRowAfter = -1;
    for (const StandingsRow& row : m_core.Standings()) {
        const QString id = QString::fromStdString(row.IdText);
        if (id == selectedId) {
            selectRowAfter = PlayerIndex->count();
        }
        PlayerIndex->addItem(id);
        PlayerName->addItem(QString::fromStdString(row.Name));
        PlayerWins->addItem(QString::fromStdString(row.Wins));
        PlayerLosses->addItem(QString::fromStdString(row.Losses));
    }
    m_selecting = false;
    if (selectRowAfter >= 0) {
        selectRow(selectRowAfter);
    }
}

void ServerWindow::selectRow(int row) {
    if (m_selecting) {
        return;
    }
    m_selecting = true;
    for (QListWidget* list : {PlayerIndex, PlayerName, PlayerWins, PlayerLosses}) {
        list->setCurrentRow(row);
    }
    m_selecting = false;
}

QDateTime ServerWindow::now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentDateTime();
}

} // namespace gemvolt::server
