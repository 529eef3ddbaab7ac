#include "ui/MainWindow.h"

#include "presentation/AmountFormat.h"
#include "presentation/NetworkText.h"
#include "shell/MenuRows.h"
#include "ui/Icons.h"
#include "ui/QtText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QSystemTrayIcon>

namespace quantiro::ui {

namespace {

const QString kDragTip = QStringLiteral("Wciśnij prawy przycisk myszki i przesuń okno");

using namespace std::chrono_literals;

// The full window's layout, in pixels.
constexpr int kWidth = 125;
constexpr int kHeight = 313;
constexpr int kBottomTick = 208;
constexpr int kTickSpacing = 20;
constexpr int kTicks = 11;
constexpr int kDownloadTicksLeft = 4, kDownloadTicksRight = 32;
constexpr int kUploadTicksLeft = 84, kUploadTicksRight = 112;
constexpr int kBottomLabel = 192;

} // namespace

MainWindow::MainWindow(std::string decimalSeparator, const shapes::WindowShape& shape,
                       std::function<bool()> trayAvailable)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Tool)
    , m_decimalSeparator(std::move(decimalSeparator))
    , m_shape(shape)
    , m_trayAvailable(std::move(trayAvailable)) {
    setWindowTitle(QStringLiteral(" Tranfery"));
    setToolTip(kDragTip);
    setWindowIcon(MeterIcon());
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(236, 236, 236));
    setPalette(background);

    m_errorMarker = new QWidget(this);
    m_errorMarker->setAutoFillBackground(true);
    QPalette red = m_errorMarker->palette();
    red.setColor(QPalette::Window, QColor(255, 0, 0));
    m_errorMarker->setPalette(red);
    m_errorMarker->hide();
    m_downloadBar = new RateBar(this);
    m_uploadBar = new RateBar(this);
    m_options = new QToolButton(this);
    m_options->setIcon(ToolsIcon());
    m_options->setAutoRaise(true);
    if (m_shape.variant == shapes::kSmall.variant) {
        LayOutSmall();
    } else if (m_shape.variant == shapes::kHorizontal.variant) {
        LayOutHorizontal();
    } else {
        LayOutFull();
    }
    connect(m_options, &QToolButton::clicked, this, [this] { ShowMenu(); });
    // The same menu opens from the options button and from the tray icon.
    connect(&m_menu, &QMenu::triggered, this, [this](QAction* picked) {
        // Each row's action carries its command.
        if (m_meter && picked->data().isValid()) {
            m_meter->RunMenuCommand(static_cast<shell::MenuCommand>(picked->data().toInt()));
        }
    });
    // A tray host can start or stop while the meter runs (a panel restarted, an
    // extension switched on); two seconds is soon enough for a person.
    m_trayWatch.setInterval(2s);
    connect(&m_trayWatch, &QTimer::timeout, this, [this] { FollowTray(); });

    m_timer.setInterval(sampling::kTickInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_meter) {
            m_meter->OnTick();
        }
    });
    ApplyFixedSize();
}

MainWindow::~MainWindow() = default;

void MainWindow::StartTimer() {
    m_timer.start();
    // The first tick as soon as the event loop runs: it only takes the counters the
    // next one measures from, so the window fills without waiting a whole period.
    QTimer::singleShot(0, this, [this] {
        if (m_meter && m_timer.isActive()) {
            m_meter->OnTick();
        }
    });
}

void MainWindow::LayOutFull() {
    m_downloadBar->setGeometry(36, 8, 21, 201);
    m_uploadBar->setGeometry(60, 8, 21, 201);
    for (int i = 0; i < 10; ++i) {
        const int top = kBottomLabel - i * kTickSpacing;
        m_downloadScale[static_cast<std::size_t>(i)] =
            SmallLabel(QStringLiteral("100"), 4, top, 28);
        m_uploadScale[static_cast<std::size_t>(i)] = SmallLabel(QStringLiteral("100"), 84, top, 28);
    }
    SmallLabel(QStringLiteral("kBps"), 4, 212);
    SmallLabel(QStringLiteral("kBps"), 84, 212);

    m_errorMarker->setGeometry(4, 228, 109, 5);

    SmallLabel(QStringLiteral("Odeb.:"), 4, 240);
    m_received = AmountText(QStringLiteral("000 000 000"), 32, 240, 56);
    SmallLabel(QStringLiteral("Wysł.:"), 4, 252);
    m_sent = AmountText(QStringLiteral("000 000 000"), 32, 252, 56);
    SmallLabel(QStringLiteral("Transfer miesięczny:"), 4, 264, 113);
    m_month = AmountText(QStringLiteral("000 000 000"), 4, 276, 113);

    m_options->setGeometry(88, 240, 25, 21);
}

