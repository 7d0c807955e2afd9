#include "ui/frmmain.h"

#include "ui/droppedfile.h"
#include "ui/wording.h"

#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolTip>

namespace tqb9 {
namespace {

constexpr int px(int twips)
{
    return twips / frmMain::kTwipsPerPixel;
}

QRect twips(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

// Point sizes of the design at the 96 dots per inch its 15 twips to the pixel stand for. Fonts
// are set in the same pixels as the geometry, so text keeps its place at any screen setting.
constexpr int kStartPixels = 29; // 21.75 pt
constexpr int kLabelPixels = 19; // 14.25 pt
constexpr int kSmallestPixels = 8;

bool fits(const QFont& font, const QString& text, QSize box)
{
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(text) <= box.width() &&
           metrics.tightBoundingRect(text).height() <= box.height();
}

} // namespace

QStringList preferredFamilies()
{
    return {
        QStringLiteral("ＭＳ Ｐゴシック"),
        QStringLiteral("MS PGothic"),
        // Proportional Japanese gothics of free systems.
        QStringLiteral("IPAPGothic"),
        QStringLiteral("VL PGothic"),
        QStringLiteral("Noto Sans CJK JP"),
        // Latin faces close to its narrow, plain letters.
        QStringLiteral("Arial"),
        QStringLiteral("Liberation Sans"),
        QStringLiteral("Helvetica"),
        QStringLiteral("Nimbus Sans"),
        QStringLiteral("DejaVu Sans"),
    };
}

QFont fittingFont(int pixelSize, const QString& text, QSize box)
{
    QFont font = QApplication::font();
    for (const QString& family : preferredFamilies()) {
        if (QFontDatabase::hasFamily(family)) {
            font.setFamily(family);
            break;
        }
    }
    font.setWeight(QFont::Normal);
    font.setPixelSize(pixelSize);
    // A stand-in face may be wider than the designed one; a smaller size of it beats clipped text.
    while (font.pixelSize() > kSmallestPixels && !fits(font, text, box))
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("TQ-B9 ver E5.000"));
    // The window has one size, so it offers no maximise button; that leaves the narrow title
    // bar more room for the caption.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Creation order is stacking order, as the design has it.
    m_bar = new QProgressBar(client);
    m_bar->setObjectName(QStringLiteral("bar"));
    m_bar->setGeometry(twips(120, 1320, 2175, 255));
    m_bar->setRange(0xC000, 0xFFFF);
    m_bar->setValue(m_bar->minimum());
    m_bar->setTextVisible(false);
    m_bar->hide();

    m_cmdZumil = new QPushButton(QStringLiteral("Start"), client);
    m_cmdZumil->setObjectName(QStringLiteral("cmdZumil"));
    m_cmdZumil->setGeometry(twips(480, 720, 1455, 495));
    {
        const int frame =
            2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, m_cmdZumil);
        const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, m_cmdZumil);
        const QSize inside = m_cmdZumil->size() - QSize(frame + margin, frame);
        m_cmdZumil->setFont(fittingFont(kStartPixels, m_cmdZumil->text(), inside));
    }
    connect(m_cmdZumil, &QPushButton::clicked, this, &frmMain::cmdZumil_Click);
    m_cmdZumil->installEventFilter(this);

    m_label1 = new QLabel(QStringLiteral("Ver E5.000"), client);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twips(600, 240, 1455, 375));
    m_label1->setFont(fittingFont(kLabelPixels, m_label1->text(), m_label1->size()));

    m_line1 = new QFrame(client);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Plain);
    m_line1->setLineWidth(1);
    // Both end points are part of the line.
    m_line1->setGeometry(QRect(QPoint(px(120), 0), QPoint(px(2280), 0)));

    m_mnuSetting = menuBar()->addMenu(QStringLiteral("COM"));
    m_mnuSetting->setObjectName(QStringLiteral("mnuSetting"));
    m_mnuPort = m_mnuSetting->addMenu(QStringLiteral("COM port"));
    m_mnuPort->setObjectName(QStringLiteral("mnuPort"));
    // The status bar is not part of the window, so the device shows as a tool tip as well.
    m_mnuPort->setToolTipsVisible(true);
    for (int index = 1; index <= PortMenu::kItems; ++index) {
        QAction* item = m_mnuPort->addAction(QStringLiteral("COM%1").arg(index));
        item->setObjectName(QStringLiteral("mnuCom%1").arg(index));
        item->setCheckable(true);
        // The engine decides the marks: a click asks it and the item shows whatever it says.
        connect(item, &QAction::triggered, this, [this, index] { mnuCom_Click(index); });
        m_mnuCom[static_cast<std::size_t>(index)] = item;
    }
    connect(m_mnuPort, &QMenu::aboutToShow, this, &frmMain::describePorts);

    connect(&m_menu, &PortMenu::checksChanged, this, &frmMain::mirrorChecks);
    mirrorChecks();

    setAcceptDrops(true);
}

