#pragma once

#include "common/WindowShapes.h"
#include "presentation/DetailsList.h"
#include "presentation/RateScale.h"
#include "sampling/TickCollaborators.h"
#include "shell/Meter.h"
#include "shell/MeterWindow.h"
#include "ui/RateBar.h"
#include "ui/TextLabels.h"

#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

class QSystemTrayIcon;

namespace quantiro::ui {

// The meter's window: 125 x 313 pixels, frameless. Two bars with numbered scales,
// the received, sent and monthly amounts, the error marker and the options button.
// With a notification area it has no task-bar entry and hides into the tray icon;
// without one it is a normal task-bar window that minimises instead. It follows a
// notification area that comes or goes while it runs.
class MainWindow final : public QWidget,
                         public sampling::RateDisplay,
                         public shell::MeterWindow,
                         public shell::DesktopWindow {
public:
    // `trayAvailable` tells whether a notification area is there right now.
    explicit MainWindow(std::string decimalSeparator,
                        const shapes::WindowShape& shape = shapes::kFull,
                        std::function<bool()> trayAvailable = DesktopHasTray);
    static bool DesktopHasTray();
    ~MainWindow() override;

    // The core, which needs the window itself.
    void Attach(shell::Meter& meter) { m_meter = &meter; }

    // Rate display.
    void RefreshDetails(const platform::InterfaceRow& current,
                        const platform::InterfaceRow& lastSeen) override;
    void ShowErrorMarker(bool visible) override;
    void ShowRates(double download, double upload) override;
    void ShowAmounts(double received, double sent, double month) override;
    void ShowWaiting() override;
    // The details list's last row and the tray icon's tooltip.
    void ShowNetwork(const platform::Network& network,
                     const std::optional<sampling::PlanUse>& plan) override;
    // The tray icon's tooltip: the program, then the network when one is known.
    QString TrayTip() const;
    // Writes "Hide" through the meter, which tells of a failed write.
    void StoreHidden(bool hidden);

    // What the core asks of the window.
    void ApplyScale(const presentation::RateScale& scale) override;
    void MoveTo(const shell::PixelPosition& position) override;
    void ApplyFixedSize() override;
    void ShowTrayIcon() override;
    void RemoveTrayIcon() override;
    void RebuildMenu() override;
    void SetOnTop(bool onTop) override;
    bool OnTopChosen() const override { return m_onTopChosen; }
    void HideWindow() override;
    bool InTray() const override { return m_inTray; }
    void StartTimer() override;
    void Closing() override;
    void Closed() override;
    shell::PixelPosition Position() const override { return {.left = x(), .top = y()}; }

    // Opens the popup menu at the pointer and runs the picked command.
    void ShowMenu();
    // A click on the tray icon: shows a hidden window.
    void TrayClicked();
    // Another start of the meter asked for the window: without a notification
    // area it comes back as a tray click would bring it.
    void ShowOnRequest();
    // Looks again whether the notification area is there, and follows it.
    void FollowTray();

    // For the tests and the front-end.
    bool IsHidden() const { return m_hidden; }
    bool OnTop() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    // Stands above the other windows, or not, without changing the user's choice.
    void StandOnTop(bool onTop);
    const RateBar& DownloadBar() const { return *m_downloadBar; }
    const RateBar& UploadBar() const { return *m_uploadBar; }
    QString ScaleCaption(bool download, int index) const;
    QString MonthText() const { return m_month->Text(); }
    bool ErrorMarkerVisible() const { return !m_errorMarker->isHidden(); }
    const presentation::DetailsList& Details() const { return m_details; }
    QMenu& Menu() { return m_menu; }
    bool HasTrayIcon() const { return m_tray != nullptr; }
    const QTimer& Timer() const { return m_timer; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* SmallLabel(const QString& text, int left, int top, int width = 0);
    // For the figures that change as the traffic flows.
    AmountLabel* AmountText(const QString& text, int left, int top, int width);
    // In the small font, at its place in pixels.
    void Place(QWidget* label, int left, int top, int width);
    void LayOutFull();
    void LayOutSmall();
    void LayOutHorizontal();
    void ShowWindow();
    void SetTaskbarEntry(bool entry);

    std::string m_decimalSeparator;
    bool m_waiting = false; // told to wait, and no sample since
    const shapes::WindowShape& m_shape;
    shell::Meter* m_meter = nullptr;

    RateBar* m_downloadBar;
    RateBar* m_uploadBar;
    std::array<QLabel*, 10> m_downloadScale{};
    std::array<QLabel*, 10> m_uploadScale{};
    // Each shape shows some of these; the others stay null.
    AmountLabel* m_received = nullptr;
    AmountLabel* m_sent = nullptr;
    AmountLabel* m_month = nullptr;
    AmountLabel* m_downloadRate = nullptr;
    AmountLabel* m_uploadRate = nullptr;
    std::optional<std::pair<double, double>> m_shownRates; // as the rate labels show them
    std::optional<std::tuple<double, double, double>> m_shownAmounts; // as their labels show them
    QWidget* m_errorMarker;
    QToolButton* m_options;
    QMenu m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::function<bool()> m_trayAvailable;
    bool m_inTray = true;
    bool m_trayKnown = false;
    platform::Network m_network; // the tooltip's
    QTimer m_trayWatch;
    QTimer m_timer;

    presentation::DetailsList m_details;
    bool m_hidden = false;
    // What the menu's "on top" row says; a drag puts the window on top without it.
    bool m_onTopChosen = false;
    bool m_closed = false;
    QPoint m_dragOffset;
};

} // namespace quantiro::ui