void MainWindow::LayOutSmall() {
    // A third of the full window: each rate as text over its bar, then the month.
    for (RateBar* bar : {m_downloadBar, m_uploadBar}) {
        bar->SetHorizontal(true);
    }
    m_downloadRate = AmountText({}, 4, 2, 109);
    m_downloadBar->setGeometry(4, 16, 117, 14);
    m_uploadRate = AmountText({}, 4, 34, 109);
    m_uploadBar->setGeometry(4, 48, 117, 14);
    m_errorMarker->setGeometry(4, 66, 117, 4);
    SmallLabel(QStringLiteral("Transfer miesięczny:"), 4, 72, 93);
    m_month = AmountText(QStringLiteral("000 000 000"), 4, 84, 93);
    m_options->setGeometry(99, 78, 24, 24);
}

void MainWindow::LayOutHorizontal() {
    // A strip: the bars one above the other, the three amounts beside them.
    for (RateBar* bar : {m_downloadBar, m_uploadBar}) {
        bar->SetHorizontal(true);
    }
    m_downloadBar->setGeometry(4, 6, 146, 20);
    m_uploadBar->setGeometry(4, 32, 146, 20);
    m_errorMarker->setGeometry(4, 54, 146, 3);
    SmallLabel(QStringLiteral("Odeb.:"), 156, 6);
    m_received = AmountText({}, 190, 6, 100);
    SmallLabel(QStringLiteral("Wysł.:"), 156, 22);
    m_sent = AmountText({}, 190, 22, 100);
    SmallLabel(QStringLiteral("Mies.:"), 156, 38);
    m_month = AmountText({}, 190, 38, 100);
    m_options->setGeometry(287, 32, 24, 24);
}

QLabel* MainWindow::SmallLabel(const QString& text, int left, int top, int width) {
    auto* label = new FixedTextLabel(text, this);
    label->setTextFormat(Qt::PlainText); // no rich-text check on a change
    Place(label, left, top, width);
    if (width == 0) {
        label->FitWidthWhenShown(); // as wide as its text
    }
    return label;
}

AmountLabel* MainWindow::AmountText(const QString& text, int left, int top, int width) {
    auto* label = new AmountLabel(text, this);
    Place(label, left, top, width);
    return label;
}

void MainWindow::Place(QWidget* label, int left, int top, int width) {
    QFont small = label->font();
    small.setPixelSize(9);
    label->setFont(small);
    label->move(left, top);
    label->resize(width, 12);
}

QString MainWindow::ScaleCaption(bool download, int index) const {
    return (download ? m_downloadScale : m_uploadScale).at(static_cast<std::size_t>(index))->text();
}

void MainWindow::RefreshDetails(const platform::InterfaceRow& current,
                                const platform::InterfaceRow& lastSeen) {
    m_details.Refresh(current, lastSeen);
    if (m_waiting) {
        m_waiting = false;
        setToolTip(kDragTip);
    }
}

void MainWindow::ShowWaiting() {
    m_details.ShowWaiting();
    ShowRates(0, 0);
    // The window's tip tells why nothing moves, until the next sample.
    m_waiting = true;
    setToolTip(FromUtf8(presentation::DetailsList::kWaiting));
}

void MainWindow::ShowNetwork(const platform::Network& network,
                             const std::optional<sampling::PlanUse>& plan) {
    m_details.ShowNetwork(network,
                          plan ? presentation::PlanUseText(plan->usedKb, plan->limitKb,
                                                           plan->lastDay, m_decimalSeparator)
                               : std::string());
    m_network = network;
    if (m_tray) {
        m_tray->setToolTip(TrayTip());
    }
}

