#pragma once

#include "platform/Registry.h"
#include "sampling/DetailsList.h"
#include "sampling/RateScale.h"
#include "sampling/TickCollaborators.h"
#include "shell/Meter.h"
#include "shell/MeterWindow.h"
#include "ui/RateBar.h"

#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <memory>

class QSystemTrayIcon;

namespace quantiro::ui {

inline constexpr double kTwipsPerPixel = 15;

// The meter's window: 125 x 313 pixels, frameless, with no task-bar entry. Two bars
// with numbered scales, the received, sent and monthly amounts, the error marker
// and the options button; it lives in the notification area when hidden.
class MainWindow final : public QWidget, public sampling::RateDisplay, public shell::MeterWindow {
public:
    MainWindow(platform::RegistrySettings& settings, std::string decimalSeparator);
    ~MainWindow() override;

    // The core, which needs the window itself.
    void Attach(shell::Meter& meter) { m_meter = &meter; }

    // Rate display.
    void RefreshDetails(const platform::InterfaceRow& current,
                        const platform::InterfaceRow& lastSeen) override;
    void ShowErrorMarker(bool visible) override;
    void ShowRates(double download, double upload) override;
    void ShowAmounts(double received, double sent, double month) override;

    // What the core asks of the window.
    void ApplyScale(const sampling::RateScale& scale) override;
    void RestorePosition() override;
    void ApplyFixedSize() override;
    void ShowTrayIcon() override;
    void RemoveTrayIcon() override;
    void RebuildMenu() override;
    void SetOnTop(bool onTop) override;
    void HideWindow() override;
    void StartTimer() override { m_timer.start(); }
    void Closing() override { m_timer.stop(); }
    void Closed() override;
    double LeftTwips() override { return x() * kTwipsPerPixel; }
    double TopTwips() override { return y() * kTwipsPerPixel; }

    // Opens the popup menu at the pointer and runs the picked command.
    void ShowMenu();
    // A click on the tray icon: shows a hidden window.
    void TrayClicked();

    // For the tests and the front-end.
    bool IsHidden() const { return m_hidden; }
    bool OnTop() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    const RateBar& DownloadBar() const { return *m_downloadBar; }
    const RateBar& UploadBar() const { return *m_uploadBar; }
    QString ScaleCaption(bool download, int index) const;
    QString ReceivedText() const { return m_received->text(); }
    QString SentText() const { return m_sent->text(); }
    QString MonthText() const { return m_month->text(); }
    bool ErrorMarkerVisible() const { return !m_errorMarker->isHidden(); }
    const sampling::DetailsList& Details() const { return m_details; }
    QMenu& Menu() { return m_menu; }
    const QTimer& Timer() const { return m_timer; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* SmallLabel(const QString& text, int leftTwips, int topTwips, int widthTwips = 0);
    void ShowWindow();

    platform::RegistrySettings& m_settings;
    std::string m_decimalSeparator;
    shell::Meter* m_meter = nullptr;

    RateBar* m_downloadBar;
    RateBar* m_uploadBar;
    std::array<QLabel*, 10> m_downloadScale{};
    std::array<QLabel*, 10> m_uploadScale{};
    QLabel* m_received;
    QLabel* m_sent;
    QLabel* m_month;
    QWidget* m_errorMarker;
    QToolButton* m_options;
    QMenu m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QTimer m_timer;

    sampling::DetailsList m_details;
    bool m_hidden = false;
    bool m_closed = false;
    QPoint m_dragOffset;
};

} // namespace quantiro::ui
