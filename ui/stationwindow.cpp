#include "ui/stationwindow.h"

#include "link/portmap.h"
#include "run/station.h"
#include "ui/droppedfile.h"
#include "ui/porttile.h"
#include "ui/wording.h"

#include <algorithm>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace tqb9 {
namespace {

// How often tiles redraw at most: a block takes 180 ms, so this is every block a person can see.
constexpr std::chrono::milliseconds kRefresh{100};
// Tiles per row when the screen has room for them; fewer on a small screen.
constexpr int kColumns = 4;
constexpr int kTileWidth = PortTile::kWidth;
constexpr int kTileHeight = PortTile::kHeight;
// The COM numbers offered, as the command line's --port takes them for a station, and only those
// the port map can resolve: past its last number a tile would wait for a port that cannot be.
constexpr int kLastOffered = std::min(64, PortMap::kLastComNumber);

const QString kPortsKey = QStringLiteral("station/ports");
const QString kLogKey = QStringLiteral("station/log");
const QString kAutomaticKey = QStringLiteral("station/automatic");
const QString kSoundKey = QStringLiteral("station/sound");

// The beeps of a failure: far enough apart that the system's bell sounds each one.
constexpr std::chrono::milliseconds kBeepGap{220};
constexpr int kFailureBeeps = 3;

const QColor kRed(0xC0, 0x00, 0x00);

// The firmware's name and the station's total are read from further off than the rest.
void setHeadingFont(QLabel* label)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    label->setFont(font);
}

} // namespace