QString MainWindow::TrayTip() const {
    QString tip = QStringLiteral("Zelvano");
    if (m_network.Known()) {
        tip += QStringLiteral("\nSieć: ") +
               FromUtf8(m_details.Value(presentation::DetailsList::kNetworkRow));
    }
    return tip;
}

void MainWindow::ShowErrorMarker(bool visible) {
    m_errorMarker->setVisible(visible);
}

void MainWindow::ShowRates(double download, double upload) {
    m_downloadBar->SetValue(presentation::BarValue(download, m_downloadBar->Maximum()));
    m_uploadBar->SetValue(presentation::BarValue(upload, m_uploadBar->Maximum()));
    // Only the small shape shows the rates as text; an idle line formats nothing.
    if (m_downloadRate && m_shownRates != std::pair(download, upload)) {
        m_shownRates = std::pair(download, upload);
        auto rate = [&](const char* arrow, double units) {
            QString text = QString::number(std::max(units, 0.0) / 1000, 'f', 1);
            text.replace(QLatin1Char('.'), QString::fromStdString(m_decimalSeparator));
            return QStringLiteral("%1 %2 kBps").arg(QString::fromUtf8(arrow), text);
        };
        m_downloadRate->SetText(rate("↓", download));
        m_uploadRate->SetText(rate("↑", upload));
    }
}

void MainWindow::ShowAmounts(double received, double sent, double month) {
    // An idle line formats nothing; QLabel repaints only when its text changes.
    if (m_shownAmounts == std::tuple(received, sent, month)) {
        return;
    }
    m_shownAmounts = std::tuple(received, sent, month);
    if (m_received) {
        m_received->SetText(
            QString::fromStdString(presentation::FormatAmount(received, m_decimalSeparator)));
        m_sent->SetText(
            QString::fromStdString(presentation::FormatAmount(sent, m_decimalSeparator)));
    }
    m_month->SetText(
        QString::fromStdString(presentation::FormatMonthAmount(month, m_decimalSeparator)));
}

void MainWindow::ApplyScale(const presentation::RateScale& scale) {
    m_downloadBar->SetMaximum(scale.downloadMaximum);
    m_uploadBar->SetMaximum(scale.uploadMaximum);
    for (RateBar* bar : {m_downloadBar, m_uploadBar}) {
        bar->SetFramed(true);
        bar->SetColours(QColor(224, 224, 224), QColor(255, 0, 0), QColor(0, 0, 255));
        bar->SetWarningPercent(presentation::kBarWarningPercent);
    }
    for (std::size_t i = 0; i < 10 && m_downloadScale[i]; ++i) {
        m_downloadScale[i]->setText(QString::fromStdString(scale.downloadLabels[i]));
        m_uploadScale[i]->setText(QString::fromStdString(scale.uploadLabels[i]));
    }
}

void MainWindow::MoveTo(const shell::PixelPosition& position) {
    move(position.left, position.top);
}

void MainWindow::ApplyFixedSize() {
    if (m_shape.variant == shapes::kSmall.variant) {
        setFixedSize(kWidth, kHeight / 3);
    } else if (m_shape.variant == shapes::kHorizontal.variant) {
        setFixedSize(kHeight, 60);
    } else {
        setFixedSize(kWidth, kHeight);
    }
}

bool MainWindow::DesktopHasTray() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::ShowTrayIcon() {
    FollowTray();
    m_trayWatch.start();
}

void MainWindow::FollowTray() {
    const bool available = m_trayAvailable();
    if ((m_trayKnown && available == m_inTray) || m_closed) {
        return;
    }
    m_trayKnown = true;
    m_inTray = available;
    if (!available) {
        m_tray.reset();
        SetTaskbarEntry(true);
        return;
    }
    m_tray = std::make_unique<QSystemTrayIcon>(MeterIcon());
    m_tray->setToolTip(TrayTip());
    m_tray->setContextMenu(&m_menu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
                    reason == QSystemTrayIcon::DoubleClick) {
                    TrayClicked();
                }
            });
    m_tray->show();
    SetTaskbarEntry(false);
}

void MainWindow::SetTaskbarEntry(bool entry) {
    const bool wasShown = isVisible() && !isMinimized();
    // A tool window has no task-bar entry; changing the type takes the window off
    // the screen, so it is put back as it was.
    setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | (entry ? Qt::Window : Qt::Tool));
    if (wasShown) {
        show();
    } else if (m_hidden && entry) {
        showMinimized(); // reachable from the task bar, now there is no tray icon
    }
}