frmMain::~frmMain() = default;

QAction* frmMain::mnuCom(int index) const
{
    if (index < 1 || index > PortMenu::kItems)
        return nullptr;
    return m_mnuCom[static_cast<std::size_t>(index)];
}

void frmMain::Form_Load()
{
    m_menu.mnuCom_Click(1);
    setFirmware(Firmware::builtIn());
}

std::optional<FirmwareFileError> frmMain::loadFirmwareFile(const QString& path)
{
    if (m_running)
        return FirmwareFileError{FirmwareFileError::Kind::Invalid,
                                 path.toStdString() + ": not loaded: a run is in progress"};
    auto loaded = Firmware::fromFile(path);
    if (auto* error = std::get_if<FirmwareFileError>(&loaded))
        return std::move(*error);
    setFirmware(std::get<Firmware>(std::move(loaded)));
    return std::nullopt;
}

bool frmMain::setFirmware(Firmware firmware)
{
    if (m_running)
        return false;
    m_firmware = std::move(firmware);
    showFirmware();
    return true;
}

void frmMain::showFirmware()
{
    const FirmwareInfo& firmware = m_firmware.info();
    QString caption = QStringLiteral("TQ-B9 ver %1").arg(firmware.version);
    QString label = QStringLiteral("Ver %1").arg(firmware.version);
    if (firmware.source == FirmwareInfo::Source::File) {
        label = QFileInfo(firmware.path).fileName();
        caption = QStringLiteral("TQ-B9 - %1").arg(label);
    }
    // Seen before Start is pressed, without hovering: the label is the first thing read.
    QPalette palette = m_label1->palette();
    if (firmware.testImage) {
        caption += QStringLiteral(" (test image)");
        label = QStringLiteral("TEST IMAGE");
        palette.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
    } else {
        palette.setColor(QPalette::WindowText,
                         QApplication::palette(m_label1).color(QPalette::WindowText));
    }
    setWindowTitle(caption);
    m_label1->setPalette(palette);
    m_label1->setText(label);
    m_label1->setToolTip(firmware.sourceText());
    m_label1->setFont(fittingFont(kLabelPixels, label, m_label1->size()));
}

std::int16_t frmMain::GetCOM()
{
    return m_menu.GetCOM();
}

void frmMain::mnuCom_Click(int index)
{
    m_menu.mnuCom_Click(index);
}

void frmMain::mirrorChecks()
{
    for (int index = 1; index <= PortMenu::kItems; ++index)
        mnuCom(index)->setChecked(m_menu.isChecked(index));
    for (auto item = m_mnuAbove.cbegin(); item != m_mnuAbove.cend(); ++item)
        item.value()->setChecked(m_menu.isChecked(item.key()));
}

void frmMain::showPortsAbove(QList<int> numbers)
{
    // The checked port stays listed while its adapter is unplugged: the mark is what Start opens.
    const int checked = m_menu.GetCOM();
    if (checked > PortMenu::kItems && m_menu.isChecked(checked) && !numbers.contains(checked))
        numbers.append(checked);
    std::sort(numbers.begin(), numbers.end());
    qDeleteAll(m_mnuAbove);
    m_mnuAbove.clear();
    delete m_aboveSeparator;
    m_aboveSeparator = nullptr;
    if (numbers.isEmpty())
        return;
    m_aboveSeparator = m_mnuPort->addSeparator();
    for (const int number : std::as_const(numbers)) {
        QAction* item = m_mnuPort->addAction(QStringLiteral("COM%1").arg(number));
        item->setObjectName(QStringLiteral("mnuCom%1").arg(number));
        item->setCheckable(true);
        item->setChecked(m_menu.isChecked(number));
        connect(item, &QAction::triggered, this, [this, number] { mnuCom_Click(number); });
        m_mnuAbove.insert(number, item);
    }
}