StationWindow::StationWindow(Options options, QWidget* parent)
    : QMainWindow(parent), m_options(std::move(options))
{
    setObjectName(QStringLiteral("StationWindow"));
    if (m_options.settingsFile.isEmpty())
        m_settings = std::make_unique<QSettings>(QStringLiteral("TQ-B9"), QStringLiteral("tq-b9"));
    else
        m_settings = std::make_unique<QSettings>(m_options.settingsFile, QSettings::IniFormat);
    m_firmware = Firmware::builtIn();

    auto* client = new QWidget(this);
    setCentralWidget(client);
    auto* column = new QVBoxLayout(client);

    auto* firmwareBox = new QGroupBox(QStringLiteral("Firmware to write"), client);
    auto* firmwareRow = new QHBoxLayout(firmwareBox);
    auto* firmwareText = new QVBoxLayout;
    m_firmwareName = new QLabel(firmwareBox);
    m_firmwareName->setTextFormat(Qt::PlainText);
    setHeadingFont(m_firmwareName);
    m_firmwareFacts = new QLabel(firmwareBox);
    m_firmwareFacts->setTextFormat(Qt::PlainText);
    m_firmwareFacts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    firmwareText->addWidget(m_firmwareName);
    firmwareText->addWidget(m_firmwareFacts);
    m_firmwareButton = new QPushButton(QStringLiteral("Firmware file..."), firmwareBox);
    m_firmwareButton->setToolTip(
        QStringLiteral("Write an S-record or Intel HEX file instead (or drop it on the window)"));
    connect(m_firmwareButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Firmware file"), QString(),
            QStringLiteral("Firmware (*.s19 *.srec *.mot *.hex *.ihx);;All files (*)"));
        if (path.isEmpty())
            return;
        if (const auto error = loadFirmwareFile(path))
            showMessage(QString::fromStdString(error->message), QStringLiteral("NG"));
    });
    firmwareRow->addLayout(firmwareText, 1);
    firmwareRow->addWidget(m_firmwareButton);
    column->addWidget(firmwareBox);

    auto* controls = new QHBoxLayout;
    m_chooser = new QComboBox(client);
    m_chooser->setObjectName(QStringLiteral("portChooser"));
    m_chooser->setMinimumContentsLength(28);
    m_add = new QPushButton(QStringLiteral("Add port"), client);
    connect(m_add, &QPushButton::clicked, this, [this] {
        if (const auto refused = addPort(m_chooser->currentData().toString()))
            showMessage(*refused, QStringLiteral("NG"));
    });
    m_startAll = new QPushButton(QStringLiteral("Start all"), client);
    m_stopAll = new QPushButton(QStringLiteral("Stop all"), client);
    connect(m_startAll, &QPushButton::clicked, this, &StationWindow::startAll);
    connect(m_stopAll, &QPushButton::clicked, this, &StationWindow::stopAll);
    m_automatic = new QCheckBox(QStringLiteral("Automatic"), client);
    m_automatic->setToolTip(
        QStringLiteral("Each idle port waits for a radio and writes it when it answers"));
    connect(m_automatic, &QCheckBox::toggled, this, &StationWindow::setAutomatic);
    controls->addWidget(m_chooser);
    controls->addWidget(m_add);
    controls->addStretch(1);
    m_sound = new QCheckBox(QStringLiteral("Sound"), client);
    m_sound->setChecked(true);
    m_sound->setToolTip(
        QStringLiteral("One beep for a completed radio, three quick ones for a failure"));
    connect(m_sound, &QCheckBox::toggled, this, &StationWindow::remember);
    controls->addWidget(m_sound);
    controls->addWidget(m_automatic);
    controls->addWidget(m_startAll);
    controls->addWidget(m_stopAll);
    column->addLayout(controls);

    m_tileArea = new QWidget;
    m_grid = new QGridLayout(m_tileArea);
    m_scroll = new QScrollArea(client);
    m_scroll->setWidget(m_tileArea);
    m_scroll->setWidgetResizable(true);
    // Two rows of four tiles to begin with; the window may be made smaller, and the tiles then
    // flow into fewer columns.
    m_scroll->setMinimumSize(kColumns * kTileWidth + 40, 2 * kTileHeight + 40);
    m_scroll->viewport()->installEventFilter(this);
    column->addWidget(m_scroll, 1);

    m_total = new QLabel(client);
    m_total->setTextFormat(Qt::PlainText);
    setHeadingFont(m_total);
    column->addWidget(m_total);
    showTotal();

    auto* logRow = new QHBoxLayout;
    auto* logTitle = new QLabel(QStringLiteral("Run log:"), client);
    m_logLabel = new QLabel(client);
    m_logLabel->setTextFormat(Qt::PlainText);
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logChange = new QPushButton(QStringLiteral("Change..."), client);
    m_logOpen = new QPushButton(QStringLiteral("Open"), client);
    connect(m_logChange, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, QStringLiteral("Run log"), logPath(),
                                         QStringLiteral("JSON lines (*.jsonl);;All files (*)"),
                                         nullptr, QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty())
            setLogPath(path);
    });
    connect(m_logOpen, &QPushButton::clicked, this, &StationWindow::openLog);
    logRow->addWidget(logTitle);
    logRow->addWidget(m_logLabel, 1);
    logRow->addWidget(m_logChange);
    logRow->addWidget(m_logOpen);
    column->addLayout(logRow);

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(kRefresh);
    connect(m_refresh, &QTimer::timeout, this, &StationWindow::refresh);

    showFirmware();
    fillChooser();
    setAcceptDrops(true);

    // As large as four columns want, unless the screen is smaller (1024 by 768 is).
    const QSize wanted = sizeHint();
    m_scroll->setMinimumSize(kTileWidth + 40, kTileHeight);
    const QSize room = screen()->availableGeometry().size() - QSize(16, 48);
    resize(wanted.boundedTo(room));
}

StationWindow::~StationWindow() = default;

void StationWindow::restore()
{
    m_restoring = true;
    const QString log = m_settings->value(kLogKey).toString();
    setLogPath(log.isEmpty() ? defaultLogPath() : log);
    for (const QString& port : m_settings->value(kPortsKey).toStringList())
        addPort(port);
    m_sound->setChecked(m_settings->value(kSoundKey, true).toBool());
    m_automatic->setChecked(m_settings->value(kAutomaticKey, false).toBool());
    m_restoring = false;
    remember();
}

void StationWindow::remember()
{
    if (m_restoring)
        return;
    QStringList ports;
    for (const PortTile* tile : std::as_const(m_tiles))
        ports << tile->setup().port;
    m_settings->setValue(kPortsKey, ports);
    m_settings->setValue(kLogKey, logPath());
    m_settings->setValue(kAutomaticKey, m_automatic->isChecked());
    m_settings->setValue(kSoundKey, m_sound->isChecked());
    m_settings->sync();
}

QString StationWindow::defaultLogPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/runs.jsonl");
}

