#pragma once

#include "platform/Tray.h"
#include "platform/Windows.h"
#include "sampling/TickCollaborators.h"
#include "shell/MeterWindow.h"

namespace quantiro::testing {

// A window that is not there: the core's calls into it do nothing.
struct NoWindow final : shell::MeterWindow,
                        sampling::RateDisplay,
                        platform::WindowPlacement,
                        platform::TrayIcon {
    void ApplyScale(const sampling::RateScale&) override {}
    void FillInterfacePicker(const std::vector<std::string>&) override {}
    void SetPosition() override {}
    void SetFormSize() override {}
    void MoveFormToTray() override {}
    void CreateMenu() override {}
    void SetFormOnTop() override {}
    void SetFormNotOnTop() override {}
    void HideWindow() override {}
    void EnableTimer(bool) override {}
    void CloseFromCode() override {}
    void RefreshDetails(const ifstats::CInterface&, const ifstats::CInterface&) override {}
    void ShowErrorMarker(bool visible) override { errorMarker = visible; }
    void ShowRates(double, double) override {}
    void ShowAmounts(double, double, double) override {}
    double LeftTwips() override { return 0; }
    double TopTwips() override { return 0; }
    void Remove() override {}
    bool errorMarker = false;
};

} // namespace quantiro::testing