void frmMain::describePorts()
{
    const auto describe = [](QAction* item, int index, PortMap::Port port) {
        if (port.bound)
            port.description = QStringLiteral("bound with --com");
        QString tip;
        if (port.device.isEmpty())
            tip = QStringLiteral("COM%1: no serial port").arg(index);
        else if (port.description.isEmpty())
            tip = QStringLiteral("COM%1: %2").arg(index).arg(port.device);
        else
            tip = QStringLiteral("COM%1: %2 (%3)").arg(index).arg(port.device, port.description);
        item->setStatusTip(tip);
        item->setToolTip(tip);
    };
    const QList<PortMap::Port> ports = m_ports.allPorts();
    for (int index = 1; index <= PortMenu::kItems; ++index)
        describe(mnuCom(index), index, ports.at(index - 1));
    showPortsAbove(PortMap::portsAboveMenu());
    for (auto item = m_mnuAbove.cbegin(); item != m_mnuAbove.cend(); ++item)
        describe(item.value(), item.key(), m_ports.portFor(item.key()));
}

void frmMain::cmdZumil_Click()
{
    if (m_running)
        return;
    // The engine would refuse it too; refused here, the bar does not even appear.
    if (!m_firmware.mayBeWritten(m_allowTestFirmware)) {
        report(Outcome::TestImageRefused);
        return;
    }
    m_running = true;
    m_cmdZumil->setEnabled(false);
    m_bar->setValue(m_bar->minimum());
    m_bar->setVisible(true);

    // The device is looked up once, here: the whole run stays on it whatever the menu says.
    const int com = GetCOM();
    Run::Setup setup;
    setup.port = QStringLiteral("COM%1").arg(com);
    setup.comPort = com;
    if (const QString device = m_ports.deviceFor(com); !device.isEmpty())
        setup.bindings = {{com, device}};
    setup.firmware = m_firmware;
    setup.allowTestFirmware = m_allowTestFirmware;
    setup.replyWindow = m_replyWindow;
    Run::Events events;
    events.barValue = [this](int row) {
        m_bar->setValue(row);
    };
    m_run = std::make_unique<Run>(std::move(setup), std::move(events));
    if (const auto failed = m_run->query())
        report(*failed);
    else
        cmdMacro_Click(2);

    // Only now: the box above was modal, and the operator saw the bar where the run left it.
    m_bar->setVisible(false);
    m_cmdZumil->setEnabled(true);
    m_running = false;
}

void frmMain::cmdMacro_Click(std::int16_t index)
{
    // The other sequences belong to the service panel, which the operator cannot reach.
    if (index != 2 || !m_run || !m_running)
        return;
    report(m_run->programming());
}

void frmMain::report(const RunReport& report)
{
    const QStringList advice = windowAdvice(report);
    m_lastReport = report;
    this->report(report.outcome, advice.join(QLatin1Char('\n')));
}

void frmMain::report(Outcome outcome, const QString& informative)
{
    constexpr int kOkOnly = 0;
    constexpr int kExclamation = 48;
    const bool completed = outcome == Outcome::Completed;
    showMessage(windowMessage(outcome), completed ? kOkOnly : kExclamation,
                completed ? QStringLiteral("OK") : QStringLiteral("NG"), informative);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_cmdZumil && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_cmdZumil->isEnabled()) {
            m_cmdZumil->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::showMessage(const QString& text, int style, const QString& title,
                          const QString& informative)
{
    QMessageBox box(style == 48 ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, this);
    box.setInformativeText(informative);
    box.exec();
}

void frmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_running && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmMain::dropEvent(QDropEvent* event)
{
    const QString path = droppedFile(event->mimeData());
    // During a run the flasher is reading the image: a drop then is refused, not queued.
    if (m_running || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // After the drop has been answered: a modal box inside it would hold up the dragging program.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (m_running)
                return;
            if (const auto error = loadFirmwareFile(path))
                showMessage(QString::fromStdString(error->message), 48, QStringLiteral("NG"));
        },
        Qt::QueuedConnection);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        event->ignore();
        QApplication::beep();
        showCloseRefused(closeRefusedText());
        return;
    }
    QMainWindow::closeEvent(event);
}

void frmMain::showCloseRefused(const QString& why)
{
    // A tip, not a box: a modal box would hold up the run's wait until it was closed.
    constexpr int kShownMs = 8000;
    QToolTip::showText(mapToGlobal(rect().center()), why, this, rect(), kShownMs);
}

} // namespace tqb9