bool StationWindow::setLogPath(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString error;
    auto log = std::make_unique<RunLog>();
    const bool opened = log->open(path, &error);
    if (!opened)
        error = QStringLiteral("The run log %1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(path), error);
    if (opened) {
        m_log = std::move(log);
        m_logLabel->setText(QDir::toNativeSeparators(path));
        m_logLabel->setToolTip(QString());
        QPalette palette = m_logLabel->palette();
        palette.setColor(QPalette::WindowText,
                         QApplication::palette(m_logLabel).color(QPalette::WindowText));
        m_logLabel->setPalette(palette);
        remember();
    } else if (!(m_log && m_log->isOpen())) {
        // Nothing runs unrecorded: until a log can be written, Start says why.
        m_logLabel->setText(QDir::toNativeSeparators(path) +
                            QStringLiteral(" (cannot be written)"));
        m_logLabel->setToolTip(error);
        QPalette palette = m_logLabel->palette();
        palette.setColor(QPalette::WindowText, kRed);
        m_logLabel->setPalette(palette);
    }
    if (!opened && !m_restoring)
        showMessage(error, QStringLiteral("NG"));
    m_logOpen->setEnabled((m_log && m_log->isOpen()));
    return opened;
}

std::optional<FirmwareFileError> StationWindow::loadFirmwareFile(const QString& path)
{
    if (busy()) {
        return FirmwareFileError{
            FirmwareFileError::Kind::Unreadable,
            QStringLiteral(
                "%1: not loaded: a port is writing or waiting for a radio; stop it first")
                .arg(path)
                .toStdString()};
    }
    auto loaded = Firmware::fromFile(path);
    if (auto* error = std::get_if<FirmwareFileError>(&loaded))
        return std::move(*error);
    m_firmware = std::get<Firmware>(std::move(loaded));
    showFirmware();
    return std::nullopt;
}

void StationWindow::showFirmware()
{
    const FirmwareInfo& info = m_firmware.info();

    QString name;
    QString version;
    if (info.source == FirmwareInfo::Source::File) {
        name = QFileInfo(info.path).fileName();
        version = QStringLiteral("version not known");
    } else {
        name = QStringLiteral("Built-in firmware");
        version = QStringLiteral("Ver %1").arg(info.version);
    }
    QPalette palette = m_firmwareName->palette();
    if (info.testImage) {
        name = QStringLiteral("TEST IMAGE (%1)").arg(name);
        if (refusesFirmware())
            name += QStringLiteral(": refused, not firmware for a radio");
        palette.setColor(QPalette::WindowText, kRed);
    } else {
        palette.setColor(QPalette::WindowText,
                         QApplication::palette(m_firmwareName).color(QPalette::WindowText));
    }
    m_firmwareName->setPalette(palette);
    m_firmwareName->setText(name);
    m_firmwareName->setToolTip(info.sourceText());
    m_firmwareFacts->setText(QStringLiteral("%1    CRC-32 %2    %3 blocks of 1 KB    %4")
                                 .arg(version, crc32Text(m_firmware.crc32()))
                                 .arg(m_firmware.blocks().size())
                                 .arg(info.source == FirmwareInfo::Source::File
                                          ? QDir::toNativeSeparators(info.path)
                                          : info.sourceText()));
    setWindowTitle(QStringLiteral("TQ-B9 Flashing Station - %1").arg(name));
    for (PortTile* tile : std::as_const(m_tiles))
        tile->setFirmware(m_firmware);
}

void StationWindow::fillChooser()
{
    const PortMap ports(m_options.bindings);
    m_chooser->clear();
    for (const PortMap::Port& port : PortMap::presentPorts()) {
        m_chooser->addItem(port.description.isEmpty()
                               ? port.device
                               : QStringLiteral("%1  (%2)").arg(port.device, port.description),
                           port.device);
    }
    const QList<PortMap::Port> numbered = ports.allPorts();
    for (int n = PortMap::kFirstPort; n <= kLastOffered; ++n) {
        const QString device = n <= PortMap::kLastPort ? numbered.at(n - 1).device : QString();
        const QString com = QStringLiteral("COM%1").arg(n);
        m_chooser->addItem(
            device.isEmpty() || device == com ? com : QStringLiteral("%1  %2").arg(com, device),
            com);
    }
}

std::optional<QString> StationWindow::addPort(const QString& port)
{
    Run::Setup setup;
    switch (setup.setPort(port.trimmed(), m_options.bindings, kLastOffered)) {
    case Run::Setup::PortFault::None:
        break;
    case Run::Setup::PortFault::Empty:
        return QStringLiteral("Choose a port first.");
    case Run::Setup::PortFault::ComOutOfRange:
        return QStringLiteral("COM numbers run from 1 to %1.").arg(kLastOffered);
    }
    // A tile is named the way its chooser lists it.
    if (PortMap::comNumber(setup.port))
        setup.port = QStringLiteral("COM%1").arg(setup.comPort);
    QList<Run::Setup> setups;
    for (const PortTile* tile : std::as_const(m_tiles)) {
        if (tile->setup().port == setup.port)
            return QStringLiteral("%1 is on the station already.").arg(setup.port);
        setups << tile->setup();
    }
    setups << setup;
    const auto resolved = Station::resolve(setups);
    if (const auto* same = std::get_if<Station::SamePort>(&resolved))
        return QStringLiteral("%1 is the same port as %2, which is on the station already.")
            .arg(same->port, same->sameAs);
    const QString device = PortMap(setup.bindings).deviceFor(setup.comPort);
    setup.firmware = m_firmware;
    setup.allowTestFirmware = m_options.allowTestFirmware;

    auto* tile = new PortTile(setup, device, m_options.timing, m_tileArea);
    connect(tile, &PortTile::changed, this, &StationWindow::scheduleRefresh);
    connect(tile, &PortTile::runFinished, this, &StationWindow::logRun);
    connect(tile, &PortTile::runFinished, this, &StationWindow::countRun);
    connect(tile, &PortTile::startPressed, this, [this, tile] { startTile(tile); });
    connect(tile, &PortTile::removePressed, this, [this, tile] { removePort(tile); });
    m_tiles.append(tile);
    placeTiles();
    if (m_automatic->isChecked())
        tile->watch().setAutomatic(true);
    scheduleRefresh();
    remember();
    return std::nullopt;
}

void StationWindow::removePort(PortTile* tile)
{
    if (!m_tiles.contains(tile) || tile->busy())
        return;
    m_tiles.removeOne(tile);
    delete tile;
    placeTiles();
    remember();
}

int StationWindow::columnsThatFit() const
{
    const int spacing = std::max(0, m_grid->horizontalSpacing());
    const QMargins margins = m_grid->contentsMargins();
    const int width = m_scroll->viewport()->width() - margins.left() - margins.right();
    return std::clamp((width + spacing) / (kTileWidth + spacing), 1, kColumns);
}

void StationWindow::placeTiles()
{
    m_columns = columnsThatFit();
    for (PortTile* tile : std::as_const(m_tiles))
        m_grid->removeWidget(tile);
    for (int i = 0; i < m_tiles.size(); ++i)
        m_grid->addWidget(m_tiles.at(i), i / m_columns, i % m_columns);
    // Every column the same width, filled or not, so the tiles grow with the window alike; the
    // rows share its height.
    for (int c = 0; c < kColumns; ++c)
        m_grid->setColumnStretch(c, c < m_columns ? 1 : 0);
    const int rows = (static_cast<int>(m_tiles.size()) + m_columns - 1) / m_columns;
    for (int r = 0; r < m_grid->rowCount(); ++r)
        m_grid->setRowStretch(r, r < rows ? 1 : 0);
}

bool StationWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize &&
        columnsThatFit() != m_columns)
        placeTiles();
    return QMainWindow::eventFilter(watched, event);
}

