#include "Client/shell/FrmBrowser.h"

#include "Client/shell/Twips.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace gemvolt::shell {

namespace {

// Window lengths are kept in twips and turned into whole pixels through the screen's
// logical resolution, so the window keeps its proportions on any screen.
constexpr int MarginTwips = 50;    // left edge of the address box and the page view
constexpr int SideTwips = 100;     // both side margins together, and the bottom margin
constexpr int LabelTopTwips = 45;  // the label's top inside the address bar
constexpr int LabelGapTwips = 15;  // between the label and the address box
constexpr int BarBottomTwips = 60; // below the address box, inside the address bar
constexpr int StartWidthTwips = 11400;
constexpr int StartHeightTwips = 8700;
constexpr int BusyPollMs = 5;

QStyle::StandardPixmap iconFor(const QString& key) {
    if (key == QLatin1String("Back"))
        return QStyle::SP_ArrowBack;
    if (key == QLatin1String("Forward"))
        return QStyle::SP_ArrowForward;
    if (key == QLatin1String("Stop"))
        return QStyle::SP_BrowserStop;
    if (key == QLatin1String("Refresh"))
        return QStyle::SP_BrowserReload;
    if (key == QLatin1String("Home"))
        return QStyle::SP_DirHomeIcon;
    return QStyle::SP_FileDialogContentsView;
}

QKeySequence shortcutFor(const QString& key) {
    if (key == QLatin1String("Back"))
        return QKeySequence::Back;
    if (key == QLatin1String("Forward"))
        return QKeySequence::Forward;
    if (key == QLatin1String("Refresh"))
        return QKeySequence::Refresh;
    if (key == QLatin1String("Stop"))
        return QKeySequence(Qt::Key_Escape);
    if (key == QLatin1String("Search"))
        return QKeySequence::Find;
    return QKeySequence(Qt::ALT | Qt::Key_Home);
}

} // namespace

const QStringList frmBrowser::ToolbarKeys = {QStringLiteral("Back"), QStringLiteral("Forward"),
                                             QStringLiteral("Stop"), QStringLiteral("Refresh"),
                                             QStringLiteral("Home"), QStringLiteral("Search")};

const QString frmBrowser::WorkingCaption = QStringLiteral("Working...");

frmBrowser::frmBrowser(HelpAddresses addresses, QWidget* parent)
    : QWidget(parent, Qt::Window), m_addresses(std::move(addresses)) {
    setObjectName(QStringLiteral("frmBrowser"));
    setWindowTitle(QString());

    tbToolBar = new QToolBar(this);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tbToolBar->setMovable(false);
    for (const QString& key : ToolbarKeys) {
        QAction* action = tbToolBar->addAction(style()->standardIcon(iconFor(key)), key);
        action->setObjectName(key);
        action->setData(key);
        action->setToolTip(key);
        action->setShortcut(shortcutFor(key));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, key] { toolbarClick(key); });
    }

    picAddress = new QWidget(this);
    picAddress->setObjectName(QStringLiteral("picAddress"));
    lblAddress = new QLabel(QStringLiteral("&Address:"), picAddress);
    lblAddress->setObjectName(QStringLiteral("lblAddress"));
    cboAddress = new QComboBox(picAddress);
    cboAddress->setObjectName(QStringLiteral("cboAddress"));
    cboAddress->setEditable(true);
    // The box is a text field: what is typed is opened, never kept as a list entry.
    cboAddress->setInsertPolicy(QComboBox::NoInsert);
    cboAddress->setCompleter(nullptr);
    lblAddress->setBuddy(cboAddress);
    connect(cboAddress->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        timTimer->start();
        navigate(cboAddress->currentText());
    });

    brwWebBrowser = new HelpView(m_addresses, this);
    brwWebBrowser->setObjectName(QStringLiteral("brwWebBrowser"));
    connect(brwWebBrowser, &QTextBrowser::sourceChanged, this, &frmBrowser::downloadComplete);

    timTimer = new QTimer(this);
    timTimer->setObjectName(QStringLiteral("timTimer"));
    timTimer->setInterval(BusyPollMs);
    connect(timTimer, &QTimer::timeout, this, &frmBrowser::busyPollTick);

    m_busyProbe = [this] { return brwWebBrowser->isBusy(); };

    resize(Twips::wholePixels(this, StartWidthTwips, Qt::Horizontal),
           Twips::wholePixels(this, StartHeightTwips, Qt::Vertical));
    show();
    tbToolBar->update();
    applyLayout();
}