void MainWindow::TrayClicked() {
    // Only a hidden window reacts; a click while it shows does nothing.
    if (!m_hidden) {
        return;
    }
    StoreHidden(false);
    ShowWindow();
}

void MainWindow::StoreHidden(bool hidden) {
    if (m_meter) {
        m_meter->StoreStartHidden(hidden); // a failure is told, never thrown
    }
}

void MainWindow::ShowOnRequest() {
    // A second start means the user looks for the window: shown as a tray click
    // would, also when it sits in the tray.
    if (m_closed) {
        return;
    }
    StoreHidden(false);
    ShowWindow();
}

void MainWindow::RemoveTrayIcon() {
    m_trayWatch.stop();
    if (m_tray) {
        m_tray->hide();
        m_tray.reset();
    }
}

void MainWindow::RebuildMenu() {
    m_menu.clear();
    for (const shell::MenuRow& row : shell::kMenuRows) {
        if (!row.command) {
            m_menu.addSeparator();
            continue;
        }
        // A checkable row with an icon shows the icon pressed in place of the check
        // mark, which many styles make hard to see: the on-top row has only the mark.
        const bool onTopRow = row.command == shell::MenuCommand::OnTop;
        QAction* action =
            m_menu.addAction(onTopRow ? QIcon() : MenuIcon(row.icon), FromUtf8(row.caption));
        action->setObjectName(FromUtf8(row.key));
        action->setData(static_cast<int>(*row.command));
        if (onTopRow) {
            action->setCheckable(true);
            action->setChecked(m_onTopChosen);
        }
    }
}

void MainWindow::ShowMenu() {
    m_menu.exec(QCursor::pos()); // the picked command runs through the menu's signal
}

void MainWindow::SetOnTop(bool onTop) {
    m_onTopChosen = onTop;
    StandOnTop(onTop);
}

void MainWindow::StandOnTop(bool onTop) {
    if (OnTop() == onTop) {
        return;
    }
    // Changing the flags takes the window off the screen; a hidden window stays
    // hidden, whatever the topmost setting.
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (!m_hidden) {
        show();
    }
}

void MainWindow::HideWindow() {
    m_hidden = true;
    if (m_inTray) {
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::ShowWindow() {
    m_hidden = false;
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
    // Brought back from the task bar: as a click on the tray icon would.
    if (event->type() == QEvent::WindowStateChange && m_hidden && !m_inTray && !isMinimized() &&
        isVisible()) {
        m_hidden = false;
        StoreHidden(false);
    }
    QWidget::changeEvent(event);
}

void MainWindow::Closing() {
    m_timer.stop();
    // The exit's steps wait two seconds; the user sees the program gone at once.
    // Hidden windows keep their positions, which the exit stores.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        window->hide();
    }
    QGuiApplication::sync();
}

void MainWindow::Closed() {
    m_closed = true;
    hide();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window manager's close is the user's: it only hides the window. The meter
    // ends through its close owner, never through a window close.
    event->ignore();
    if (!m_closed && m_meter) {
        m_meter->OnUserClose();
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    // The left button alone drags; the window runs along the top of the screen and
    // goes into the topmost band, whatever the menu's check mark says.
    if (event->buttons() != Qt::LeftButton || !isVisible()) {
        return;
    }
    move(event->globalPosition().toPoint().x() - m_dragOffset.x(), 0);
    StandOnTop(true);
}

void MainWindow::paintEvent(QPaintEvent*) {
    if (m_shape.variant != shapes::kFull.variant) {
        return; // only the full window has scales; the background is the palette's
    }
    QPainter painter(this);
    painter.fillRect(0, 0, 117, 237, QColor(236, 236, 236));
    painter.setPen(QColor(64, 64, 64));
    for (int i = 0; i < kTicks; ++i) {
        const int y = kBottomTick - i * kTickSpacing;
        painter.drawLine(kDownloadTicksLeft, y, kDownloadTicksRight, y);
        painter.drawLine(kUploadTicksLeft, y, kUploadTicksRight, y);
    }
}

} // namespace quantiro::ui