bool StationWindow::mayWrite()
{
    if (refusesFirmware()) {
        showMessage(windowMessage(Outcome::TestImageRefused), QStringLiteral("NG"));
        return false;
    }
    if (!(m_log && m_log->isOpen())) {
        // The tool tip says why, once the window has tried the log.
        const QString why =
            m_logLabel->toolTip().isEmpty()
                ? QStringLiteral("The run log %1 cannot be written").arg(m_logLabel->text())
                : m_logLabel->toolTip();
        showMessage(why + QStringLiteral("; choose another one."), QStringLiteral("NG"));
        return false;
    }
    return true;
}

void StationWindow::startTile(PortTile* tile)
{
    if (!mayWrite())
        return;
    tile->watch().start();
    if (m_automatic->isChecked())
        tile->watch().setAutomatic(true);
}

void StationWindow::startAll()
{
    if (m_tiles.isEmpty() || !mayWrite())
        return;
    for (PortTile* tile : std::as_const(m_tiles)) {
        if (tile->state() != PortWatch::State::Writing)
            tile->watch().start();
    }
}

void StationWindow::stopAll()
{
    // Each watch stops its own automatic; the switch says so too.
    const QSignalBlocker quiet(m_automatic);
    m_automatic->setChecked(false);
    for (PortTile* tile : std::as_const(m_tiles))
        tile->watch().stop();
    remember();
    scheduleRefresh();
}

