#include "Client/shell/FrmSFX.h"

#include "Client/shell/AssetFolder.h"
#include "Client/shell/SoundDialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gemvolt::shell {

namespace {

QPushButton* makeButton(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

QLineEdit* makeText(const QString& text, const QString& name, QWidget* parent) {
    auto* t = new QLineEdit(text, parent);
    t->setObjectName(name);
    return t;
}

} // namespace

FrmSFX::FrmSFX(SoundDialogs& dialogs, const QString& appFolder, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs),
      m_appFolder(AssetFolder::forProgram(
          appFolder.isEmpty() ? QCoreApplication::applicationDirPath() : appFolder)) {
    setObjectName(QStringLiteral("frmSFX"));
    setWindowTitle(QStringLiteral("GMVLT - Sound Options"));
    buildWidgets();
    runCreationSteps();
}

FrmSFX::~FrmSFX() {
    GoodBye();
}

void FrmSFX::buildWidgets() {
    auto* grid = new QGridLayout(this);

    cmbDevices = new QComboBox(this);
    cmbDevices->setObjectName(QStringLiteral("cmbDevices"));
    txtGC = makeText(QStringLiteral("Dink.wav"), QStringLiteral("txtGC"), this);
    txtGD = makeText(QStringLiteral("PahTush.wav"), QStringLiteral("txtGD"), this);
    txtBGM = makeText(QStringLiteral("BGM_2.wav"), QStringLiteral("txtBGM"), this);
    cmdGCPlay = makeButton(QStringLiteral("Play"), QStringLiteral("cmdGCPlay"), this);
    cmdGDPlay = makeButton(QStringLiteral("Play"), QStringLiteral("cmdGDPlay"), this);
    cmdBGMPlay = makeButton(QStringLiteral("Play"), QStringLiteral("cmdBGMPlay"), this);
    cmdGCclect = makeButton(QStringLiteral("Browse..."), QStringLiteral("cmdGCclect"), this);
    cmdGDclect = makeButton(QStringLiteral("Browse..."), QStringLiteral("cmdGDclect"), this);
    cmdBGMclect = makeButton(QStringLiteral("Browse..."), QStringLiteral("cmdBGMclect"), this);
    checkBGM = new QCheckBox(QStringLiteral("Disable BGM (click Play to apply)"), this);
    checkBGM->setObjectName(QStringLiteral("checkBGM"));
    cmdHide = makeButton(QStringLiteral("_ Hide"), QStringLiteral("cmdHide"), this);

    const struct {
        const char* label;
        const char* name;
        QWidget* field;
        QPushButton* play;
        QPushButton* browse;
    } rows[] = {
        {"Sound Device:", "lblDevice", cmbDevices, nullptr, nullptr},
        {"Gem Collision:", "lblGC", txtGC, cmdGCPlay, cmdGCclect},
        {"Gem Destruction:", "lblGD", txtGD, cmdGDPlay, cmdGDclect},
        {"BackGround Music:", "lblBGM", txtBGM, cmdBGMPlay, cmdBGMclect},
    };
    int r = 0;
    for (const auto& row : rows) {
        auto* label = new QLabel(QString::fromLatin1(row.label), this);
        label->setObjectName(QString::fromLatin1(row.name));
        label->setBuddy(row.field);
        grid->addWidget(label, r, 0);
        if (row.play == nullptr) {
            grid->addWidget(row.field, r, 1, 1, 3);
        } else {
            grid->addWidget(row.field, r, 1);
            grid->addWidget(row.play, r, 2);
            grid->addWidget(row.browse, r, 3);
        }
        ++r;
    }
    grid->addWidget(checkBGM, r, 1, 1, 3);
    grid->addWidget(cmdHide, r + 1, 3);
    grid->setColumnStretch(1, 1);
    setMinimumWidth(600);

    connect(cmbDevices, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_player.selectDevice(index); });
    connect(cmdGCPlay, &QPushButton::clicked, this, [this] { PlaySound(txtGC->text(), -1); });
    connect(cmdGDPlay, &QPushButton::clicked, this, [this] { PlaySound(txtGD->text(), -1); });
    connect(cmdBGMPlay, &QPushButton::clicked, this, [this] { playMusicButton(); });
    connect(cmdGCclect, &QPushButton::clicked, this,
            [this] { txtGC->setText(Browse(txtGC->text())); });
    connect(cmdGDclect, &QPushButton::clicked, this,
            [this] { txtGD->setText(Browse(txtGD->text())); });
    connect(cmdBGMclect, &QPushButton::clicked, this,
            [this] { txtBGM->setText(Browse(txtBGM->text())); });
    connect(cmdHide, &QPushButton::clicked, this, &QWidget::hide);
}

QString FrmSFX::inAppFolder(const QString& name) const {
    return QDir::toNativeSeparators(QDir(m_appFolder).filePath(name));
}

void FrmSFX::runCreationSteps() {
    // Every step runs even when an earlier one found no sound.
    const QStringList devices = m_player.enumerateDevices();
    cmbDevices->addItems(devices);
    if (cmbDevices->count() > 0) {
        cmbDevices->setCurrentIndex(0);
        m_player.selectDevice(0);
    }
    // The music comes from the program's folder, however the program was started.
    m_player.InitSoundBuffer(inAppFolder(txtBGM->text()), 0);
    m_player.takeBgmBaseFrequency();
    m_player.playMusicLooping();
    for (QLineEdit* text : {txtGC, txtGD, txtBGM}) {
        text->setText(inAppFolder(text->text()));
    }
}

void FrmSFX::PlaySound(const QString& file, int position) {
    m_player.PlaySound(file, position);
}

void FrmSFX::InitSoundBuffer(const QString& file, int slot) {
    m_player.InitSoundBuffer(file, slot);
}

void FrmSFX::CleanUpSndBuffer() {
    m_player.CleanUpSndBuffer();
}

void FrmSFX::SetBGMSpeed(double row) {
    m_player.SetBGMSpeed(row);
}

QString FrmSFX::Browse(const QString& previous) {
    const QString chosen = m_dialogs.openFile(this, QStringLiteral("Select Sound File..."),
                                              QStringLiteral("Wave Sound Files (*.wav)"), previous);
    return chosen.isEmpty() ? previous : QDir::toNativeSeparators(chosen);
}

void FrmSFX::playMusicButton() {
    m_player.stopMusic();
    if (checkBGM->isChecked()) {
        return;
    }
    const QString music = txtBGM->text();
    if (!music.endsWith(QLatin1String(".wav"))) {
        m_dialogs.showMessage(this, QStringLiteral("This is not a valid Sound File!"));
        return;
    }
    // Loading into slot 0 cuts the table back to the music alone.
    m_player.InitSoundBuffer(music, 0);
    m_player.takeBgmBaseFrequency();
    m_player.playMusicLooping();
}

void FrmSFX::GoodBye() {
    m_player.GoodBye();
    m_released = true;
}

QString FrmSFX::collisionFile() const {
    return txtGC->text();
}

QString FrmSFX::destructionFile() const {
    return txtGD->text();
}

QString FrmSFX::musicFile() const {
    return txtBGM->text();
}

bool FrmSFX::bgmDisabled() const {
    return checkBGM->isChecked();
}

void FrmSFX::closeEvent(QCloseEvent* event) {
    event->accept();
    const bool first = !m_released;
    GoodBye();
    if (first) {
        emit closedByUser();
    }
}

} // namespace gemvolt::shell