void frmBrowser::openAddress(const QString& address) {
    timTimer->start();
    cboAddress->setEditText(address);
    navigate(cboAddress->currentText());
    show();
    raise();
    activateWindow();
}

QAction* frmBrowser::toolbarAction(const QString& key) const {
    for (QAction* action : tbToolBar->actions()) {
        if (action->objectName() == key)
            return action;
    }
    return nullptr;
}

void frmBrowser::toolbarClick(const QString& key) {
    timTimer->start();
    if (key == QLatin1String("Back")) {
        brwWebBrowser->backward();
    } else if (key == QLatin1String("Forward")) {
        brwWebBrowser->forward();
    } else if (key == QLatin1String("Refresh")) {
        brwWebBrowser->reload();
    } else if (key == QLatin1String("Home")) {
        navigate(m_addresses.homeAddress());
    } else if (key == QLatin1String("Search")) {
        navigate(HelpAddresses::searchAddress());
    } else if (key == QLatin1String("Stop")) {
        // Pages load in one piece, so there is no transfer to cancel; what Stop must do at
        // once is end the poll and show the title of what is on screen.
        timTimer->stop();
        setWindowTitle(brwWebBrowser->documentTitle());
    }
}

void frmBrowser::setBusyProbe(std::function<bool()> probe) {
    m_busyProbe = std::move(probe);
}

void frmBrowser::navigate(const QString& address) {
    const QUrl url = HelpView::urlFromAddress(address, brwWebBrowser->source().isValid()
                                                           ? brwWebBrowser->source()
                                                           : QUrl(m_addresses.baseAddress()));
    if (!url.isValid())
        return;
    brwWebBrowser->setSource(url);
}

void frmBrowser::busyPollTick() {
    if (m_busyProbe && m_busyProbe()) {
        setWindowTitle(WorkingCaption);
        return;
    }
    timTimer->stop();
    setWindowTitle(brwWebBrowser->documentTitle());
}

void frmBrowser::downloadComplete() {
    // The address box is the player's: it holds what a Help item or the player put there,
    // and following links or the history leaves it alone.
    setWindowTitle(brwWebBrowser->documentTitle());
}

void frmBrowser::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyLayout();
}

void frmBrowser::applyLayout() {
    const auto twipsToPixelsX = [this](int twips) {
        return Twips::wholePixels(this, twips, Qt::Horizontal);
    };
    const auto twipsToPixelsY = [this](int twips) {
        return Twips::wholePixels(this, twips, Qt::Vertical);
    };
    const int width = this->width();
    const int height = this->height();
    const int toolbarHeight = tbToolBar->sizeHint().height();
    tbToolBar->setGeometry(0, 0, width, toolbarHeight);

    const QSize labelSize = lblAddress->sizeHint();
    const int labelTop = twipsToPixelsY(LabelTopTwips);
    lblAddress->setGeometry(twipsToPixelsX(MarginTwips), labelTop, labelSize.width(),
                            labelSize.height());
    const int boxTop = labelTop + labelSize.height() + twipsToPixelsY(LabelGapTwips);
    const int boxHeight = cboAddress->sizeHint().height();
    cboAddress->setGeometry(twipsToPixelsX(MarginTwips), boxTop,
                            std::max(0, width - twipsToPixelsX(SideTwips)), boxHeight);
    const int barHeight = boxTop + boxHeight + twipsToPixelsY(BarBottomTwips);
    picAddress->setGeometry(0, toolbarHeight, width, barHeight);

    const int viewTop = toolbarHeight + barHeight;
    brwWebBrowser->setGeometry(twipsToPixelsX(MarginTwips), viewTop,
                               std::max(0, width - twipsToPixelsX(SideTwips)),
                               std::max(0, height - viewTop - twipsToPixelsY(SideTwips)));
}

void frmBrowser::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        keepEmptyCaptionEmpty();
}

void frmBrowser::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    keepEmptyCaptionEmpty();
}

void frmBrowser::keepEmptyCaptionEmpty() {
    // The window system shows the program's name for an empty caption; a
    // blank keeps the title bar as empty as the caption (the window's own
    // caption stays empty).
    if (windowTitle().isEmpty() && windowHandle())
        windowHandle()->setTitle(QStringLiteral(" "));
}

} // namespace gemvolt::shell