void StationWindow::setAutomatic(bool on)
{
    if (on && refusesFirmware()) {
        if (!m_restoring)
            mayWrite();
        on = false;
    } else if (on && !(m_log && m_log->isOpen())) {
        if (!m_restoring)
            mayWrite();
        on = false;
    }
    if (m_automatic->isChecked() != on) {
        const QSignalBlocker quiet(m_automatic);
        m_automatic->setChecked(on);
    }
    for (PortTile* tile : std::as_const(m_tiles))
        tile->watch().setAutomatic(on);
    remember();
    scheduleRefresh();
}

bool StationWindow::automatic() const
{
    return m_automatic->isChecked();
}

bool StationWindow::busy() const
{
    for (const PortTile* tile : m_tiles) {
        if (tile->busy())
            return true;
    }
    return false;
}

bool StationWindow::writing() const
{
    for (const PortTile* tile : m_tiles) {
        if (tile->state() == PortWatch::State::Writing)
            return true;
    }
    return false;
}

void StationWindow::logRun(const RunReport& report)
{
    QString error;
    if ((m_log && m_log->isOpen()) && !m_log->append(logLine(report), &error))
        m_logLabel->setToolTip(
            QStringLiteral("The last run could not be added to the log: %1").arg(error));
}

void StationWindow::countRun(const RunReport& report)
{
    switch (m_tally.add(report)) {
    case PortTile::Ending::Completed:
        if (m_sound->isChecked())
            chime(1);
        break;
    case PortTile::Ending::Failed:
        if (m_sound->isChecked())
            chime(kFailureBeeps);
        break;
    case PortTile::Ending::Stopped:
        // The operator knows: they pressed Stop.
        break;
    }
    showTotal();
}

void StationWindow::showTotal()
{
    m_total->setText(
        QStringLiteral("Since the window opened: %1 completed · %2 failed · %3 stopped")
            .arg(m_tally.completed)
            .arg(m_tally.failed)
            .arg(m_tally.stopped));
}

void StationWindow::chime(int beeps)
{
    // The system's bell is the one sound every desktop has without a sound library: the number of
    // beeps, not their pitch, tells a failure from a completed radio.
    QApplication::beep();
    for (int i = 1; i < beeps; ++i)
        QTimer::singleShot(kBeepGap * i, this, [] { QApplication::beep(); });
}

void StationWindow::scheduleRefresh()
{
    if (!m_refresh->isActive())
        m_refresh->start();
}

void StationWindow::refresh()
{
    for (PortTile* tile : std::as_const(m_tiles))
        tile->refresh();
    // The firmware and the port list stay as they are while any port may write.
    const bool locked = busy();
    m_firmwareButton->setEnabled(!locked);
    m_add->setEnabled(true);
}

void StationWindow::showMessage(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.exec();
}

void StationWindow::closeEvent(QCloseEvent* event)
{
    if (writing()) {
        event->ignore();
        QApplication::beep();
        // The runs have threads of their own, so a box here holds none of them up.
        showMessage(QStringLiteral("Radios are being written: press Stop all, or wait for their "
                                   "runs to end, then close the window."),
                    QStringLiteral("NG"));
        return;
    }
    QMainWindow::closeEvent(event);
}

bool StationWindow::offer(const QString& text, const QString& action)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Run log"), text, QMessageBox::Close,
                    this);
    QPushButton* accept = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(accept);
    box.exec();
    return box.clickedButton() == accept;
}

void StationWindow::openLog()
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(logPath())))
        return;
    // Common where nothing is registered for .jsonl: the folder at least opens in a file manager.
    const QString folder = QFileInfo(logPath()).absolutePath();
    if (!offer(QStringLiteral("No program on this computer opens the run log %1.\nOpen the folder "
                              "it is in instead?")
                   .arg(QDir::toNativeSeparators(logPath())),
               QStringLiteral("Open folder")))
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        showMessage(QStringLiteral("The folder %1 could not be opened either.")
                        .arg(QDir::toNativeSeparators(folder)),
                    QStringLiteral("NG"));
}

void StationWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!busy() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void StationWindow::dropEvent(QDropEvent* event)
{
    const QString path = droppedFile(event->mimeData());
    if (busy() || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // After the drop has been answered: a modal box inside it would hold up the dragging program.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (const auto error = loadFirmwareFile(path))
                showMessage(QString::fromStdString(error->message), QStringLiteral("NG"));
        },
        Qt::QueuedConnection);
}

} // namespace tqb9
